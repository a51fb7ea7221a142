#include "app/Commands.h"

namespace tavrix {

int MonitorIndexOfCommand(int id) {
    for (int i = 0; i < kMonitorCount; ++i)
        if (kMonitorCommands[i] == id) return i;
    return -1;
}

const std::vector<MenuEntry>& MenuBar() {
    static const std::vector<MenuEntry> bar = {
        {"&User Options",
         0,
         {
             {"&Shortcut", ID_SHORTCUT},
             {"Instrument &Calibration...", ID_CALIBRATION, {}, "Ctrl+Shift+K"},
             {"", 0, {}, "", true},
             {"E&xit", ID_APP_EXIT, {}, "Ctrl+Q"},
         }},
        {"&Comm",
         0,
         {
             {"&Connect", ID_CONNECT},
             {"&Port Select...", ID_PORT_SELECT},
             {"&RS232 Set Up...", ID_RS232_SETUP},
             {"", 0, {}, "", true},
             {"&Interact", ID_INTERACT},
             {"Send Command File", ID_COMMAND_FILE},
             {"", 0, {}, "", true},
             {"S&hare Instrument...", ID_SHARE},
         }},
        {"&Operations",
         0,
         {
             {"Sensor Curve",
              0,
              {{"&Download", ID_CURVE_DOWNLOAD},
               {"&Upload", ID_CURVE_UPLOAD},
               {"&Convert", ID_CURVE_CONVERT}}},
             {"PID Table", 0, {{"&Download", ID_PID_DOWNLOAD}, {"&Upload", ID_PID_UPLOAD}}},
             {"CalGen",
              0,
              {{"&Diode",
                0,
                {{"1 Point (300K)", ID_CALGEN_DIODE_300K},
                 {"1 Point (4.2K)", ID_CALGEN_DIODE_4K},
                 {"2 Points", ID_CALGEN_DIODE_2PT},
                 {"3 Points", ID_CALGEN_DIODE_3PT}}},
               {"&Platinum", ID_CALGEN_PLATINUM}}},
         }},
        {"&Data Logging",
         0,
         {{"&Start", ID_LOG_START},
          {"&Upload Internal DataLog", ID_DATALOG_UPLOAD},
          {"&Open Data Log...", ID_LOG_OPEN},
          {"", 0, {}, "", true},
          {"Keep Logging Through Communication Losses",
           ID_LOG_KEEP_GOING,
           {},
           "",
           false,
           "LOG",
           "KEEPGOING"}}},
        {"&View",
         0,
         {
             {"CH A Monitor", ID_MONITOR_A},
             {"CH B Monitor", ID_MONITOR_B},
             {"CH C Monitor", ID_MONITOR_C},
             {"CH D Monitor", ID_MONITOR_D},
             {"CH E Monitor", ID_MONITOR_E},
             {"CH F Monitor", ID_MONITOR_F},
             {"CH G Monitor", ID_MONITOR_G},
             {"CH H Monitor", ID_MONITOR_H},
             {"Heater 1  Monitor", ID_MONITOR_HEATER1},
             {"Heater 2 Monitor", ID_MONITOR_HEATER2},
             {"Analog 1 Monitor", ID_MONITOR_ANALOG1},
             {"Analog 2 Monitor", ID_MONITOR_ANALOG2},
             {"", 0, {}, "", true},
             {"&Status Bar", ID_VIEW_STATUS_BAR},
         }},
        {"&Help", 0, {{"&Help Topics", ID_HELP, {}, "F1"}, {"&About ..", ID_APP_ABOUT}}},
    };
    return bar;
}

std::string CommandPrompt(int id) {
    switch (id) {
        case ID_RS232_SETUP:
            return "Setup serial port";
        case ID_CURVE_DOWNLOAD:
            return "Download calibration table into controller ";
        case ID_CURVE_UPLOAD:
            return "Upload calibration table from controller";
        case ID_PID_DOWNLOAD:
            return "Download PID table into controller ";
        case ID_PID_UPLOAD:
            return "Upload PID table from controller";
        case ID_CALGEN_PLATINUM:
            return "Modify platinum sensor curve";
        case ID_CALGEN_DIODE_300K:
            return "Modify diode sensor curve at 300K";
        case ID_CALGEN_DIODE_2PT:
            return "Modify diode sensor at 2 points on the curve";
        case ID_CALGEN_DIODE_3PT:
            return "Modify diode sensor at 3 points on the curve";
        case ID_CALGEN_DIODE_4K:
            return "Modify diode sensor curve at 4.2K";
        case ID_INTERACT:
            return "Serial terminal for entering controller commands";
        case ID_LOG_START:
            return "Start the data logging process";
        case ID_PORT_SELECT:
            return "Select RS232, USB, GPIB or LAN ";
        case ID_HELP:
            return "Read Help file";
        case ID_DATALOG_UPLOAD:
            return "Upload data logged in device";
        case ID_LOG_OPEN:
            return "Open a data log file and plot it";
        case ID_LOG_KEEP_GOING:
            return "Keep logging when communication is lost, and reconnect";
        case ID_CONNECT:
            return "Click this command to establish communication with target ";
        case ID_SHORTCUT:
            return "Launch shortcut bar";
        case ID_CURVE_CONVERT:
            return "Convert a text based sensor curve to Tavrix CRV file";
        case ID_CALIBRATION:
            return "Perform instrument calibration";
        case ID_COMMAND_FILE:
            return "Send a XML formatted command file";
        case ID_SHARE:
            return "Let other programs reach the instrument over TCP, and serve its readings";
        default:
            break;
    }
    const int monitor = MonitorIndexOfCommand(id);
    if (monitor >= 0 && monitor < 8)
        return std::string("Channel ") + static_cast<char>('A' + monitor) +
               " temperature monitor at Datalogging time interval";
    if (monitor == 8 || monitor == 9) return "Heater output monitor at Datalogging time interval";
    if (monitor == 10 || monitor == 11) return "Analog output monitor at Datalogging time interval";
    return "";
}

std::string CommandName(int id) {
    switch (id) {
        case ID_CURVE_DOWNLOAD:
            return "Sensor curve download";
        case ID_CURVE_UPLOAD:
            return "Sensor curve upload";
        case ID_CURVE_CONVERT:
            return "Sensor curve conversion";
        case ID_PID_DOWNLOAD:
            return "PID table download";
        case ID_PID_UPLOAD:
            return "PID table upload";
        case ID_CALGEN_PLATINUM:
            return "Platinum curve generation";
        case ID_CALGEN_DIODE_300K:
            return "Diode curve generation at 300K";
        case ID_CALGEN_DIODE_4K:
            return "Diode curve generation at 4.2K";
        case ID_CALGEN_DIODE_2PT:
            return "Diode curve generation from 2 points";
        case ID_CALGEN_DIODE_3PT:
            return "Diode curve generation from 3 points";
        case ID_INTERACT:
            return "The serial terminal";
        case ID_COMMAND_FILE:
            return "The command file runner";
        case ID_LOG_START:
            return "Data logging";
        case ID_DATALOG_UPLOAD:
            return "The internal data log upload";
        case ID_CALIBRATION:
            return "Instrument calibration";
        case ID_SHARE:
            return "Sharing the instrument";
        default:
            return "This operation";
    }
}

}  // namespace tavrix
