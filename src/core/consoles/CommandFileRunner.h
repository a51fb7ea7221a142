#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "base/OperatorInterface.h"
#include "base/SyncPrimitives.h"
#include "consoles/CommandFileReader.h"
#include "consoles/ErrorLogFile.h"
#include "link/CInstrumentLink.h"
#include "link/LinkCommands.h"

namespace tavrix {

// Plays a command file against the instrument, one tag per step. Each step takes SessionMutex
// without waiting and releases it before it returns, so other threads' exchanges can run
// between two tags.
class CommandFileRunner {
public:
    enum class Status { Continue, Busy, Completed, Aborted };
    using Sleep = std::function<void(std::chrono::milliseconds)>;

    static constexpr int kSettleMs = 100;
    // Tolerance of FLOATRESPONSE, relative to the expected value.
    static constexpr double kFloatTolerance = 0.05;
    // The longest PAUSE a file may ask for: one hour.
    static constexpr long long kMaxPauseMs = 3600000;

    CommandFileRunner(CInstrumentLink& link, SessionMutex& mutex, LogSink& log,
                      ErrorLogFile& errorLog, Sleep sleep);

    bool Open(const std::string& path) { return reader_.Open(path); }
    const CommandFileReader& Reader() const { return reader_; }

    // Handles one tag. Completed and Aborted have logged and recorded their final lines.
    Status Step();
    // Ends the run from outside (the instrument stayed busy): logs and records `why` and the
    // abort lines.
    void Abort(const std::string& why);
    // The closing count line in the message log names the error log's full path instead of
    // "the ErrorLog.txt" (the error log itself keeps its own line).
    void NameErrorLogPath(bool on) { nameErrorLogPath_ = on; }

    int Errors() const { return errors_; }
    const std::string& GroupLabel() const { return group_; }
    int TagCounter() const { return counter_; }

private:
    bool Act();
    void Pause();
    void GroupTag();
    void CountError(const std::string& text);
    bool SendCommand(bool pacing);
    bool SendQuery();
    void CheckFloat(const std::string& query, const std::string& reply,
                    const std::string& expected);
    void CheckText(const std::string& query, const std::string& reply, const std::string& expected,
                   bool expectedTruncated);
    std::string NextUpperTag();
    void Log(const std::string& text);
    void LogAndRecord(const std::string& text);
    void Finish(bool completed);
    std::string Where(const char* separator, const std::string& text) const;

    CInstrumentLink& link_;
    SessionMutex& mutex_;
    LogSink& log_;
    ErrorLogFile& errorLog_;
    Sleep sleep_;
    CommandFileReader reader_;
    std::string tag_;
    std::string group_;
    int counter_ = 0;
    int errors_ = 0;
    bool reuse_ = false;
    int transactions_ = 0;  // commands and queries sent
    bool nameErrorLogPath_ = false;
};

// The outcome of the "Send Command File" command.
struct CommandFileRun {
    enum class Outcome {
        Completed,
        Aborted,
        Cancelled,   // the file dialog was cancelled
        NotOpened,   // the chosen file could not be opened
        NoErrorLog,  // "ErrorLog.txt" could not be created anywhere: nothing was sent
    };
    Outcome outcome = Outcome::Cancelled;
    int errors = 0;
    std::string errorLogPath;
    // A record did not reach "ErrorLog.txt" (a full disk, say); the run said so in the log.
    bool errorLogIncomplete = false;
};

struct CommandFileOptions {
    // Where "ErrorLog.txt" goes; empty: the current directory, else `fallbackFolder`.
    std::string errorLogPath;
    std::string fallbackFolder;
    // How long a run waits for SessionMutex before a tag before it gives up.
    std::chrono::milliseconds busyLimit{10000};
    // See CommandFileRunner::NameErrorLogPath.
    bool nameErrorLogPath = false;
};

// The view's "Send Command File" command: "ErrorLog.txt" first, then the file dialog, then the
// run to its end on the calling thread.
CommandFileRun RunCommandFile(LinkContext& ctx, const CommandFileOptions& options);

}  // namespace tavrix
