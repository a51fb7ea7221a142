#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/OperatorInterface.h"
#include "calibration/CalibSteps.h"

namespace tavrix {

class CInstrumentLink;

// One exchange with the instrument: 0 on success; `reply` (null for a command) gets the line.
using CalibTransact = std::function<int(const std::string& command, std::string* reply)>;

// What the calibration works through: the exchange, and the model-code query of identification
// (true when it succeeded, with the code).
struct CalibExchange {
    CalibTransact transact;
    std::function<bool(int& modelCode)> identify;
};
// The exchanges over the instrument link.
CalibExchange CalibExchangeOver(CInstrumentLink& link);

// One entry per step and channel.
struct CalibData {
    int status = 0;  // 0 Current, 1 Edited, 2 Calibrated
    double gain = 1.0;
    double offset = 0.0;
    // Whether `gain` and `offset` hold a value at all: one read from the instrument, typed by
    // the operator or computed. An entry the retrieval did not reach holds neither.
    bool hasGain = false, hasOffset = false;
    // False when the retrieval did not read this entry.
    bool retrieved = false;
    // What the instrument uses for this range as far as the program knows: the values last read
    // from it or written into it and read back. A new gain and offset are computed from these,
    // never from values on the page that the instrument does not have.
    bool inInstrument = false;
    double instrumentGain = 1.0, instrumentOffset = 0.0;
};

// What the calibration's type and input commands change on one input, read before the first of
// them is sent so that it can be put back.
struct CalibInputSettings {
    bool saved = false;
    bool changed = false;  // a type or input command went to this channel since it was saved
    std::string type, unit, sensor, vbias, brange;
};

enum CaptureState : int { kCapturingUpper = 0, kCapturingLower = 1, kCaptureIdle = 2 };
enum CaptureTimerId : int { kLowerCaptureTimer = 200, kUpperCaptureTimer = 201 };

// The capture timers of the pages: a QTimer in the dialog, a hand-driven fake in tests.
class CaptureTimers {
public:
    virtual ~CaptureTimers() = default;
    // Starts (or restarts) the timer of a page; false when no timer could be had.
    virtual bool Start(int page, int timerId, int intervalMs) = 0;
    virtual void Stop(int page, int timerId) = 0;
};

// The state of one page (one step) as its controls show it.
struct CalibPage {
    int stepIndex = 0;
    std::string currentStepText, totalStepsText;
    std::string title, tabName, upperPrompt, lowerPrompt;
    double upperTarget = 0.0, lowerTarget = 0.0;
    std::string capturedUpperText, capturedLowerText;
    double gain = 1.0, offset = 0.0;
    bool hasGain = false, hasOffset = false;  // an empty field when false
    bool notRead = false;                     // the instrument's values of this range are unknown
    int status = 0;
    double capturedUpper = 0.0, capturedLower = 0.0;
    int captureState = kCaptureIdle;
    int captureTimer = 0;  // the running timer's id, or 0
    int ticks = 0, phase = 0;
    int totalTicks = 0;  // every tick of this capture, whatever the phase
    double reading = 0.0, previousReading = 0.0;
    bool sent = false;
    bool opened = false;

    // Controls.
    bool upperCaptureEnabled = true, lowerCaptureEnabled = true;
    bool upperAbortEnabled = false, lowerAbortEnabled = false;
    bool calibrateEnabled = false, lowerTargetEnabled = true;
    bool waitCursor = false;
    bool capturingDialogShown = false;

    bool Idle() const { return captureState == kCaptureIdle; }
    // The status text; "Not read" for an unmodified range whose values were never read.
    const char* StatusText() const;
};

// The calibration dialog's logic: the entries of every step and channel, the pages of the
// sheet, the channel shown, and every exchange the dialog makes. The dialog binds its controls
// to it and redraws a page when told it changed.
class CalibSession {
public:
    static constexpr int kCaptureIntervalMs = 1000;
    static constexpr int kCaptureTickLimit = 60;
    // A capture that never gets a reading it can use (the phase keeps going back to 0) is
    // stopped after this many ticks as a failed one.
    static constexpr int kCaptureTotalTickLimit = 600;
    static constexpr double kStableRatio = 0.0001;
    static constexpr double kReadBackTolerance = 0.0001;
    static constexpr double kGainMin = 0.9, kGainMax = 1.2;

    CalibSession(CalibExchange exchange, OperatorInterface& op);

    // `RetrieveCalibration`: model code, step table, entries, every gain and offset. false when
    // the model code could not be read (nothing else happens then) or a later exchange failed
    // ("Failed to retrieve calibration data" shown); the pages are built in every case where
    // the model has steps.
    bool Retrieve();
    // The first part of the retrieval alone: model code, step table, entries and pages, with
    // nothing read from the instrument beyond the model code.
    bool Prepare();
    int ModelCode() const { return modelCode_; }
    bool HasSteps() const { return stepCount_ > 0; }
    int StepCount() const { return stepCount_; }
    int ChannelCount() const { return channels_; }
    const CalibStep& Step(int s) const { return table_[s]; }
    const std::vector<CalibData>& Entries() const { return entries_; }
    const CalibData& Entry(int step, int channel) const {
        return entries_[static_cast<size_t>(step * channels_ + channel)];
    }
    // The channel list's texts: "A", "B", ...
    std::vector<std::string> ChannelNames() const;

    // Dialog opening: channel 0 loaded into the pages.
    void Open(CaptureTimers& timers);
    int CurrentChannel() const { return channel_; }
    char ChannelLetter() const { return static_cast<char>('A' + channel_); }
    void SelectChannel(int channel);

    const CalibPage& Page(int i) const { return pages_[static_cast<size_t>(i)]; }
    int ActivePage() const { return active_; }
    // A page becomes the active one (first opening rules, then `ConfigurePageInput`).
    void ActivatePage(int i);
    // `ConfigurePageInput` alone: 0 when the whole sequence went through.
    int ConfigurePageInput(int i);

    // "Capture" / "Abort" / a timer tick of page i.
    void StartCapture(int i, int state);
    void AbortCapture(int i);
    void OnTimer(int i, int timerId);
    bool CaptureBusy() const { return captureBusy_ != 0; }
    const CalibExchange& Exchange() const { return exchange_; }

    // Leaving an edit with the text it holds. false when the value was refused (message shown;
    // the edit shows the page's value again).
    enum class Field { UpperTarget, LowerTarget, Gain, Offset };
    bool LeaveField(int i, Field field, const std::string& text);
    bool LeaveUpperTarget(int i, const std::string& text) {
        return LeaveField(i, Field::UpperTarget, text);
    }
    bool LeaveLowerTarget(int i, const std::string& text) {
        return LeaveField(i, Field::LowerTarget, text);
    }
    bool LeaveGain(int i, const std::string& text) { return LeaveField(i, Field::Gain, text); }
    bool LeaveOffset(int i, const std::string& text) { return LeaveField(i, Field::Offset, text); }
    // Gain and offset given in one go (the command line): the gain within the field's limits;
    // the page is "Edited" afterwards whatever it held.
    bool EnterValues(int i, double gain, double offset);

    // "Calibrate": `ComputeGainOffset`. true when the page took new values.
    bool ComputeGainOffset(int i);
    // "APPLY": `ApplyCalibration` of the active page.
    void ApplyCalibration();
    // The sequence that writes page i into the instrument: 0 on success.
    int SendPage(int i);
    // The "%lf" text a gain or offset is sent in.
    static std::string SentText(double value);

    // Puts every input that a type or input command reached back to the unit and settings it
    // had before: 0 when all are back (or none was touched). Otherwise the operator is told
    // which inputs are not.
    int RestoreInputs();
    const CalibInputSettings& InputSettings(int channel) const {
        return inputs_[static_cast<size_t>(channel)];
    }

    // "Cancel" or closing: true when the dialog may close (asks when data is not saved).
    bool ConfirmQuit();
    bool AnyUnsaved() const;
    // The dialog goes away: every capture timer stops, without messages.
    void Close();

    // Told whenever a page's values or controls changed (the dialog redraws it).
    std::function<void(int page)> pageChanged;
    // Lets waiting window messages run during the retrieval.
    std::function<void()> pumpMessages;

    // Shown as the dialog's WM_CALIB_MESSAGE: an error or an information box.
    void Message(const std::string& text, bool error);

private:
    int Transact(const std::string& command, std::string* reply);
    // Reads channel c's settings unless they are held already; 0 when they are.
    int SaveInput(int c);
    int ReadInputSettings(char letter, CalibInputSettings& out);
    // The type or input command of a step for channel c; the channel counts as changed.
    int SendStepCommand(const std::string& line, int c);
    int CaptureExchange(const std::string& command, std::string* reply);
    void LoadChannel(int c);
    void StoreChannel();
    void EndCapture(int i, double value);
    void StopCapture(int i);
    void CaptureFailed(int i);
    void Changed(int i);
    CalibPage& P(int i) { return pages_[static_cast<size_t>(i)]; }
    CalibData& E(int step, int channel) {
        return entries_[static_cast<size_t>(step * channels_ + channel)];
    }

    CalibExchange exchange_;
    OperatorInterface& op_;
    CaptureTimers* timers_ = nullptr;
    int modelCode_ = 0;
    const CalibStep* table_ = nullptr;
    int stepCount_ = 0;
    int channels_ = 0;
    std::vector<CalibData> entries_;
    std::vector<CalibPage> pages_;
    std::vector<CalibInputSettings> inputs_;
    int channel_ = 0;
    int active_ = 0;
    bool activated_ = false;  // a page has been made the active one
    // Set just around each capture exchange: a tick that comes while one runs does nothing.
    int captureBusy_ = 0;
};

// Puts the inputs back when a calibration command ends, whichever way it ends.
class CalibInputsRestorer {
public:
    explicit CalibInputsRestorer(CalibSession& session) : session_(session) {}
    ~CalibInputsRestorer() {
        if (armed_) session_.RestoreInputs();
    }
    // Restores now (once): 0 when every input is back.
    int Now() {
        armed_ = false;
        return session_.RestoreInputs();
    }
    CalibInputsRestorer(const CalibInputsRestorer&) = delete;
    CalibInputsRestorer& operator=(const CalibInputsRestorer&) = delete;

private:
    CalibSession& session_;
    bool armed_ = true;
};

}  // namespace tavrix
