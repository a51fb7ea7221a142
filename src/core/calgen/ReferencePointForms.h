#pragma once

#include <functional>
#include <string>
#include <vector>

#include "calgen/ReferencePoints.h"

namespace tavrix {

// The rules of a dialog whose edits hold limited floats: the text each edit shows when the
// dialog opens, and the test of every edit on OK. A Qt dialog binds its edits to the control
// ids and shows the message of a refused edit.
class LimitedFloatForm {
public:
    struct Edit {
        int controlId;
        float low;
        float high;
        float* member;
    };

    // How the platform shows a float in an edit (six significant digits).
    static std::string FloatText(float value);
    // One edit's test on OK: 0 and `out` set, or -1 with "Enter a number." or "Enter a number
    // between %1 and %2." (limits inclusive) in `message`.
    static int ParseLimited(const std::string& text, float low, float high, float& out,
                            std::string& message);

    // The edit of a control; nullptr for another control.
    const Edit* FindEdit(int controlId) const;
    // Text for the edit of `controlId` from its member ("" for an unknown control).
    std::string EditText(int controlId) const;
    // OK: the edits are tested in exchange order; members are stored as they pass. Returns 0
    // when every edit passed, else the control id of the first refused edit (the dialog stays
    // open on it) with the message to show.
    int Accept(const std::function<std::string(int controlId)>& textOf, std::string& message);
    const std::vector<Edit>& Edits() const { return edits_; }

protected:
    LimitedFloatForm() = default;
    LimitedFloatForm(const LimitedFloatForm&) = delete;
    LimitedFloatForm& operator=(const LimitedFloatForm&) = delete;
    ~LimitedFloatForm() = default;

    std::vector<Edit> edits_;
};

// Dialog 141 "Enter a single reference point".
class OnePointForm : public LimitedFloatForm {
public:
    static constexpr const char* kTitle = "Enter a single reference point";
    static constexpr int kReadingEdit = 1018, kTemperatureEdit = 1019, kPromptText = 1020;
    static constexpr int kVaporPressureButton = 1140;

    explicit OnePointForm(const OnePointValues& preset);
    OnePointValues values;
};

// Dialog 142 "Enter two reference points".
class TwoPointsForm : public LimitedFloatForm {
public:
    static constexpr const char* kTitle = "Enter two reference points";
    static constexpr int kSecondTemperatureEdit = 1018, kSecondReadingEdit = 1019;
    static constexpr int kFirstTemperatureEdit = 1022, kFirstReadingEdit = 1023;
    static constexpr int kSecondUnitText = 1024, kFirstUnitText = 1025;
    static constexpr int kFirstPromptText = 1026, kSecondPromptText = 1027;
    static constexpr int kFirstLabelText = 1028, kSecondLabelText = 1029;
    static constexpr int kVaporPressureButton = 1141;  // not a tab stop

    explicit TwoPointsForm(const TwoPointsValues& preset);
    // The text of a static control ("" for another control).
    std::string StaticText(int controlId) const;
    TwoPointsValues values;
};

// Dialog 143 "Enter three reference points".
class ThreePointsForm : public LimitedFloatForm {
public:
    static constexpr const char* kTitle = "Enter three reference points";
    static constexpr int kLowTemperatureEdit = 1018, kLowReadingEdit = 1024;
    static constexpr int kMiddleTemperatureEdit = 1019, kMiddleReadingEdit = 1023;
    static constexpr int kHighTemperatureEdit = 1020, kHighReadingEdit = 1021;
    static constexpr int kVaporPressureButton = 1140;
    // Fixed texts above the rows, low to high.
    static constexpr const char* kRowPrompts[3] = {"Enter a reference point close to 4.2K",
                                                   "Enter a reference point close to 77K",
                                                   "Enter a reference point close to 300K"};

    explicit ThreePointsForm(const ThreePointsValues& preset);
    ThreePointsValues values;
};

// Labels shared by the reference-point dialogs.
inline constexpr const char* kTemperatureLabel = "Temperature:";
inline constexpr const char* kVoltageLabel = "Voltage:";
inline constexpr const char* kVaporPressureText = "Vapor Pressure";

}  // namespace tavrix
