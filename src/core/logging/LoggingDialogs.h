#pragma once

#include <array>
#include <functional>
#include <string>

#include "base/OperatorInterface.h"
#include "logging/LogSources.h"

namespace tavrix {

namespace logging_texts {
inline constexpr const char* kSetupTitle = "Data Logging Setup Dialog";
inline constexpr const char* kProgressTitle = "Data Logging in progress Message";
inline constexpr const char* kSelectSource = "Please make channel selection as data source.";
inline constexpr const char* kEnterANumber = "Enter a number.";
inline constexpr const char* kIntervalRange = "Enter a number between 0.1 and 120000.";
inline constexpr const char* kFileTextTooLong = "Enter no more than 100 characters.";
}  // namespace logging_texts

// The rules of the setup dialog (CDataLogSetup): sixteen check boxes with their mask bits,
// enable flags set by the caller, "Select All", the interval field and Start.
class DataLogSetupModel {
public:
    static constexpr double kIntervalLow = 0.1;
    static constexpr double kIntervalHigh = 120000.0;
    static constexpr double kDefaultInterval = 30.0;
    static constexpr int kSelectAllId = 1193;
    static constexpr int kIntervalId = 1068;
    static constexpr int kApplyId = 1165;

    LogSourceMask mask = 0;
    std::array<int, kLogSourceCount> enabled{};
    double interval = 30.0;

    // Enable flags by the capability record.
    void EnableFrom(const FeatureManager& features);
    bool Checked(int index) const {
        return (mask & kLogSources[static_cast<size_t>(index)].maskBit) != 0;
    }
    // A click on a box toggles its bit.
    void Toggle(int index);
    // Sets the bit of every enabled source; clears nothing.
    void SelectAll();
    // The interval field's text: "" when accepted (and stored), else the message to show.
    static std::string CheckInterval(const std::string& text, double& out);
    std::string Apply(const std::string& intervalText);
    // Start: "" and the dialog closes, or the message to show (the dialog stays open).
    std::string Start(const std::string& intervalText);
    // The text the interval field starts with: every digit the value holds, so that Start
    // stores what was stored before.
    std::string IntervalText() const;
    // The interval kept under [LOG] INTERVAL: a number the field would accept, else 30 s
    // (a zero, negative or unreadable value would leave the monitor thread without a pause).
    static double StoredInterval(const std::string& text);
};

// The rules of the progress window (CDataLoggingInProcMessage): labels packed per group into
// slots 1-8, 9-12 and 13-16, interval, file and entries texts.
class LoggingProgressModel {
public:
    static constexpr size_t kFileTextMax = 100;
    static constexpr std::array<int, kLogSourceCount> kSlotIds = {
        1075, 1076, 1077, 1078, 1079, 1080, 1084, 1085,
        1086, 1087, 1088, 1089, 1090, 1091, 1092, 1093};
    static constexpr int kIntervalId = 1081, kFileId = 1082, kEntriesId = 1083;

    std::array<std::string, kLogSourceCount> labels;
    std::string intervalText, fileText, entriesText;

    void ClearLabels() { labels.fill({}); }
    // Puts the source's label into the next free slot of its group; false when the group is full.
    bool AddLabel(int sourceIndex);
    // Reading the fields back on Stop: "" or the message of a failed check.
    std::string CheckFields() const;
};

// The progress window as the engine sees it. Its Stop action reads the fields back (a failed
// check keeps the window open with its message), then always calls the stop handler.
class LoggingProgressWindow {
public:
    virtual ~LoggingProgressWindow() = default;
    // The engine fills the model, then shows or refreshes.
    virtual LoggingProgressModel& Model() = 0;
    virtual void Show() = 0;
    virtual void Refresh() = 0;
    // The Stop button, pressed by the operator or by the engine.
    virtual void PressStop() = 0;
    // Runs WM_LOG_STOP; set by whoever owns the engine.
    std::function<void()> onStop;
};

// The logging setup dialog. The interval comes back whatever the outcome (an applied value
// survives a Cancel); a front end that cannot show the dialog answers CouldNotCreate.
class LoggingDialogs : public virtual OperatorInterface {
public:
    virtual DialogResult<DataLogSetupModel> AskLogSetup(const DataLogSetupModel& preset) = 0;
};

// A progress window without a screen (command line, tests): the same model and Stop rules.
class HeadlessProgressWindow : public LoggingProgressWindow {
public:
    LoggingProgressModel& Model() override { return model_; }
    void Show() override { visible = true; }
    void Refresh() override { ++refreshes; }
    void PressStop() override;
    bool visible = false;
    int refreshes = 0;
    std::string lastCheckMessage;
    std::function<void(const std::string&)> showMessage;

private:
    LoggingProgressModel model_;
};

}  // namespace tavrix
