#pragma once

// Texts of the string table shared by several operations.
namespace tavrix::texts {
inline constexpr const char* kCommunicationError = "Communication Error";                   // 59399
inline constexpr const char* kUnableToWriteIni = "Unable to Write to Initialization File";  // 59398
inline constexpr const char* kCouldNotCreateDialog = "Could not create dialog box";
inline constexpr const char* kFailedToCreateSerialPort =
    "Failed to create RS232 serial port";                                              // 61238
inline constexpr const char* kFailedToConnectServer = "Failed to connect to server.";  // 61227
inline constexpr const char* kTerminateBeforeSwitching =
    "Please terminates all communicating activites before switching port.";  // 61235
inline constexpr const char* kTerminateBeforeReconnecting =
    "Please terminates all communicating activites before reconnecting.";   // 61234
inline constexpr const char* kChangedToRs232 = "Changed to RS232 port.\n";  // 59395
inline constexpr const char* kChangedToGpib = "Changed to GPIB port.\n";    // 59397
inline constexpr const char* kChangedToLan = "Changed to LAN port.\n";      // 61226
inline constexpr const char* kConnected = "Connected";                      // 61228
inline constexpr const char* kNotConnected = "Not Connected";               // 61229
inline constexpr const char* kError = "Error";                              // 61230
inline constexpr const char* kNoDevice = "No Device";                       // 61231

// Questions of the desktop program before a window could end a logging run.
inline constexpr const char* kQuitWhileLogging =
    "Data logging is in progress. Stop the data logging and exit?";
inline constexpr const char* kCloseLoggingWindow =
    "Data logging is in progress. Stop the data logging?";

inline constexpr const char* kRs232CheckList[5] = {
    "Please check the followings for RS232 connection:\n",
    "- RS232 null modem cable connection\n",
    "- Controller Remote I/O Port Select is RS232\n",
    "- Matching Baud Rates\n",
    "- Comm port selection\n",
};
}  // namespace tavrix::texts
