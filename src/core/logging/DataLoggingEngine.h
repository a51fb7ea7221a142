#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "base/FileSafety.h"
#include "base/OperatorInterface.h"
#include "base/SettingsStore.h"
#include "base/SyncPrimitives.h"
#include "link/CInstrumentLink.h"
#include "link/FeatureManager.h"
#include "logging/LogClock.h"
#include "logging/LogSources.h"
#include "logging/LoggingDialogs.h"

namespace tavrix {

// What SamplingThread tells the view, each a synchronous report (the view's user messages).
enum class LogReport {
    Sampled,    // a cycle ended well
    CommError,  // a cycle failed
    LinkLost,   // the link is lost (wParam 2 of the view's message)
    FileError,  // the row could not be written: reported once, the run stops
    BadReply,   // the reply does not fill the row's columns: no row, the run goes on
};

namespace logging_texts {
inline constexpr const char* kSaveFilter = "MSExcel Comma Separated Value Files(*.csv)|*.csv||";
inline constexpr const char* kIdTooLong =
    "ID response is too long.\n \t\t\t            The unit is not functioning correctly.";
inline constexpr const char* kExitCommError = "Exit due to Communication Error.\n";
}  // namespace logging_texts

// The logging pace: timer 100 of the view (a QTimer in the GUI, DeadlinePacer headless).
class LogTimer {
public:
    virtual ~LogTimer() = default;
    // Starts a periodic timer; returns its identifier (0 when none could be set).
    virtual int SetTimer(int id, int periodMs) = 0;
    virtual void KillTimer(int id) = 0;
};

// What the engine works with: the view's objects, passed by reference.
struct LoggingContext {
    CInstrumentLink& link;
    SessionMutex& mutex;
    const FeatureManager& features;
    OperatorInterface& op;
    LogSink& log;
    SettingsStore& settings;
    std::atomic<bool>& loggingActive;
    // The view's LoggingInterval.
    std::function<double()> interval;
    std::function<void(double)> setInterval;
    // A synchronous report to the view (runs the view's handler and waits for it).
    std::function<void(LogReport)> send;
};

// The data logging engine: the start and stop procedures of the view, the sampling cycle of
// SamplingThread and the view's handlers of the thread's reports.
class DataLoggingEngine {
public:
    static constexpr int kTimerId = 100;
    static constexpr size_t kBatchThreshold = 50;
    static constexpr int kMutexWaitMs = 1000;
    static constexpr size_t kIdReplyMax = 64;

    DataLoggingEngine(LoggingContext ctx, LoggingProgressWindow& progress, LogClock& clock);

    // The start command: setup dialog, save dialog, then BeginRun; the interval is stored on
    // every way out. 0 when a run started.
    int Start(LoggingDialogs& dialogs, LogTimer& timer);
    // Everything after the dialogs: flags, progress window, identification, file header,
    // timer. 0 when a run started.
    int BeginRun(LogSourceMask mask, double interval, const std::string& path, LogTimer& timer);
    // WM_LOG_STOP.
    void Stop();
    // Timer 100: wakes the sampling thread; a tick that finds the last one not yet taken
    // is coalesced with it.
    void OnTick(ManualResetEvent& sample);

    // What one cycle of SamplingThread came to.
    static constexpr int kRowMade = 0, kCommFailure = -1, kWriteFailure = -2, kNoRun = 1,
                         kBadReply = 2, kBusy = 3;
    // One cycle: a row made, a communication failure, a row that could not be written; or,
    // with no row and the run going on: no run open (nothing sent), a bad reply, the
    // instrument busy with another exchange for longer than the lock's wait.
    int Cycle(ManualResetEvent& sample);
    // SamplingThread: cycles on `sample` until `quit`.
    void RunSamplingThread(const ManualResetEvent& quit, ManualResetEvent& sample);

    // The view's handlers of the thread's reports.
    void OnSampled();
    void OnCommError();
    void OnFileError();
    void OnBadReply();

    // The batches one cycle sends for the enabled sources.
    struct Batch {
        std::string text;
        bool inWalk;  // flushed while walking the sources (its reply is followed by ";")
        int fields;   // the columns its reply fills
    };
    // The fields of a reply: its values are separated by ";" (between queries) or "," (within
    // one); an empty reply has none.
    static int FieldCount(const std::string& reply);
    static std::vector<Batch> Batches(const std::array<int, kLogSourceCount>& enabled);

    int EntryCount() const { return entryCount_.load(); }
    bool SourceEnabled(int i) const { return enabled_[static_cast<size_t>(i)].load() != 0; }
    std::string FilePath() const;
    bool RunOpen() const { return runOpen_.load(); }

    // Figures for the soak benchmark and the command line.
    // cyclesMade: cycles of a run that gave a row (one ending after Stop gives none).
    std::atomic<long> ticks{0}, coalescedTicks{0}, cyclesMade{0}, rowsWritten{0}, failedCycles{0};
    // Per run: cycles whose reply did not fill the row's columns, and cycles skipped because
    // another exchange held the instrument.
    std::atomic<long> badReplies{0}, busyCycles{0};
    // The last bad reply, when it came and what it lacked, as a report shows it (control
    // characters escaped).
    std::string LastBadReplyText() const;
    // Each row reaches the disk before its cycle ends; the benchmark turns this off to price it.
    std::atomic<bool> syncEachRow{true};
    // How rows are stamped: "iso" (ISO 8601 with milliseconds and the UTC offset) or "hms"
    // (H:M:S); empty takes [LOG] TIMEFORMAT at each start (default H:M:S).
    std::string timeFormat;
    // Called after each row was written (the command line counts and prints it).
    std::function<void(long rows, const std::string& row)> onRowWritten;

private:
    enum class Flush { Ok, Busy, Failed };
    Flush Exchange(const std::string& cmd, std::string& reply);
    bool WriteText(const std::string& text, bool sync);
    void ReportFileError(const std::string& error);
    std::string Stamp(const char* format);

    LoggingContext ctx_;
    LoggingProgressWindow& progress_;
    LogClock& clock_;
    std::atomic<int> entryCount_{0};
    std::array<std::atomic<int>, kLogSourceCount> enabled_{};
    mutable std::mutex fileMutex_;  // orders rows against the closing lines
    std::string path_;
    std::atomic<bool> runOpen_{false};
    std::atomic<bool> isoTimes_{false};
    std::atomic<bool> fileErrorReported_{false};
    std::string lastFileError_;
    std::string lastBadReply_;  // under fileMutex_
    // The event that wakes SamplingThread: stop clears ticks still pending.
    std::atomic<ManualResetEvent*> sampleEvent_{nullptr};
    files::ExclusiveLock fileLock_;  // held for the whole run (UI thread only)
    LogTimer* timer_ = nullptr;
    int timerHeld_ = 0;
};

}  // namespace tavrix
