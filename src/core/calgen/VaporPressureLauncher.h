#pragma once

#include <string>

#include "base/OperatorInterface.h"

namespace tavrix {

// What the "Vapor Pressure" button needs from the desktop: top-level windows by title and
// starting a program. The GUI implements it with the process it started.
class DesktopPrograms {
public:
    enum StartResult : int { kStarted = 0, kProgramNotFound = 1, kStartFailed = 2 };

    virtual ~DesktopPrograms() = default;
    // Posts a close request to the top-level window with exactly this title; false when there
    // is none.
    virtual bool RequestCloseWindow(const std::string& title) = 0;
    // Starts `commandLine` found by the usual search, without waiting for it.
    virtual StartResult StartProgram(const std::string& commandLine) = 0;
};

// The "Vapor Pressure" button of the three reference-point dialogs: toggles the sibling
// calculator program, and closes its second window when the dialog is cancelled.
class VaporPressureLauncher {
public:
    static constexpr const char* kCommandLine = "Zudid Ezurerar Edividirer.exe";
    static constexpr const char* kMainWindowTitle = "Zudid Ezurerar Edividirer";
    static constexpr const char* kSecondWindowTitle = "Dazidoz Irari Dudiruzoza";
    static constexpr const char* kNotFoundMessage = "Cannot find Zudid Ezurerar Edividirer";
    static constexpr const char* kFailedMessage = "Cannot launch Zudid Ezurerar Edividirer";

    enum Action : int { kClosedRunning = 0, kStartedNew = 1, kNotFound = -1, kFailed = -2 };

    VaporPressureLauncher(DesktopPrograms& desktop, OperatorInterface& op)
        : desktop_(desktop), op_(op) {}

    // The button: a running calculator is asked to close; otherwise one is started, and a
    // failure to start is shown. The dialog stays open either way.
    Action Press();
    // Cancel of a reference-point dialog, before it closes. OK leaves the calculator running.
    void OnDialogCancel();

private:
    DesktopPrograms& desktop_;
    OperatorInterface& op_;
};

}  // namespace tavrix
