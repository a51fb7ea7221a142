#pragma once

#include <functional>
#include <string>

#include "base/OperatorInterface.h"
#include "curves/CurveDialogs.h"
#include "curves/SensorCurve.h"
#include "link/LinkCommands.h"

namespace tavrix {

// What the curve and PID table commands work on: the link's objects and the curve dialogs.
struct CurveContext : LinkContext {
    CurveDialogs& dialogs;
    // Called with true before a download's first table line goes out, and with false once the
    // table is closed and its outcome reported: a front end holds back meanwhile whatever
    // would stop the program in the middle of a table (the command line holds SIGINT and
    // SIGTERM).
    std::function<void(bool open)> tableOpen = [](bool) {};
};

// The view's curve and PID table commands. Each instrument command takes SessionMutex with a
// 1000 ms wait and gives up silently when it is busy; every way out releases it.
void DownloadCurve(CurveContext& ctx);
void UploadCurve(CurveContext& ctx);
void DownloadPidTable(CurveContext& ctx);
void UploadPidTable(CurveContext& ctx);
// Works on files only: no lock, no instrument.
void ConvertCurve(CurveDialogs& op, LogSink& log);

// Pre-check of a .crv file before curve generation reads it: the number of point lines
// (3..200) with `headerLines` set to 2, 3 or 4; 0 after reporting the problem (message box
// and one log line). A line longer than 63 characters counts as a syntax error.
int CheckCurveFile(OperatorInterface& op, LogSink& log, const std::string& path, int& headerLines);

// Asks for a .crv file name and writes the curve. 0 written, 1 the dialog was cancelled,
// -1 the file could not be created or written ("Failed to create file" shown).
enum SaveCurveOutcome : int { kCurveSaved = 0, kCurveSaveCancelled = 1, kCurveSaveFailed = -1 };
int SaveCurveFile(OperatorInterface& op, SensorCurve curve);

// Lists the file's lines in the log, rejected ones marked "   **ERROR**".
void ReportCurveErrors(LogSink& log, SensorCurve curve);

// Logs a failed read: 2, 3 and 5 with their fixed lines, 6 and 7 naming the file line
// (curve.stopLine). 0, 1 and 4 log nothing.
void ReportFileResult(LogSink& log, int result, const SensorCurve& curve);

// The check pass of a PID table download.
struct PidFileCheck {
    // kUnsendable: the title or an entry cannot go out as one table line (see fault).
    enum Status { kOk, kReadError, kSyntaxError, kNoEntry, kTooManyEntries, kUnsendable };
    Status status = kOk;
    int entries = 0;
    int line = 0;                 // the file line that failed the check
    const char* fault = nullptr;  // why, for kUnsendable
};
PidFileCheck CheckPidFile(const std::string& path);
// One entry line: "%f %f %f %f %s" with the sign rules; the word holds at most 11 characters.
bool IsPidEntry(const std::string& line);

inline constexpr int kPidMaxEntries = 16;
inline constexpr size_t kPidLineMax = 63;
inline constexpr size_t kPidWordMax = 11;
// An uploaded PID table is its title line and up to 16 entries.
inline constexpr int kPidMaxReplyLines = kPidMaxEntries + 1;

// Writes text with every LF as CR LF; false when the file cannot be created or written.
bool WriteTextFileCrLf(const std::string& path, const std::string& text);

}  // namespace tavrix
