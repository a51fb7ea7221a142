// A long logging run over LAN to the simulated controller at the smallest interval (0.1 s),
// every source the simulated model has: cycles due and made, coalesced ticks, rows on disk,
// CPU per hour of logging, and the price of syncing each row, against the same run without.
//
//   logging_soak [--seconds S]     (default 600 per run; two runs)
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/OperatorInterface.h"
#include "base/SettingsStore.h"
#include "engine/SimEngine.h"
#include "engine/SimFrontEnds.h"
#include "link/CInstrumentLink.h"
#include "link/FeatureManager.h"
#include "logging/DataLoggingEngine.h"
#include "logging/DeadlinePacer.h"

using namespace tavrix;
using Clock = std::chrono::steady_clock;

namespace {

class QuietOperator : public OperatorInterface {
public:
    void ShowMessage(const std::string& t, MessageIcon) override {
        std::fprintf(stderr, "message: %s\n", t.c_str());
    }
    bool AskYesNo(const std::string&, MessageIcon) override { return false; }
    std::unique_ptr<ProgressWindow> OpenProgress() override {
        return std::make_unique<SilentProgress>();
    }
    void PumpMessages() override {}
    DialogResult<std::string> AskOpenFile(const FileDialogRequest&) override {
        return DialogResult<std::string>::Failed();
    }
    DialogResult<std::string> AskSaveFile(const FileDialogRequest&) override {
        return DialogResult<std::string>::Failed();
    }
};

struct NullLog : LogSink {
    void Append(const std::string&) override {}
};

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct RunFigures {
    long due = 0, made = 0, coalesced = 0, skipped = 0, rowsOnDisk = 0, failed = 0;
    double cpu = 0, seconds = 0, meanLatencyMs = 0, maxLatencyMs = 0;
    int sources = 0;
};

RunFigures Run(const std::string& dir, int port, bool sync, double seconds) {
    SettingsStore settings(dir);
    QuietOperator op;
    NullLog log;
    CInstrumentLink link(op, settings);
    link.SetSerialDeviceOverride("/nonexistent");
    link.StartUp();
    link.SetPortType(kPortLan);
    link.IpAddr() = MyIPAddr(0x7F000001u, static_cast<unsigned long>(port));
    RunFigures f;
    if (link.LanConnect() != 1) return f;
    SessionMutex mutex;
    FeatureManager features;
    features.Update(28);
    std::atomic<bool> active{false};
    double interval = 0.1;
    HeadlessProgressWindow progress;
    SystemLogClock clock;
    ManualResetEvent quit, sample;
    std::unique_ptr<DataLoggingEngine> engine;
    engine = std::make_unique<DataLoggingEngine>(
        LoggingContext{link, mutex, features, op, log, settings, active, [&] { return interval; },
                       [&](double v) { interval = v; },
                       [&](LogReport r) {
                           if (r == LogReport::CommError) engine->OnCommError();
                           if (r == LogReport::FileError) engine->OnFileError();
                       }},
        progress, clock);
    progress.onStop = [&] { engine->Stop(); };
    engine->syncEachRow = sync;
    // Latency from a tick to its row on disk.
    std::mutex m;
    Clock::time_point lastTick{};
    double sumMs = 0, maxMs = 0;
    long samples = 0;
    DeadlinePacer pacer([&] {
        {
            std::lock_guard lock(m);
            if (!sample.IsSet()) lastTick = Clock::now();
        }
        engine->OnTick(sample);
    });
    engine->onRowWritten = [&](long, const std::string&) {
        std::lock_guard lock(m);
        const double ms =
            std::chrono::duration<double, std::milli>(Clock::now() - lastTick).count();
        sumMs += ms;
        maxMs = std::max(maxMs, ms);
        ++samples;
    };
    const std::string path = dir + (sync ? "/soak-sync.csv" : "/soak-nosync.csv");
    std::thread sampler([&] { engine->RunSamplingThread(quit, sample); });
    const double cpu0 = CpuSeconds();
    const auto t0 = Clock::now();
    if (engine->BeginRun(0xFFFF, interval, path, pacer) != 0) {
        quit.Set();
        sampler.join();
        return f;
    }
    for (int i = 0; i < 16; ++i) f.sources += engine->SourceEnabled(i) ? 1 : 0;
    while (Clock::now() - t0 < std::chrono::duration<double>(seconds) && engine->RunOpen())
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    f.due = pacer.DeadlinesPassed();
    f.skipped = pacer.Skipped();
    engine->Stop();
    quit.Set();
    sampler.join();
    f.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    f.cpu = CpuSeconds() - cpu0;
    f.made = engine->cyclesMade.load();
    f.coalesced = engine->coalescedTicks.load();
    f.failed = engine->failedCycles.load();
    f.meanLatencyMs = samples ? sumMs / samples : 0;
    f.maxLatencyMs = maxMs;
    std::ifstream in(path);
    const std::regex row(R"(\d+:\d+:\d+,.*)");
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (std::regex_match(line, row)) ++f.rowsOnDisk;
    }
    return f;
}

void Print(const char* name, const RunFigures& f) {
    std::printf("%s: %d sources, %.1f s\n", name, f.sources, f.seconds);
    std::printf(
        "  cycles due %ld, made %ld, coalesced ticks %ld, skipped deadlines %ld, failed %ld\n",
        f.due, f.made, f.coalesced, f.skipped, f.failed);
    std::printf("  rows on disk %ld (%s cycles made)\n", f.rowsOnDisk,
                f.rowsOnDisk == f.made ? "equals" : "DIFFERS FROM");
    std::printf("  CPU %.3f s = %.1f CPU seconds per hour of logging (simulator included)\n", f.cpu,
                f.cpu / f.seconds * 3600.0);
    std::printf("  tick to row on disk: mean %.2f ms, max %.2f ms\n", f.meanLatencyMs,
                f.maxLatencyMs);
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 600;
    for (int i = 1; i + 1 < argc; ++i)
        if (!std::strcmp(argv[i], "--seconds")) seconds = std::atof(argv[i + 1]);
    char dirTemplate[] = "/tmp/tavrix-soak-XXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    sim::SimEngine engine;
    sim::TcpFrontEnd tcp(engine, 0);
    const RunFigures synced = Run(dir, tcp.Port(), true, seconds);
    const RunFigures unsynced = Run(dir, tcp.Port(), false, seconds);
    Print("each row synced (fdatasync)", synced);
    Print("baseline without the sync", unsynced);
    if (unsynced.cpu > 0 && unsynced.meanLatencyMs > 0)
        std::printf("sync cost: CPU x%.2f, tick-to-disk latency x%.2f against the baseline\n",
                    synced.cpu / unsynced.cpu, synced.meanLatencyMs / unsynced.meanLatencyMs);
    const bool ok = synced.rowsOnDisk == synced.made && unsynced.rowsOnDisk == unsynced.made;
    return ok ? 0 : 1;
}
