#include "calgen/VaporPressureLauncher.h"

namespace tavrix {

VaporPressureLauncher::Action VaporPressureLauncher::Press() {
    if (desktop_.RequestCloseWindow(kMainWindowTitle)) return kClosedRunning;
    switch (desktop_.StartProgram(kCommandLine)) {
        case DesktopPrograms::kStarted:
            return kStartedNew;
        case DesktopPrograms::kProgramNotFound:
            op_.ShowMessage(kNotFoundMessage, MessageIcon::Stop);
            return kNotFound;
        default:
            op_.ShowMessage(kFailedMessage, MessageIcon::Stop);
            return kFailed;
    }
}

void VaporPressureLauncher::OnDialogCancel() {
    desktop_.RequestCloseWindow(kSecondWindowTitle);
}

}  // namespace tavrix
