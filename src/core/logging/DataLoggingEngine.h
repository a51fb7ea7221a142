#pragma once

#include <array>
#include <atomic>
#include <chrono>
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
    // Only when the run rides through lost links: the link went down (no box, the run goes
    // on reconnecting), and it answers again.
    LinkDown,
    LinkRestored,
};

namespace logging_texts {
inline constexpr const char* kSaveFilter = "MSExcel Comma Separated Value Files(*.csv)|*.csv||";
inline constexpr const char* kIdTooLong =
    "ID response is too long.\n \t\t\t            The unit is not functioning correctly.";
inline constexpr const char* kExitCommError = "Exit due to Communication Error.\n";
inline constexpr const char* kLost = "Communication lost at %d/%d/%d %d:%d:%d\n";
inline constexpr const char* kRestored = "Communication restored at %d/%d/%d %d:%d:%d\n";
// [LOG] KEEPGOING: 1 rides through lost links.
inline constexpr const char* kKeepGoingKey = "KEEPGOING";
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
                         kBadReply = 2, kBusy = 3, kRodeThrough = 4;
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
    // A failed cycle ends the run (0), or the run rides through the lost link (1): no row, a
    // "Communication lost at" line, reconnection with a growing pause, a "Communication
    // restored at" line and rows again on their own deadlines. -1 takes [LOG] KEEPGOING at
    // each start (off unless it is 1).
    int keepGoing = -1;
    // The pauses before each reconnection attempt: the first, doubled up to the longest.
    std::chrono::milliseconds firstRetry{1000}, longestRetry{60000};
    // Per run: links lost, how long they stayed lost (an outage still going on counts up to
    // now), and ticks that made no row meanwhile (the failed one included).
    std::atomic<long> linkLosses{0};
    struct LossFigures {
        long losses = 0;
        long long lostMs = 0;
        long missedTicks = 0;
    };
    LossFigures Losses() const;
    bool LinkDown() const { return linkDown_.load(); }
    // Called after each row was written (the command line counts and prints it).
    std::function<void(long rows, const std::string& row)> onRowWritten;

private:
    enum class Flush { Ok, Busy, Failed };
    Flush Exchange(const std::string& cmd, std::string& reply);
    // After a failed cycle of a run that rides through: reconnects until the instrument
    // answers again, the run stops, or another instrument answers.
    int RideThrough(ManualResetEvent& sample);
    // Waits `d` while the run is open; false when it closed or the thread is to quit.
    bool PauseWhileOpen(std::chrono::milliseconds d);
    // Identifies the instrument again: true when it answers as the one the run began with;
    // `refusal` says why another one is refused.
    bool Reidentify(std::string& refusal);
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
    std::atomic<const ManualResetEvent*> quitEvent_{nullptr};
    std::atomic<bool> keepGoing_{false};
    std::atomic<bool> linkDown_{false};
    std::atomic<long long> lostMs_{0};
    std::atomic<long> missedTicks_{0};
    std::atomic<long> ticksAtLoss_{0};
    std::atomic<std::chrono::steady_clock::rep> lostAt_{0};
    std::string runIdn_;  // the identification the run began with
    int runModelCode_ = 0;
    LogTimer* timer_ = nullptr;
    int timerHeld_ = 0;
};

}  // namespace tavrix
