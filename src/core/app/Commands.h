#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavrix {

// Command identifiers of the menu and the view.
enum CommandId : int {
    ID_RS232_SETUP = 32773,
    ID_CURVE_DOWNLOAD = 32776,
    ID_CURVE_UPLOAD = 32777,
    ID_PID_DOWNLOAD = 32778,
    ID_PID_UPLOAD = 32779,
    ID_CALGEN_PLATINUM = 32781,
    ID_CALGEN_DIODE_300K = 32782,
    ID_CALGEN_DIODE_2PT = 32783,
    ID_CALGEN_DIODE_3PT = 32784,
    ID_CALGEN_DIODE_4K = 32785,
    ID_MONITOR_A = 32786,
    ID_MONITOR_B = 32787,
    ID_MONITOR_C = 32788,
    ID_MONITOR_D = 32789,
    ID_INTERACT = 32791,
    ID_LOG_START = 32794,
    ID_PORT_SELECT = 32798,
    ID_HELP = 32800,
    ID_DATALOG_UPLOAD = 32805,
    ID_CONNECT = 32806,
    ID_SHORTCUT = 32807,
    ID_CURVE_CONVERT = 32808,
    ID_CALIBRATION = 32809,
    ID_MONITOR_E = 32814,
    ID_MONITOR_F = 32815,
    ID_MONITOR_G = 32817,
    ID_MONITOR_H = 32818,
    ID_COMMAND_FILE = 32819,
    ID_MONITOR_HEATER1 = 32820,
    ID_MONITOR_HEATER2 = 32822,
    ID_MONITOR_ANALOG1 = 32823,
    ID_MONITOR_ANALOG2 = 32826,
    ID_LOG_OPEN = 32830,
    ID_LOG_KEEP_GOING = 32831,
    ID_SHARE = 32840,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_VIEW_STATUS_BAR = 59393,
};

// Monitor windows in view order: inputs A..H, heater 1, heater 2, analog 1, analog 2.
inline constexpr int kMonitorCount = 12;
inline constexpr int kMonitorCommands[kMonitorCount] = {
    ID_MONITOR_A,       ID_MONITOR_B,       ID_MONITOR_C,       ID_MONITOR_D,
    ID_MONITOR_E,       ID_MONITOR_F,       ID_MONITOR_G,       ID_MONITOR_H,
    ID_MONITOR_HEATER1, ID_MONITOR_HEATER2, ID_MONITOR_ANALOG1, ID_MONITOR_ANALOG2};
// Index 0..11 of a monitor command, or -1.
int MonitorIndexOfCommand(int id);

// User messages posted or sent to the view.
inline constexpr int WM_USER = 0x400;
inline constexpr int WM_MONITOR_READING = WM_USER + 1004;  // + monitor index 0..11
inline constexpr int WM_LOG_STOP = WM_USER + 1021;
inline constexpr int WM_LOG_COMM_ERROR = WM_USER + 1022;
inline constexpr int WM_LOG_SAMPLED = WM_USER + 1023;
inline constexpr int WM_TERMINAL_COMMAND = WM_USER + 1024;
inline constexpr int WM_CALGEN_REQUEST = WM_USER + 1026;
inline constexpr int WM_SHORTCUT_CURVE_DOWNLOAD = WM_USER + 1027;
inline constexpr int WM_SHORTCUT_PID_DOWNLOAD = WM_USER + 1028;
inline constexpr int WM_SHORTCUT_INTERACT = WM_USER + 1029;
inline constexpr int WM_SHORTCUT_DATA_LOGGING = WM_USER + 1030;
inline constexpr int WM_SHORTCUT_CONNECT = WM_USER + 1031;
inline constexpr int WM_SHORTCUT_DATALOG_UPLOAD = WM_USER + 1032;
inline constexpr int WM_LINK_LOST = WM_USER + 1035;

// One entry of the menu bar: a popup (id 0, with children) or a command.
struct MenuEntry {
    std::string text;
    int id = 0;                       // 0 for a popup or a separator
    std::vector<MenuEntry> children;  // a popup's items
    std::string shortcut;             // a key sequence in portable text, e.g. "Ctrl+Shift+K"
    bool separator = false;
    // A checkable item bound to a setting: checked while [checkSection] checkKey is "1"; the
    // command turns it over.
    const char* checkSection = nullptr;
    const char* checkKey = nullptr;
};

// The menu bar, in order.
const std::vector<MenuEntry>& MenuBar();
// The status-bar prompt of a command ("" when it has none).
std::string CommandPrompt(int id);
// A short name of the operation behind a command, for messages.
std::string CommandName(int id);

}  // namespace tavrix
