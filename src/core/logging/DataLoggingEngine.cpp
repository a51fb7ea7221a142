#include "logging/DataLoggingEngine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "base/CNumeric.h"
#include "base/Texts.h"
#include "base/VisibleText.h"
#include "link/LinkCommands.h"
#include "logging/DataLogFile.h"
#include "logging/LogFileWriter.h"

namespace tavrix {

DataLoggingEngine::DataLoggingEngine(LoggingContext ctx, LoggingProgressWindow& progress,
                                     LogClock& clock)
    : ctx_(std::move(ctx)), progress_(progress), clock_(clock) {}

std::string DataLoggingEngine::FilePath() const {
    std::lock_guard lock(fileMutex_);
    return path_;
}

std::string DataLoggingEngine::Stamp(const char* format) {
    const LocalTime t = clock_.Now();
    return FormatC(format, t.month, t.day, t.year, t.hour, t.minute, t.second);
}

int DataLoggingEngine::Start(LoggingDialogs& dialogs, LogTimer& timer) {
    DataLogSetupModel setup;
    setup.interval = ctx_.interval();
    setup.EnableFrom(ctx_.features);
    // The sources of the last run that this model has are checked again.
    const int remembered = ctx_.settings.GetInt(settings::kLog, settings::kLogChannels, 0);
    for (int i = 0; i < kLogSourceCount; ++i) {
        const LogSourceMask bit = kLogSources[static_cast<size_t>(i)].maskBit;
        if (setup.enabled[static_cast<size_t>(i)] && (remembered & bit)) setup.mask |= bit;
    }
    const DialogResult<DataLogSetupModel> r = dialogs.AskLogSetup(setup);
    // The dialog's interval (an applied one too) is kept and stored on every way out.
    const double interval =
        r.outcome == DialogOutcome::CouldNotCreate ? setup.interval : r.value.interval;
    int result = -1;
    if (r.outcome == DialogOutcome::CouldNotCreate) {
        ctx_.op.ShowMessage(texts::kCouldNotCreateDialog, MessageIcon::Stop);
    } else if (r.Ok()) {
        if (r.value.mask != setup.mask)
            ctx_.settings.WriteInt(settings::kLog, settings::kLogChannels, r.value.mask);
        FileDialogRequest save;
        save.filter = logging_texts::kSaveFilter;
        save.defaultExtension = "csv";
        save.options = kHideReadOnly | kOverwritePrompt;
        const DialogResult<std::string> file = ctx_.op.AskSaveFile(save);
        if (file.Ok()) result = BeginRun(r.value.mask, interval, file.value, timer);
    }
    ctx_.setInterval(interval);
    if (!ctx_.settings.WriteString(settings::kLog, settings::kInterval, FormatC("%f", interval)))
        ctx_.op.ShowMessage("Unable to Write to Initialization File", MessageIcon::Stop);
    return result;
}

int DataLoggingEngine::BeginRun(LogSourceMask mask, double interval, const std::string& path,
                                LogTimer& timer) {
    if (runOpen_.load()) return -1;
    LoggingProgressModel& pm = progress_.Model();
    {
        std::lock_guard lock(fileMutex_);
        path_ = path;
    }
    pm.fileText = path;
    for (auto& e : enabled_) e = 0;
    pm.ClearLabels();
    for (int i = 0; i < kLogSourceCount; ++i) {
        if (!(mask & kLogSources[static_cast<size_t>(i)].maskBit)) continue;
        if (!LogSourceAvailable(ctx_.features, i)) continue;
        enabled_[static_cast<size_t>(i)] = 1;
        pm.AddLabel(i);
    }
    entryCount_ = 0;
    rowsWritten = 0;
    {
        std::string format = timeFormat.empty()
                                 ? ctx_.settings.GetString(settings::kLog, "TIMEFORMAT", "")
                                 : timeFormat;
        for (char& c : format) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        isoTimes_ = format == "iso";
    }
    fileErrorReported_ = false;
    pm.entriesText = FormatC("%d", 0);
    pm.intervalText = FormatC("%8.1lf", interval);
    progress_.Refresh();

    // Identification and the names are one sequence under the lock; every box and the file
    // come after it is released, so a monitor or another run's thread never waits on a dialog.
    std::string id, header;
    int status = link_status::kOk;
    bool namesFailed = false;
    {
        SessionLock lock(ctx_.mutex, kMutexWaitMs);
        if (!lock) return -1;  // the instrument is busy: nothing starts, nothing is said
        static const std::string kIdn = "*idn?;";
        status = ctx_.link.Transact(&kIdn, &id);
        for (int i = 0; i < 12 && status == 0 && id.size() <= kIdReplyMax; ++i) {
            if (!enabled_[static_cast<size_t>(i)]) continue;
            const LogSource& s = kLogSources[static_cast<size_t>(i)];
            const std::string q = FormatC(i < 8 ? "%s:NAME?;UNITS?;" : "%s:NAME?;", s.prefix);
            std::string reply;
            if (ctx_.link.Transact(&q, &reply) < 0) {
                namesFailed = true;
                break;
            }
            if (i < 8) {
                const size_t semi = reply.find(';');
                const std::string name = semi == std::string::npos ? "" : reply.substr(0, semi);
                const std::string unit = semi == std::string::npos ? reply : reply.substr(semi + 1);
                header += FormatC("%s name:%s,unit:%s\n", s.prefix, VisibleText(name).c_str(),
                                  VisibleText(unit).c_str());
            } else {
                header += FormatC("%s name:%s\n", s.prefix, VisibleText(reply).c_str());
            }
        }
    }
    if (status < 0) ReportCommunicationFailure(ctx_.link, ctx_.op, ctx_.log);
    if (id.size() > kIdReplyMax) {
        ctx_.op.ShowMessage(logging_texts::kIdTooLong, MessageIcon::None);
        return -1;
    }
    if (status != 0) return -1;

    std::string error;
    // The file is locked before it is emptied: a second run on it is refused untouched.
    switch (LogFileWriter::Lock(path, fileLock_, error)) {
        case files::ExclusiveLock::Result::Busy:
            ctx_.op.ShowMessage(error, MessageIcon::Stop);
            return -1;
        case files::ExclusiveLock::Result::Failed:
            ReportFileError(error);
            return -1;
        case files::ExclusiveLock::Result::Locked:
            break;
    }
    if (!LogFileWriter::Create(path, error)) {
        fileLock_.Release();
        ReportFileError(error);
        return -1;
    }
    badReplies = 0;
    busyCycles = 0;
    runIdn_ = id;
    runModelCode_ = ctx_.link.ModelCode();
    keepGoing_ = keepGoing >= 0 ? keepGoing == 1
                                : ctx_.settings.GetString(settings::kLog,
                                                          logging_texts::kKeepGoingKey, "0") == "1";
    linkLosses = 0;
    lostMs_ = 0;
    missedTicks_ = 0;
    linkDown_ = false;
    if (ManualResetEvent* e = sampleEvent_.load()) e->Reset();
    ctx_.loggingActive = true;
    runOpen_ = true;
    progress_.Show();
    if (namesFailed) {
        ReportCommunicationFailure(ctx_.link, ctx_.op, ctx_.log);
        WriteText(header, true);
        progress_.PressStop();
        return -1;
    }

    header += FormatC("Sampling interval:%8.1lf seconds\n", interval);
    header += "Entry Number";
    for (int i = 0; i < kLogSourceCount; ++i)
        if (enabled_[static_cast<size_t>(i)]) header += kLogSources[static_cast<size_t>(i)].columns;
    header += "\n";
    const std::string started = Stamp("Data logging started at %d/%d/%d %d:%d:%d\n");
    header += started;
    if (!WriteText(header, true)) {
        progress_.PressStop();
        return -1;
    }
    ctx_.log.Append(started);

    timer_ = &timer;
    timerHeld_ = timer.SetTimer(kTimerId, static_cast<int>(std::lround(interval * 1000.0)));
    return 0;
}

bool DataLoggingEngine::WriteText(const std::string& text, bool sync) {
    if (text.empty()) return true;
    std::string error;
    std::string path;
    {
        std::lock_guard lock(fileMutex_);
        path = path_;
    }
    if (LogFileWriter::Append(path, text, sync, error)) return true;
    ReportFileError(error);
    return false;
}

void DataLoggingEngine::ReportFileError(const std::string& error) {
    if (fileErrorReported_.exchange(true)) return;
    const std::string path = FilePath();
    ctx_.op.ShowMessage(
        "Cannot write the data log file " + path + ": " + error + "\nData logging is stopped.",
        MessageIcon::Stop);
    ctx_.log.Append("Data logging stopped: cannot write " + path + " (" + error + ")\n");
}

void DataLoggingEngine::Stop() {
    std::unique_lock lock(fileMutex_);
    ctx_.loggingActive = false;
    if (timer_ && timerHeld_) timer_->KillTimer(timerHeld_);
    timerHeld_ = 0;
    // Ticks that came while a cycle or a box held things up belong to the run that ends here.
    if (ManualResetEvent* e = sampleEvent_.load()) e->Reset();
    if (!runOpen_.exchange(false)) return;
    const std::string path = path_;
    lock.unlock();
    // Rows are what reached the file: a cycle that saw the stop wrote none.
    std::string closing = FormatC("Number of entries = %d\n", static_cast<int>(rowsWritten.load()));
    const std::string ended = Stamp("Data logging terminated at %d/%d/%d %d:%d:%d \n");
    closing += ended;
    std::string error;
    if (!fileErrorReported_.load()) WriteText(closing, true);
    fileLock_.Release();
    ctx_.log.Append(ended);
    if (const long bad = badReplies.load())
        ctx_.log.Append(FormatC("Bad replies not logged as rows: %ld\n", bad));
    if (const long busy = busyCycles.load())
        ctx_.log.Append(FormatC("Samples skipped, instrument busy: %ld\n", busy));
    const LossFigures lost = Losses();
    if (lost.losses > 0)
        ctx_.log.Append(
            FormatC("Communication lost %ld time(s), %.1f s in all; %ld sample(s) "
                    "missed meanwhile\n",
                    lost.losses, static_cast<double>(lost.lostMs) / 1000.0, lost.missedTicks));
}

DataLoggingEngine::LossFigures DataLoggingEngine::Losses() const {
    LossFigures f;
    f.losses = linkLosses.load();
    f.lostMs = lostMs_.load();
    f.missedTicks = missedTicks_.load();
    if (linkDown_.load()) {
        // The outage under way counts up to now.
        const auto since = std::chrono::steady_clock::now().time_since_epoch().count() - lostAt_;
        f.lostMs += std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::duration(since))
                        .count();
        f.missedTicks += 1 + (ticks.load() - ticksAtLoss_.load());
    }
    return f;
}

bool DataLoggingEngine::PauseWhileOpen(std::chrono::milliseconds d) {
    const auto until = std::chrono::steady_clock::now() + d;
    for (;;) {
        const ManualResetEvent* quit = quitEvent_.load();
        if (!runOpen_.load() || (quit && quit->IsSet())) return false;
        const auto left = until - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) return true;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(50)));
    }
}

bool DataLoggingEngine::Reidentify(std::string& refusal) {
    static const std::string kIdn = "*idn?;";
    std::string id;
    if (ctx_.link.TransactQuiet(kIdn, &id) != 0 || id.empty()) return false;
    IdnFields before, now;
    const bool knewModel = ParseIdn(runIdn_, before);
    if (knewModel && (!ParseIdn(id, now) || now.model != before.model)) {
        refusal = "the instrument now answering (" + VisibleText(id) +
                  ") is not the one the run began with (" + VisibleText(runIdn_) + ")";
        return true;
    }
    if (runModelCode_ != 0) {
        std::string idef;
        if (ctx_.link.TransactQuiet("SYST:IDEF?", &idef) != 0) return false;
        int code = 0;
        if (std::sscanf(idef.c_str(), "%d", &code) != 1 || code != runModelCode_) {
            refusal = FormatC(
                "the instrument now answering has model code %d, not %d as when "
                "the run began",
                code, runModelCode_);
            return true;
        }
    }
    return true;
}

int DataLoggingEngine::RideThrough(ManualResetEvent& sample) {
    using namespace std::chrono;
    --entryCount_;
    {
        std::lock_guard lock(fileMutex_);
        if (!runOpen_.load()) return kNoRun;
        ticksAtLoss_ = ticks.load();
        lostAt_ = steady_clock::now().time_since_epoch().count();
        linkDown_ = true;
        ++linkLosses;
    }
    const long coalescedAtLoss = coalescedTicks.load();
    const std::string lost = Stamp(logging_texts::kLost);
    if (!WriteText(lost, true)) {
        ++entryCount_;  // the report's handler takes the failed cycle off the count
        ctx_.send(LogReport::FileError);
        return kWriteFailure;
    }
    ctx_.log.Append(lost);
    ctx_.send(LogReport::LinkDown);

    std::string refusal;
    bool back = false;
    milliseconds pause = firstRetry;
    while (!back && PauseWhileOpen(pause)) {
        pause = std::min(pause * 2, longestRetry);
        SessionLock lock(ctx_.mutex, kMutexWaitMs);
        if (!lock) continue;
        if (!ctx_.link.Reopen()) continue;
        back = Reidentify(refusal);
    }
    {
        std::lock_guard lock(fileMutex_);
        const auto down =
            steady_clock::now() - steady_clock::time_point(steady_clock::duration(lostAt_.load()));
        lostMs_ += duration_cast<milliseconds>(down).count();
        // The ticks of the outage made no row: they are counted as missed, not as coalesced.
        missedTicks_ += 1 + (ticks.load() - ticksAtLoss_.load());
        coalescedTicks = coalescedAtLoss;
        linkDown_ = false;
    }
    if (!back) return kNoRun;  // stopped meanwhile: the closing lines are written by the stop
    if (!refusal.empty()) {
        // Another instrument must not continue this run's columns: the run ends as after a
        // failed cycle.
        ctx_.log.Append("Data logging stopped: " + refusal + "\n");
        ++entryCount_;
        ctx_.send(LogReport::CommError);
        std::lock_guard lock(fileMutex_);
        std::string error;
        if (!path_.empty())
            LogFileWriter::Append(path_, logging_texts::kExitCommError, true, error);
        return kCommFailure;
    }
    // The next row comes on its own deadline, not at once for a tick of the outage.
    sample.Reset();
    const std::string restored = Stamp(logging_texts::kRestored);
    {
        std::lock_guard lock(fileMutex_);
        if (!runOpen_.load()) return kNoRun;
    }
    if (!WriteText(restored, true)) {
        ++entryCount_;
        ctx_.send(LogReport::FileError);
        return kWriteFailure;
    }
    ctx_.log.Append(restored);
    ctx_.send(LogReport::LinkRestored);
    return kRodeThrough;
}

void DataLoggingEngine::OnTick(ManualResetEvent& sample) {
    sampleEvent_ = &sample;
    ++ticks;
    if (sample.IsSet()) ++coalescedTicks;
    sample.Set();
}

std::vector<DataLoggingEngine::Batch> DataLoggingEngine::Batches(
    const std::array<int, kLogSourceCount>& enabled) {
    std::vector<Batch> out;
    std::string cmd;
    int fields = 0;
    for (int i = 0; i < kLogSourceCount; ++i) {
        if (cmd.size() > kBatchThreshold) {
            out.push_back({cmd, true, fields});
            cmd.clear();
            fields = 0;
        }
        if (enabled[static_cast<size_t>(i)]) {
            const LogSource& s = kLogSources[static_cast<size_t>(i)];
            if (!cmd.empty()) cmd += ":";
            cmd += s.sampleQuery;
            fields +=
                static_cast<int>(std::count(s.columns, s.columns + std::strlen(s.columns), ','));
        }
    }
    if (!cmd.empty()) out.push_back({cmd, false, fields});
    return out;
}

int DataLoggingEngine::FieldCount(const std::string& reply) {
    if (reply.empty()) return 0;
    return 1 + static_cast<int>(std::count_if(reply.begin(), reply.end(),
                                              [](char c) { return c == ';' || c == ','; }));
}

std::string DataLoggingEngine::LastBadReplyText() const {
    std::lock_guard lock(fileMutex_);
    return PrintableInstrumentText(lastBadReply_, 120);
}

DataLoggingEngine::Flush DataLoggingEngine::Exchange(const std::string& cmd, std::string& reply) {
    reply.clear();
    int status;
    {
        SessionLock lock(ctx_.mutex, kMutexWaitMs);
        if (!lock) return Flush::Busy;
        // A run that rides through a lost link tells it in the file, without a box.
        status = keepGoing_.load() ? ctx_.link.TransactQuiet(cmd, &reply)
                                   : ctx_.link.Transact(&cmd, &reply);
    }
    return status < 0 ? Flush::Failed : Flush::Ok;
}

int DataLoggingEngine::Cycle(ManualResetEvent& sample) {
    sampleEvent_ = &sample;
    sample.Reset();
    // Ticks that outlived their run (a failed cycle, a box, a stop) make no cycle.
    if (!runOpen_.load()) return kNoRun;
    ++entryCount_;
    const LocalTime t = clock_.Now();
    std::string timeField;
    if (isoTimes_.load()) {
        LogInstant at;
        at.local = {t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond};
        at.offsetMinutes = t.utcOffsetMinutes;
        timeField = FormatIsoTime(at);
    } else {
        timeField = FormatC("%d:%d:%d", t.hour, t.minute, t.second);
    }

    std::array<int, kLogSourceCount> enabled{};
    for (int i = 0; i < kLogSourceCount; ++i)
        enabled[static_cast<size_t>(i)] = enabled_[static_cast<size_t>(i)];
    std::string replies;
    Flush outcome = Flush::Ok;
    std::string badReply;
    const std::vector<Batch> batches = Batches(enabled);
    for (const Batch& b : batches) {
        std::string reply;
        outcome = Exchange(b.text, reply);
        if (outcome != Flush::Ok) {
            // A batch sent during the walk reports a failed exchange at once.
            if (b.inWalk && outcome == Flush::Failed && !keepGoing_.load())
                ctx_.send(LogReport::LinkLost);
            break;
        }
        // Every column is the instrument's or the row is not written: a short or long reply
        // would move every later value under the wrong heading.
        if (badReply.empty() && FieldCount(reply) != b.fields)
            badReply =
                FormatC("%d field(s) for %d column(s): ", FieldCount(reply), b.fields) + reply;
        // Batches are joined by one ";": a walk that ends on a flush adds no empty column.
        if (&b != &batches.front()) replies += ";";
        replies += reply;
    }
    if (outcome == Flush::Busy) {
        // Another exchange held the instrument past the wait: this sample is skipped, the
        // next tick tries again.
        --entryCount_;
        ++busyCycles;
        return kBusy;
    }
    if (outcome == Flush::Failed) {
        ++failedCycles;
        if (keepGoing_.load()) return RideThrough(sample);
        ctx_.send(LogReport::CommError);
        ctx_.send(LogReport::LinkLost);
        std::lock_guard lock(fileMutex_);
        std::string error;
        if (!path_.empty())
            LogFileWriter::Append(path_, logging_texts::kExitCommError, true, error);
        return kCommFailure;
    }
    if (!badReply.empty()) {
        --entryCount_;
        ++badReplies;
        {
            std::lock_guard lock(fileMutex_);
            lastBadReply_ = timeField + ", " + badReply;
        }
        ctx_.send(LogReport::BadReply);
        return kBadReply;
    }
    // A carriage return that ends the replies ends the row (written as its usual line end);
    // any other control character is shown as "\x..", so no reply splits a row or a field.
    if (!replies.empty() && replies.back() == '\r') replies.pop_back();
    std::string row = timeField + "," + VisibleText(replies);
    for (char& c : row)
        if (c == ';') c = ',';
    if (row.empty() || row.back() != '\r') row += "\n";
    bool written = false;
    std::string error;
    {
        std::lock_guard lock(fileMutex_);
        if (ctx_.loggingActive.load() && runOpen_.load()) {
            written = LogFileWriter::Append(path_, row, syncEachRow.load(), error);
            if (written) ++rowsWritten;
        } else {
            error.clear();
        }
    }
    if (!written && !error.empty()) {
        lastFileError_ = error;
        ctx_.send(LogReport::FileError);
        return kWriteFailure;
    }
    if (written) ++cyclesMade;
    if (written && onRowWritten) onRowWritten(rowsWritten.load(), row);
    ctx_.send(LogReport::Sampled);
    return kRowMade;
}

void DataLoggingEngine::RunSamplingThread(const ManualResetEvent& quit, ManualResetEvent& sample) {
    sampleEvent_ = &sample;
    quitEvent_ = &quit;
    for (;;) {
        if (quit.IsSet()) return;
        if (!sample.WaitFor(std::chrono::milliseconds(50))) continue;
        if (quit.IsSet()) return;
        Cycle(sample);
    }
}

void DataLoggingEngine::OnSampled() {
    progress_.Model().entriesText = FormatC("%d", entryCount_.load());
    progress_.Refresh();
}

void DataLoggingEngine::OnCommError() {
    --entryCount_;
    ReportCommunicationFailure(ctx_.link, ctx_.op, ctx_.log);
    progress_.PressStop();
}

void DataLoggingEngine::OnBadReply() {
    ctx_.log.Append("Reply not logged at " + LastBadReplyText() + "\n");
    OnSampled();
}

void DataLoggingEngine::OnFileError() {
    --entryCount_;
    ReportFileError(lastFileError_);
    progress_.PressStop();
}

}  // namespace tavrix
