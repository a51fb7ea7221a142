#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tavrix {

// The rules of the strip chart window (CStripChart): the last N readings with their time
// labels, automatic scaling that only widens, manual scaling from two 7-character fields.
// The window binds its controls to this and redraws when a call asks it to.
class StripChartModel {
public:
    static constexpr int kDefaultPoints = 20;
    static constexpr int kMonitorPoints = 100;
    static constexpr size_t kFieldChars = 7;
    static constexpr double kFieldLow = -273.0;
    static constexpr double kFieldHigh = 1000.0;
    static constexpr size_t kTitleMax = 50;

    // What the window must do after a change.
    enum class Redraw { None, AppendPoint, Rebuild };

    explicit StripChartModel(int points = kDefaultPoints);

    // Resizes to N places, all 0 with empty labels (the view sets 100 for a monitor); no
    // reading is taken yet.
    void SetPointCount(int n);
    int PointCount() const { return static_cast<int>(values_.size()); }
    // How many of the N places hold a reading taken since creation or the last "Clear": the
    // last Taken() places. The chart draws only these; places never filled are not zeros.
    int Taken() const { return taken_; }
    // Index of the oldest taken place (PointCount() when none is taken).
    int FirstTaken() const { return PointCount() - taken_; }

    // A new reading: the oldest is dropped and the new one goes to the end. In automatic mode
    // the first reading of a fresh chart sets both ends of the scale from itself (a channel at
    // 77 K is drawn between 69.3 and 84.7, not from 0); later ones only widen it.
    Redraw AddReading(float value, std::string timeLabel);

    // Max = 1.1x for x > 0, 0.9x for x < 0, 0 for 0; Min = 0.9x, 1.1x, 0.
    static double MaxFrom(double x);
    static double MinFrom(double x);

    // "Auto": leaves manual mode and widens the scale to the readings taken (places never
    // filled do not count); the fields and Apply are disabled. Always rebuilds.
    Redraw Auto();
    // "Manual": the fields and Apply are enabled.
    void Manual() { manual_ = true; }
    bool IsManual() const { return manual_; }
    bool FieldsEnabled() const { return manual_; }

    // "Apply" or Enter with the texts of the Min and Max fields. On a text that is not a
    // number, one out of -273..1000, or Min not below Max, `message` is the error-icon text to
    // show and the scale stays as it was.
    struct ApplyOutcome {
        Redraw redraw = Redraw::None;
        std::string message;
    };
    ApplyOutcome Apply(const std::string& minText, const std::string& maxText);

    // "Clear": all values 0, all labels empty, no reading taken; in automatic mode the next
    // reading starts the scale afresh.
    Redraw Clear();

    // What a field keeps of typed text: digits and "." only, at most 7 characters (the caret
    // then goes to the end).
    static std::string FilterFieldText(std::string_view typed);
    // The text a field shows for a value: "%.15g", cut to 7 characters.
    static std::string FieldText(double value);
    std::string MaxFieldText() const { return FieldText(max_); }
    std::string MinFieldText() const { return FieldText(min_); }

    double Max() const { return max_; }
    double Min() const { return min_; }
    const std::vector<float>& Values() const { return values_; }
    const std::vector<std::string>& Labels() const { return labels_; }

    void SetName(std::string name) { name_ = std::move(name); }
    void SetUnit(std::string unit) { unit_ = std::move(unit); }
    const std::string& Name() const { return name_; }
    const std::string& Unit() const { return unit_; }
    // Chart title (the source name, at most 50 characters), value-axis and time-axis titles.
    // The value axis names what is measured with its unit: "Temperature (K)" for a reading in
    // K, C or F, otherwise the source's own name and unit ("Heater 1 (%)", "Stage (S)").
    std::string Title() const { return name_.substr(0, kTitleMax); }
    std::string ValueAxisTitle() const;
    static constexpr const char* kTimeAxisTitle = "Time";

    // The value axis as drawn: Min to Max, or a range around the single value when the scale
    // has no width yet (a fresh chart, or readings of exactly 0).
    struct AxisRange {
        double low = 0.0;
        double high = 1.0;
    };
    AxisRange ShownRange() const;

    // Round, evenly spaced marks for an axis from `low` to `high`: a step of 1, 2, 2.5 or 5
    // times a power of ten giving at most `maxIntervals` steps over the range, the marks at
    // whole multiples of the step inside it, and texts with as many decimals as the step needs.
    struct Ticks {
        double step = 0.0;
        int decimals = 0;
        std::vector<double> values;
        std::vector<std::string> texts;
    };
    static Ticks NiceTicks(double low, double high, int maxIntervals = 8);

private:
    double max_ = 0.0;
    double min_ = 0.0;
    std::string name_, unit_;
    std::vector<float> values_;
    std::vector<std::string> labels_;
    int taken_ = 0;
    bool manual_ = false;
};

namespace strip_chart_texts {
inline constexpr const char* kTitle = "Strip Chart";
inline constexpr const char* kMinNotBelowMax = "Max value must be bigger than the min value";
inline constexpr const char* kEnterANumber = "Enter a number.";
inline constexpr const char* kEnterNumberInRange = "Enter a number between -273 and 1000.";
inline constexpr const char* kNullChartHandle = "NULL Chart handle";
inline constexpr const char* kNullDataBuffers = "NULL Data buffer pointers";
}  // namespace strip_chart_texts

}  // namespace tavrix
