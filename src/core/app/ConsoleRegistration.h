#pragma once

namespace tavrix {

class ViewHub;

// Plugs the terminal's WM_TERMINAL_COMMAND (wParam: the address of the line, a std::string)
// and "Send Command File" into the hub.
void RegisterConsoleCommands(ViewHub& hub);

}  // namespace tavrix
