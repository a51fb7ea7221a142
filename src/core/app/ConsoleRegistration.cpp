#include "app/ConsoleRegistration.h"

#include <string>

#include "app/ViewHub.h"
#include "consoles/CommandFileRunner.h"
#include "consoles/Terminal.h"

namespace tavrix {

void RegisterConsoleCommands(ViewHub& hub) {
    hub.RegisterMessage(WM_TERMINAL_COMMAND, [&hub](intptr_t w, intptr_t) -> intptr_t {
        const auto* text = reinterpret_cast<const std::string*>(w);
        if (text) HandleTerminalCommand(hub.Context(), *text);
        return 0;
    });
    hub.RegisterOperation(ID_COMMAND_FILE, [&hub] {
        CommandFileOptions options;
        options.fallbackFolder = hub.Settings().Folder();
        options.nameErrorLogPath = true;  // the operator sees where to look
        RunCommandFile(hub.Context(), options);
    });
}

}  // namespace tavrix
