#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "engine/SimEngine.h"
#include "engine/SimModels.h"
#include "engine/SimParser.h"

namespace tavrix::sim {

struct SimInput {
    std::string name;
    char unit = 'K';           // K, C, F or S (sensor units)
    double baseK = 4.2;        // where the stage settles with no heat
    double temperature = 4.2;  // kelvin
    int curve = 1;             // sensor curve index
    std::string vbias = "10MV";
    std::string brange = "10K";
};

struct SimLoop {
    std::string name;
    double setpoint = 0.0;
    int range = 0;        // 0 off, 1 low, 2 medium, 3 high
    double output = 0.0;  // percent
};

struct SimCurvePoint {
    double sensor = 0.0;
    double kelvin = 0.0;
};

struct SimCurve {
    std::string name;
    std::string type = "Diode";
    double multiplier = 1.0;
    std::string unit = "Volts";
    std::vector<SimCurvePoint> points;
};

struct SimPidTable {
    std::string title;
    std::vector<std::string> entries;  // as received, validated
};

// Gains and offsets of one measuring range on one channel; "saved" is what survives leaving
// calibration mode without a save.
struct SimCalEntry {
    double gain = 1.0, offset = 0.0;
    double savedGain = 1.0, savedOffset = 0.0;
};

// The calibration ranges a channel can be switched to, with the value a standard on that range
// typically reads (used when no standard was set with SIM:APPLY).
struct SimCalRange {
    const char* name;
    double nominal;
};
inline constexpr SimCalRange kCalRanges[] = {
    {"V10UA", 1.9},     {"I10UA", 1.0},   {"R1mA", 100.0},      {"R100UA", 1000.0},
    {"R10UA", 10000.0}, {"NTC10UA", 1.0}, {"ACR10K", 100000.0}, {"ACR1K", 10000.0},
    {"ACR100", 1000.0}, {"ACR10", 100.0},
};
inline constexpr int kCalRangeCount = static_cast<int>(sizeof(kCalRanges) / sizeof(kCalRanges[0]));

// Result of one command of a line.
struct CommandResult {
    bool hasReply = false;
    std::string reply;
    bool isTable = false;
    std::vector<std::string> table;  // without the closing ";"
    bool beginsInput = false;        // the lines after this one are table data
};

// Everything the instrument remembers, plus the machinery that answers commands. Guarded by
// the engine's mutex.
class InstrumentState {
public:
    static constexpr int kUserCurveFirst = 61;
    static constexpr int kUserCurveCount = 8;
    static constexpr int kStandardCurveCount = 40;
    static constexpr int kMaxCurvePoints = 200;
    static constexpr int kMaxPidEntries = 16;
    static constexpr int kMaxPidTable = 99;
    static constexpr int kLogEverySeconds = 5;
    static constexpr size_t kLogCapacity = 500;

    InstrumentState(SimOptions options, SimFaults& faults);

    // Simulated time moves one second per received line so that runs are repeatable.
    void AdvanceSeconds(int seconds);
    CommandResult Dispatch(const SimCommand& cmd);

    // Table input started by "CALC n" or "PIDT n:TABLE": returns false when the line is refused.
    bool InputLine(const std::string& line);
    bool InInputMode() const { return inputKind_ != InputKind::None; }

    // Random bytes for the garbage fault (NULs included, never LF).
    std::string RandomBytes(size_t count);
    double Uniform();  // [0, 1) from the seeded generator

    const ModelInfo& Model() const { return model_; }

    // Hooks for tests and training through "SIM:" lines.
    void ApplyStandard(int channel, double value);

    std::vector<std::string> received;

private:
    enum class InputKind { None, Curve, Pid };

    CommandResult Root(const SimCommand& c);
    CommandResult Input(const SimCommand& c, const std::string& which);
    CommandResult Loop(const SimCommand& c, const std::string& which);
    CommandResult Inst(const SimCommand& c, const std::string& which);
    CommandResult Pidt(const SimCommand& c, const std::string& which);
    CommandResult SensorIx(const SimCommand& c, const std::string& which);
    CommandResult DLog(const SimCommand& c);
    CommandResult Syst(const SimCommand& c);

    std::string Identity() const;
    std::string IdentityDefinition() const;
    int ChannelIndex(const std::string& text) const;      // -1 when the model has no such input
    int LoopIndex(const std::string& text) const;         // -1 when the model has no such loop
    SimCurve* CurveFor(int sensorIndex);                  // user or standard curve, or null
    int UserCurveFromCalc(const std::string& arg) const;  // 61..68, or 0
    std::vector<std::string> CurveLines(const SimCurve& c) const;
    std::string TemperatureText(const SimInput& in) const;
    double CalibratedReading(int channel);
    void Tick();
    void LogRecord();
    void InitCurves();
    void InitPidTables();

    SimOptions options_;
    SimFaults& faults_;
    ModelInfo model_;
    std::mt19937 rng_;
    long long seconds_ = 0;

    std::vector<SimInput> inputs_;
    std::vector<SimLoop> loops_;
    std::array<SimCurve, kUserCurveCount> userCurves_;
    std::vector<SimCurve> standardCurves_;  // index 1..kStandardCurveCount at [i-1]
    std::vector<SimPidTable> pidTables_;    // index 1..kMaxPidTable at [i-1]

    bool logOn_ = true;
    long long logNumber_ = 0;
    std::vector<std::string> logRecords_;

    bool calMode_ = false;
    bool settled_ = false;            // readings stay quiet after a reseed
    std::string password_ = "CALIB";  // at most 10 characters
    std::vector<int> calRange_;       // per channel, index into kCalRanges
    std::vector<SimCalEntry> cal_;    // kCalRangeCount x channels
    std::vector<double> applied_;     // standard on each channel; < 0 means the range nominal

    InputKind inputKind_ = InputKind::None;
    int inputTarget_ = 0;
    int inputLineNo_ = 0;
    SimCurve inputCurve_;
    SimPidTable inputPid_;
};

}  // namespace tavrix::sim
