#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "calgen/ReferencePoints.h"
#include "curves/CurveDialogModels.h"

namespace tavrix {

enum class MessageIcon { None, Stop, Exclamation, Information, Question };

// The modeless transfer progress window: one message line and a bar.
class ProgressWindow {
public:
    virtual ~ProgressWindow() = default;
    virtual void SetMessage(const std::string& text) = 0;
    virtual void SetRange(int low, int high) = 0;
    virtual void SetPos(int pos) = 0;
    // Closing twice is harmless; destruction closes too.
    virtual void Close() = 0;
};

// What a modal dialog gave back: the operator's value, a cancel, or no dialog at all.
enum class DialogOutcome { Ok, Cancel, CouldNotCreate };

template <typename T>
struct DialogResult {
    DialogOutcome outcome = DialogOutcome::Cancel;
    T value{};
    bool Ok() const { return outcome == DialogOutcome::Ok; }
    static DialogResult Accept(T v) { return {DialogOutcome::Ok, std::move(v)}; }
    static DialogResult Cancelled() { return {DialogOutcome::Cancel, T{}}; }
    static DialogResult Failed() { return {DialogOutcome::CouldNotCreate, T{}}; }
};

struct SerialSetupChoice {
    int commPortIndex = 1;  // 0..3 = COM1..COM4
    int baudIndex = 0;      // 0..7 = 115200 .. 1200
};

struct IpAddressChoice {
    uint32_t address = 0;  // first octet in the most significant byte
    unsigned long port = 0;
};

// Options of the open/save file dialogs.
enum FileDialogOption : unsigned {
    kFileMustExist = 1u << 0,
    kHideReadOnly = 1u << 1,
    kOverwritePrompt = 1u << 2,
};

// An open or save file dialog: the filter text as "label|patterns|label|patterns||" (patterns
// separated by ";"), the extension added to a name typed without one, the options and the
// name the dialog starts with.
struct FileDialogRequest {
    std::string filter;
    std::string defaultExtension;
    unsigned options = 0;
    std::string initialName;

    struct FilterEntry {
        std::string label;
        std::vector<std::string> patterns;
    };
    // The filter text split into its entries, in order.
    std::vector<FilterEntry> FilterEntries() const;
};

// Everything an operation needs from the person at the screen. The GUI shows real dialogs,
// the tests answer from a script, the command line answers from its options.
class OperatorInterface {
public:
    virtual ~OperatorInterface() = default;

    virtual void ShowMessage(const std::string& text, MessageIcon icon) = 0;
    virtual bool AskYesNo(const std::string& text, MessageIcon icon) = 0;

    // A modeless progress window; never null (a front end without windows returns a silent one).
    virtual std::unique_ptr<ProgressWindow> OpenProgress() = 0;
    // Lets pending window messages run while a long exchange waits.
    virtual void PumpMessages() {}

    // Reference-point dialogs of curve generation, opened with the given values; OK gives the
    // values entered (each within the dialog's limits).
    virtual DialogResult<OnePointValues> AskOnePoint(const OnePointValues& preset) {
        return DialogResult<OnePointValues>::Cancelled();
    }
    virtual DialogResult<TwoPointsValues> AskTwoPoints(const TwoPointsValues& preset) {
        return DialogResult<TwoPointsValues>::Cancelled();
    }
    virtual DialogResult<ThreePointsValues> AskThreePoints(const ThreePointsValues& preset) {
        return DialogResult<ThreePointsValues>::Cancelled();
    }

    // Communication dialogs. Each is preset with the given value.
    virtual DialogResult<SerialSetupChoice> AskSerialSetup(const SerialSetupChoice& preset) = 0;
    virtual DialogResult<int> AskPortType(int current) = 0;
    virtual DialogResult<int> AskGpibAddress(int current) = 0;
    virtual DialogResult<IpAddressChoice> AskIpAddress(const IpAddressChoice& preset) = 0;

    // File choices: the full path of the chosen file.
    virtual DialogResult<std::string> AskOpenFile(const FileDialogRequest& request) {
        return DialogResult<std::string>::Cancelled();
    }
    virtual DialogResult<std::string> AskSaveFile(const FileDialogRequest& request) {
        return DialogResult<std::string>::Cancelled();
    }
    // Curve dialogs. The header editor is handed a prepared model (Open() already applied)
    // and gives it back as edited after "Accept"; the chooser gives back the chosen number in
    // `number`; the PID table number request is preset with `preset`.
    virtual DialogResult<CurveHeaderEdit> EditCurveHeader(const CurveHeaderEdit& header) {
        return DialogResult<CurveHeaderEdit>::Cancelled();
    }
    virtual DialogResult<UserCurveChoice> ChooseUserCurve(const UserCurveChoice& choice) {
        return DialogResult<UserCurveChoice>::Cancelled();
    }
    virtual DialogResult<int> AskPidTableNumber(int preset) {
        return DialogResult<int>::Cancelled();
    }
};

// A progress window that shows nothing.
class SilentProgress : public ProgressWindow {
public:
    void SetMessage(const std::string&) override {}
    void SetRange(int, int) override {}
    void SetPos(int) override {}
    void Close() override {}
};

// Receives the lines an operation adds to the view's message log (each ends in "\n").
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void Append(const std::string& text) = 0;
};

}  // namespace tavrix
