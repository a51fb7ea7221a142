#include "LoggingCli.h"

#include <CLI/CLI.hpp>

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <thread>

#include "app/Commands.h"
#include "base/CNumeric.h"
#include "base/VisibleText.h"
#include "logging/DataLogUpload.h"
#include "logging/DataLoggingEngine.h"
#include "logging/DeadlinePacer.h"
#include "logging/MonitorPoller.h"
#include "serve/Metrics.h"

namespace tavrix::cli {

namespace {

int Fail(const std::string& what) {
    std::fprintf(stderr, "tavrix-cli: %s\n", what.c_str());
    return 1;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
        item.erase(0, item.find_first_not_of(' '));
        item.erase(item.find_last_not_of(' ') + 1);
        out.push_back(item);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return out;
}

// Identifies the instrument so that its sources are known; false after saying why.
bool Identify(CliSession& s) {
    ConnectAndIdentify(*s.context);
    if (!s.features.AnyInstrument()) {
        Fail("no instrument identified: " + VisibleText(s.bar.Get().modelText));
        return false;
    }
    return true;
}

std::string ModelText(CliSession& s) {
    const std::string m = s.bar.Get().modelText;
    return m.empty() ? "this instrument" : VisibleText(m);
}

// The signals that end a run with its closing lines: an interrupt, a termination, and the
// hang-up of a closed terminal or ssh session.
sigset_t StopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

// Waits for a stop signal up to `ms`; true when one came.
bool StopSignal(int ms) {
    const sigset_t set = StopSet();
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    return sigtimedwait(&set, nullptr, &ts) > 0;
}

// Writes one line to standard output; false (with errno kept) when it could not be written,
// such as into a pipe whose reader has gone or a terminal that was closed.
bool PrintLine(const std::string& text) {
    const std::string line = text + "\n";
    errno = 0;
    if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size()) return false;
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

// The rows printed while logging are a convenience; the file is the record. Once standard
// output fails, rows are no longer printed, the run goes on, and stderr says so once.
class RowEcho {
public:
    explicit RowEcho(std::string file) : file_(std::move(file)) {}
    void Print(const std::string& row) {
        if (closed_.load()) return;
        if (PrintLine(row)) return;
        const int err = errno;
        if (closed_.exchange(true)) return;
        std::fprintf(stderr,
                     "tavrix-cli: standard output cannot be written (%s): rows are no longer "
                     "printed; logging goes on into %s\n",
                     err ? std::strerror(err) : "write failed", file_.c_str());
        std::fflush(stderr);
    }

private:
    std::string file_;
    std::atomic<bool> closed_{false};
};

class CliLoggingProgress : public HeadlessProgressWindow {};

int RunLog(const LoggingCliOptions& o, CliSession& s) {
    LogSourceMask mask = 0;
    for (const std::string& name : SplitList(o.sources)) {
        const auto it =
            std::find_if(kLogSources.begin(), kLogSources.end(),
                         [&](const LogSource& src) { return Lower(src.cliName) == Lower(name); });
        if (it == kLogSources.end())
            return Fail("unknown source \"" + name +
                        "\" (use A..H, heater1, heater2, analog1, analog2, setpoint1..setpoint4)");
        mask |= it->maskBit;
    }
    double checked = 0.0;
    if (!DataLogSetupModel::CheckInterval(FormatC("%.17g", o.interval), checked).empty())
        return Fail("the interval must lie between 0.1 and 120000 seconds");
    if (!Identify(s)) return 1;
    for (const LogSource& src : kLogSources) {
        if ((mask & src.maskBit) && !LogSourceAvailable(s.features, src.index))
            return Fail(std::string("source ") + src.cliName + " is not available on " +
                        ModelText(s) + ": nothing was logged");
    }

    std::atomic<bool> active{false};
    double interval = o.interval;
    CliLoggingProgress progress;
    progress.showMessage = [&](const std::string& m) { s.op.ShowMessage(m, MessageIcon::Stop); };
    SystemLogClock clock;
    ManualResetEvent quit, sample;
    std::atomic<bool> done{false};
    std::unique_ptr<DataLoggingEngine> engine;
    std::unique_ptr<CliMetrics> metrics;
    // The run's counters and the link's state as the metrics serve them.
    auto publishCounters = [&] {
        if (metrics) PublishLogRun(metrics->registry, *engine);
    };
    LoggingContext ctx{*s.link,
                       s.mutex,
                       s.features,
                       s.op,
                       s.log,
                       s.settings,
                       active,
                       [&] { return interval; },
                       [&](double v) { interval = v; },
                       [&](LogReport r) {
                           if (r == LogReport::CommError) engine->OnCommError();
                           if (r == LogReport::FileError) engine->OnFileError();
                           if (r == LogReport::BadReply)
                               std::fprintf(stderr, "tavrix-cli: reply not logged at %s\n",
                                            engine->LastBadReplyText().c_str());
                           if (r == LogReport::LinkDown || r == LogReport::LinkRestored)
                               publishCounters();
                       }};
    engine = std::make_unique<DataLoggingEngine>(std::move(ctx), progress, clock);
    engine->syncEachRow = !o.noSync;
    engine->timeFormat = o.timeFormat;
    engine->keepGoing = o.keepGoing ? 1 : 0;
    RowEcho echo(o.out);
    progress.onStop = [&] { engine->Stop(); };
    std::unique_ptr<LogRowReadings> readings;
    engine->onRowWritten = [&](long rows, const std::string& row) {
        std::string text = row;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        echo.Print(VisibleText(text));
        if (metrics) {
            readings->Apply(row, static_cast<double>(std::time(nullptr)), metrics->registry);
            publishCounters();
        }
        if (o.count > 0 && rows >= o.count) {
            // Done before the run closes: the main loop must never see a closed run that is
            // not done yet, or a clean run would be taken for a failed one.
            done = true;
            engine->Stop();
        }
    };
    if (!StartMetrics(o.logShare, s, metrics)) return 1;
    DeadlinePacer pacer([&] { engine->OnTick(sample); });
    if (engine->BeginRun(mask, o.interval, o.out, pacer) != 0) return 1;
    if (metrics) {
        // The names and units of the sources, as the run's header gives them.
        std::ifstream in(o.out, std::ios::binary);
        std::string header, line;
        while (std::getline(in, line) && line.rfind("Entry Number", 0) != 0) header += line + "\n";
        readings = std::make_unique<LogRowReadings>(mask, header);
        metrics->registry.SetSampleInterval(o.interval);
    }
    std::unique_ptr<ShareServer> share;
    if (!StartShare(o.logShare, s, share)) {
        engine->Stop();
        pacer.KillTimer(DataLoggingEngine::kTimerId);
        return 1;
    }

    std::thread sampler([&] { engine->RunSamplingThread(quit, sample); });
    const auto begun = std::chrono::steady_clock::now();
    bool stoppedByOperator = false;
    while (!done.load() && engine->RunOpen()) {
        if (StopSignal(100)) {
            stoppedByOperator = true;
            break;
        }
        if (o.duration > 0 &&
            std::chrono::steady_clock::now() - begun >= std::chrono::duration<double>(o.duration))
            break;
    }
    const bool failed = !done.load() && !stoppedByOperator && !engine->RunOpen();
    if (metrics && failed) metrics->registry.SetLinkUp(false);
    engine->Stop();
    pacer.KillTimer(DataLoggingEngine::kTimerId);
    quit.Set();
    sampler.join();
    std::fprintf(stderr,
                 "tavrix-cli: %ld row(s) written to %s; %ld cycle(s) made, %ld tick(s) coalesced; "
                 "%ld bad reply(ies) not logged, %ld sample(s) skipped (instrument busy)\n",
                 engine->rowsWritten.load(), o.out.c_str(), engine->cyclesMade.load(),
                 engine->coalescedTicks.load(), engine->badReplies.load(),
                 engine->busyCycles.load());
    const DataLoggingEngine::LossFigures lost = engine->Losses();
    if (o.keepGoing)
        std::fprintf(stderr,
                     "tavrix-cli: communication lost %ld time(s), %.1f s in all; %ld sample(s) "
                     "missed meanwhile\n",
                     lost.losses, static_cast<double>(lost.lostMs) / 1000.0, lost.missedTicks);
    return failed ? 1 : 0;
}

int RunMonitor(const LoggingCliOptions& o, CliSession& s) {
    MonitorPoller::OpenFlags open{};
    for (const std::string& name : o.monitorSources) {
        const auto it =
            std::find_if(kMonitorSources.begin(), kMonitorSources.end(),
                         [&](const MonitorSource& m) { return Lower(m.cliName) == Lower(name); });
        if (it == kMonitorSources.end())
            return Fail("unknown monitor \"" + name +
                        "\" (use A..H, heater1, heater2, analog1, analog2)");
        open[static_cast<size_t>(it - kMonitorSources.begin())] = 1;
    }
    const double interval =
        o.interval > 0
            ? o.interval
            : DataLogSetupModel::StoredInterval(s.settings.GetString("LOG", "INTERVAL", "30.0"));
    if (!(interval > 0)) return Fail("the interval must be above 0 seconds");
    if (!Identify(s)) return 1;
    for (int i = 0; i < 12; ++i) {
        if (open[static_cast<size_t>(i)] && !MonitorSourceAvailable(s.features, i))
            return Fail(std::string("monitor ") + kMonitorSources[static_cast<size_t>(i)].cliName +
                        " is not available on " + ModelText(s));
    }
    std::unique_ptr<ShareServer> share;
    if (!StartShare(o.monitorShare, s, share)) return 1;
    std::unique_ptr<CliMetrics> metrics;
    if (!StartMetrics(o.monitorShare, s, metrics)) return 1;
    if (metrics) metrics->registry.SetSampleInterval(interval);
    long polls = 0;
    bool lost = false;
    bool outputClosed = false;
    MonitorPoller poller(
        *s.link, s.mutex, open, [&] { return interval; },
        [&](int i, const MonitorReading& r) {
            const std::time_t t = std::time(nullptr);
            std::tm tm{};
            localtime_r(&t, &tm);
            char stamp[16];
            std::strftime(stamp, sizeof stamp, "%H:%M:%S", &tm);
            // The lines are all a monitor gives: when they cannot be written it ends.
            if (!PrintLine(FormatC("%s %s %s %s %s", stamp,
                                   kMonitorSources[static_cast<size_t>(i)].cliName,
                                   VisibleText(r.value).c_str(), VisibleText(r.unit).c_str(),
                                   VisibleText(r.name).c_str())))
                outputClosed = true;
            if (metrics) {
                char* end = nullptr;
                const double v = std::strtod(r.value.c_str(), &end);
                if (end != r.value.c_str())
                    metrics->registry.SetReading(kMonitorSources[static_cast<size_t>(i)].cliName,
                                                 r.name, r.unit, v, static_cast<double>(t));
                metrics->registry.SetLinkUp(true);
            }
            ++polls;
        },
        [&] {
            lost = true;
            if (metrics) metrics->registry.SetLinkUp(false);
        });
    // Paced by the absolute schedule of the monitor thread.
    auto next = std::chrono::steady_clock::now();
    while (!lost && !outputClosed && (o.count <= 0 || polls < o.count)) {
        next += std::chrono::milliseconds(poller.WaitMs());
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                next - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            if (StopSignal(static_cast<int>(std::min<long>(left.count(), 200)))) return 0;
        }
        poller.Step();
    }
    if (lost) return Fail("communication with the instrument failed");
    if (outputClosed) std::fprintf(stderr, "tavrix-cli: standard output closed: monitor ended\n");
    return 0;
}

int RunUpload(const LoggingCliOptions& o, CliSession& s) {
    s.op.curve.saveFile = o.uploadFile;
    DataLogUploadContext ctx{*s.link, s.mutex, s.op, s.log, nullptr};
    return UploadInternalDataLog(ctx) == 0 ? 0 : 1;
}

}  // namespace

void AddLoggingCommands(CLI::App& app, LoggingCliOptions& o) {
    o.log = app.add_subcommand(
        "log",
        "Data logging: sample the chosen sources at a fixed interval into a comma-separated "
        "file, until --count rows, --duration seconds, SIGINT, SIGTERM or SIGHUP (exit 0 with the "
        "closing lines); a communication error ends it with its closing lines and exit 1. Rows "
        "are also printed; when standard output closes the run goes on");
    o.log
        ->add_option("--sources", o.sources,
                     "Comma-separated: A..H, heater1, heater2, analog1, analog2, "
                     "setpoint1..setpoint4")
        ->required();
    o.log->add_option("--interval", o.interval, "Seconds between samples, 0.1..120000")->required();
    o.log->add_option("--out", o.out, "The log file (created or emptied)")->required();
    auto* count = o.log->add_option("--count", o.count, "Stop after this many rows")
                      ->check(CLI::PositiveNumber);
    o.log->add_option("--duration", o.duration, "Stop after this many seconds")
        ->check(CLI::PositiveNumber)
        ->excludes(count);
    o.log->add_flag("--keep-going", o.keepGoing,
                    "Ride through a lost link: the file notes when communication was lost and "
                    "restored, the link is reopened (after 1 s, doubling up to 60 s) and rows "
                    "go on; a different instrument answering ends the run");
    o.log->add_flag("--no-sync", o.noSync,
                    "Do not wait for each row to reach the disk (a crash may then lose rows)");
    o.log
        ->add_option("--time-format", o.timeFormat,
                     "How each row's time is written: hms (H:M:S, the default) or iso (ISO 8601 "
                     "with milliseconds and the UTC offset); default: the setting [LOG] "
                     "TIMEFORMAT")
        ->check(CLI::IsMember({"hms", "iso"}));

    AddShareOptions(*o.log, o.logShare, "--share", false);
    o.monitor = app.add_subcommand(
        "monitor",
        "Poll monitors as the monitor windows do: one line per poll (time, source, value, unit, "
        "name), the polls spread over the interval");
    o.monitor->add_option("SOURCE", o.monitorSources, "A..H, heater1, heater2, analog1, analog2")
        ->required();
    o.monitor->add_option("--count", o.count, "Stop after this many polls")
        ->check(CLI::PositiveNumber);
    o.monitor
        ->add_option("--interval", o.interval,
                     "Seconds per round of polls (default: the stored logging interval)")
        ->check(CLI::PositiveNumber);

    AddShareOptions(*o.monitor, o.monitorShare, "--share", false);
    o.datalog = app.add_subcommand("datalog", "The instrument's internal data log");
    o.datalog->require_subcommand(1);
    o.upload = o.datalog->add_subcommand(
        "upload", "Copy the internal data log into FILE, as the instrument sends it");
    o.upload->add_option("FILE", o.uploadFile, "The file to write")->required();
}

bool LoggingCommandParsed(const LoggingCliOptions& o) {
    return (o.log && o.log->parsed()) || (o.monitor && o.monitor->parsed()) ||
           (o.upload && o.upload->parsed());
}

void BlockStopSignals() {
    const sigset_t set = StopSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int RunLoggingCommand(const LoggingCliOptions& o, CliSession& s) {
    if (o.log->parsed()) return RunLog(o, s);
    if (o.monitor->parsed()) return RunMonitor(o, s);
    return RunUpload(o, s);
}

}  // namespace tavrix::cli
