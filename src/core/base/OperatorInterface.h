#pragma once

#include <memory>
#include <string>
#include <utility>

#include "base/FileDialogRequest.h"
#include "base/LogSink.h"

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

// The basic calls every operation may make of the person at the screen. The GUI shows real
// dialogs, the tests answer from a script, the command line answers from its options. The
// dialogs of a subsystem are in its own interface (link/LinkDialogs.h, curves/CurveDialogs.h,
// calgen/CalGenDialogs.h, logging/LoggingDialogs.h, calibration/CalibrationDialogs.h), each a
// virtual extension of this one.
class OperatorInterface {
public:
    virtual ~OperatorInterface() = default;

    virtual void ShowMessage(const std::string& text, MessageIcon icon) = 0;
    virtual bool AskYesNo(const std::string& text, MessageIcon icon) = 0;

    // A modeless progress window; never null (a front end without windows returns a silent one).
    virtual std::unique_ptr<ProgressWindow> OpenProgress() = 0;
    // Lets pending window messages run while a long exchange waits.
    virtual void PumpMessages() = 0;

    // File choices: the full path of the chosen file.
    virtual DialogResult<std::string> AskOpenFile(const FileDialogRequest& request) = 0;
    virtual DialogResult<std::string> AskSaveFile(const FileDialogRequest& request) = 0;
};

// A progress window that shows nothing.
class SilentProgress : public ProgressWindow {
public:
    void SetMessage(const std::string&) override {}
    void SetRange(int, int) override {}
    void SetPos(int) override {}
    void Close() override {}
};

}  // namespace tavrix
