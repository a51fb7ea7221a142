// A long logging run over LAN to the simulated controller at the smallest interval (0.1 s),
// all sixteen sources (the simulator and the capability record both given every input and
// every loop, a profile no single model has): cycles due and made, coalesced ticks, rows on
// disk, CPU per hour of logging, and the price of syncing each row, against the same run
// without. With --cycles, a compressed soak instead: that many cycles back to back, as fast
// as the link allows, with the resident memory after a warm-up and at the end. The simulator
// runs as a process of its own (tavrix-sim), so that CPU and memory are the program's alone.
//
//   logging_soak [--seconds S]     (default 600 per run; two runs)
//   logging_soak --cycles N
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "BenchLogging.h"
#include "BenchSupport.h"
#include "base/OperatorInterface.h"
#include "base/SettingsStore.h"
#include "link/CInstrumentLink.h"
#include "link/FeatureManager.h"
#include "logging/DataLoggingEngine.h"
#include "logging/DeadlinePacer.h"

using namespace tavrix;
using tavrix::bench::CpuSeconds;
using tavrix::bench::Figure;
using tavrix::bench::QuietOperator;
using Clock = std::chrono::steady_clock;

namespace {

struct NullLog : LogSink {
    void Append(const std::string&) override {}
};

struct RunFigures {
    long due = 0, made = 0, coalesced = 0, skipped = 0, rowsOnDisk = 0, failed = 0;
    double cpu = 0, seconds = 0, meanLatencyMs = 0, maxLatencyMs = 0;
    int sources = 0;
    long rssWarmKiB = 0, rssEndKiB = 0;
};

// Timer 100 for the compressed soak: no timer at all; each row written asks for the next.
struct NoTimer : LogTimer {
    int SetTimer(int id, int) override { return id; }
    void KillTimer(int) override {}
};

// Every input and every loop, which no single model has.
constexpr FeatureManager::Row kEverySource = {28,  FeatureManager::kController, 8, 4, 1, 1, true,
                                              true};
constexpr long kWarmUpCycles = 1000;

RunFigures Run(const std::string& dir, int port, bool sync, double seconds, long cycles) {
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
    features.Apply(kEverySource);
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
    std::atomic<long> rssWarm{0};
    engine->onRowWritten = [&](long rows, const std::string&) {
        if (cycles > 0) {
            if (rows == kWarmUpCycles) rssWarm = bench::ResidentKiB();
            if (rows < cycles) engine->OnTick(sample);
            return;
        }
        std::lock_guard lock(m);
        const double ms =
            std::chrono::duration<double, std::milli>(Clock::now() - lastTick).count();
        sumMs += ms;
        maxMs = std::max(maxMs, ms);
        ++samples;
    };
    const std::string path = dir + (cycles > 0 ? "/soak-compressed.csv"
                                    : sync     ? "/soak-sync.csv"
                                               : "/soak-nosync.csv");
    NoTimer noTimer;
    std::thread sampler([&] { engine->RunSamplingThread(quit, sample); });
    const double cpu0 = CpuSeconds();
    const auto t0 = Clock::now();
    LogTimer& timer = cycles > 0 ? static_cast<LogTimer&>(noTimer) : pacer;
    if (engine->BeginRun(0xFFFF, interval, path, timer) != 0) {
        quit.Set();
        sampler.join();
        return f;
    }
    for (int i = 0; i < 16; ++i) f.sources += engine->SourceEnabled(i) ? 1 : 0;
    if (cycles > 0) engine->OnTick(sample);
    const auto done = [&] {
        return cycles > 0 ? engine->rowsWritten.load() >= cycles
                          : Clock::now() - t0 >= std::chrono::duration<double>(seconds);
    };
    while (!done() && engine->RunOpen())
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    f.rssWarmKiB = rssWarm.load();
    f.rssEndKiB = bench::ResidentKiB();
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
    long columns = -1;  // of the first row; a row with another count is torn
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!std::regex_match(line, row)) continue;
        const long commas = std::count(line.begin(), line.end(), ',');
        if (columns < 0) columns = commas;
        if (commas == columns) ++f.rowsOnDisk;
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
    std::printf("  CPU %.3f s = %.1f CPU seconds per hour of logging\n", f.cpu,
                f.cpu / f.seconds * 3600.0);
    std::printf("  tick to row on disk: mean %.2f ms, max %.2f ms\n", f.meanLatencyMs,
                f.maxLatencyMs);
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 600;
    long cycles = 0;
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds")) seconds = std::atof(argv[i + 1]);
        if (!std::strcmp(argv[i], "--cycles")) cycles = std::atol(argv[i + 1]);
    }
    char dirTemplate[] = "/tmp/tavrix-soak-XXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    bench::SimProcess sim(TAVRIX_SIM_PATH);
    if (sim.Port() <= 0) {
        std::fprintf(stderr, "tavrix-sim did not start (%s)\n", TAVRIX_SIM_PATH);
        return 1;
    }

    if (cycles > 0) {
        const RunFigures f = Run(dir, sim.Port(), true, 0, cycles);
        Print("compressed soak, back to back", f);
        Figure("compressed soak: rows on disk", static_cast<double>(f.rowsOnDisk), "rows",
               "cycles made", static_cast<double>(f.made));
        Figure("compressed soak: cycles per second", f.made / f.seconds, "cycles/s");
        Figure("compressed soak: resident memory at the end", f.rssEndKiB / 1024.0, "MiB",
               "after " + std::to_string(kWarmUpCycles) + " cycles", f.rssWarmKiB / 1024.0);
        const long growth = f.rssEndKiB - f.rssWarmKiB;
        std::printf("resident memory growth %ld KiB (%s 1024 KiB)\n", growth,
                    growth < 1024 ? "under" : "NOT UNDER");
        const bool ok = f.made >= cycles && f.rowsOnDisk == f.made && growth < 1024;
        std::filesystem::remove_all(dir);
        return ok ? 0 : 1;
    }

    const RunFigures synced = Run(dir, sim.Port(), true, seconds, 0);
    const RunFigures unsynced = Run(dir, sim.Port(), false, seconds, 0);
    Print("each row synced (fdatasync)", synced);
    Print("baseline without the sync", unsynced);
    Figure("logging soak: cycles made", static_cast<double>(synced.made), "cycles", "cycles due",
           static_cast<double>(synced.due));
    Figure("logging soak: coalesced ticks", static_cast<double>(synced.coalesced), "ticks");
    Figure("logging soak: missed deadlines", static_cast<double>(synced.skipped), "deadlines");
    Figure("logging soak: rows on disk", static_cast<double>(synced.rowsOnDisk), "rows",
           "cycles made", static_cast<double>(synced.made));
    Figure("logging soak: CPU per hour of logging", synced.cpu / synced.seconds * 3600.0, "CPU s/h",
           "without the per-row sync", unsynced.cpu / unsynced.seconds * 3600.0);
    Figure("logging soak: tick to row on disk", synced.meanLatencyMs, "ms",
           "without the per-row sync", unsynced.meanLatencyMs);
    const bool ok = synced.rowsOnDisk == synced.made && unsynced.rowsOnDisk == unsynced.made &&
                    synced.sources == 16;
    std::filesystem::remove_all(dir);
    return ok ? 0 : 1;
}
