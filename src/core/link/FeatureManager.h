#pragma once

#include <atomic>

#include "base/ShortcutBar.h"

namespace tavrix {

// The capability record of the identified instrument model.
class FeatureManager {
public:
    enum Family : int { kNoInstrument = 0, kMonitor = 1, kController = 2 };

    struct Row {
        int modelCode;  // 0 for the row of every unknown code
        int family;
        int inputCount;
        int loopCount;
        int identified;
        int calibrationOffered;
        bool pidTableButton;
        bool datalogUploadButton;
    };
    // The row a model code selects (an unknown code gives the no-instrument row).
    static const Row& RowFor(int modelCode);

    explicit FeatureManager(ShortcutBar* bar = nullptr) : bar_(bar) {}

    void Update(int modelCode);
    // Takes a row as it stands; Update takes the row of a model code. A bench or a test may
    // describe a profile no model has (every input and every loop, say).
    void Apply(const Row& row);
    void Reset();

    int InputCount() const { return inputCount_; }
    int LoopCount() const { return loopCount_; }
    int GetFamily() const { return family_; }

    bool AnyInstrument() const { return family_ != kNoInstrument; }
    bool InputsCDPresent() const {
        return family_ != kNoInstrument && (inputCount_ == 4 || inputCount_ == 8);
    }
    bool InputsEHPresent() const { return family_ != kNoInstrument && inputCount_ == 8; }
    bool HeatersPresent() const { return family_ == kController; }
    bool Analog1Present() const {
        return family_ == kController && (loopCount_ == 3 || loopCount_ == 4);
    }
    bool Analog2Present() const { return family_ == kController && loopCount_ == 4; }
    bool Identified() const { return identified_ == 1; }
    bool CalibrationOffered() const { return calibrationOffered_ != 0; }

private:
    ShortcutBar* bar_;
    std::atomic<int> inputCount_{0};
    std::atomic<int> loopCount_{0};
    std::atomic<int> family_{0};
    std::atomic<int> identified_{0};
    std::atomic<int> calibrationOffered_{0};
};

}  // namespace tavrix
