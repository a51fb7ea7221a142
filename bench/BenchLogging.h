#pragma once

// What the logging benchmarks share: the simulator as a process of its own (so that CPU and
// memory are the program's alone), and a logging run of every source over LAN to it, driven
// in-process as the command line drives it (a deadline pacer, the sampling thread, each row
// synced).
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "BenchSupport.h"
#include "base/SettingsStore.h"
#include "link/CInstrumentLink.h"
#include "link/FeatureManager.h"
#include "logging/DataLoggingEngine.h"
#include "logging/DeadlinePacer.h"

namespace tavrix::bench {

// tavrix-sim with every input and loop, on a free TCP port of its own choosing.
class SimProcess {
public:
    explicit SimProcess(const char* path) {
        int out[2];
        if (pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const char* argv[] = {path, "--tcp", "0", "--inputs", "8", "--loops", "4", nullptr};
        if (posix_spawn(&pid_, path, &actions, nullptr, const_cast<char**>(argv), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        FILE* in = fdopen(out[0], "r");
        char line[256];
        while (pid_ > 0 && in && std::fgets(line, sizeof line, in))
            if (std::sscanf(line, "tcp: %d", &port_) == 1) break;
        if (in) std::fclose(in);
    }
    ~SimProcess() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;
    int Port() const { return port_; }

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

// p in [0, 1] of `v` (sorted here); 0 for none.
inline double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

// A LAN link to the simulator at `port` with every input and every loop known (a profile no
// single model has), and a logging engine over it. Run() logs all sixteen sources at the
// interval for the given time and returns what the run counted.
class SoakRig {
public:
    struct Figures {
        long due = 0, made = 0, coalesced = 0, skipped = 0, failed = 0, busy = 0, rows = 0;
        int sources = 0;
        double seconds = 0, cpu = 0;
        double tickToRowMeanMs = 0, tickToRowMaxMs = 0;  // from a tick to its row on disk
        bool began = false;
    };

    SoakRig(const std::string& dir, int port) : settings_(dir), link_(op_, settings_) {
        link_.SetSerialDeviceOverride("/nonexistent");
        link_.StartUp();
        link_.SetPortType(kPortLan);
        link_.IpAddr() = MyIPAddr(0x7F000001u, static_cast<unsigned long>(port));
        connected_ = link_.LanConnect() == 1;
        features_.Apply(
            FeatureManager::Row{28, FeatureManager::kController, 8, 4, 1, 1, true, true});
        engine_ = std::make_unique<DataLoggingEngine>(
            LoggingContext{link_, mutex_, features_, op_, log_, settings_, active_,
                           [this] { return interval_; }, [this](double v) { interval_ = v; },
                           [this](LogReport r) {
                               if (r == LogReport::CommError) engine_->OnCommError();
                               if (r == LogReport::FileError) engine_->OnFileError();
                           }},
            progress_, clock_);
        progress_.onStop = [this] { engine_->Stop(); };
        engine_->onRowWritten = [this](long rows, const std::string& row) {
            {
                std::lock_guard lock(tickMutex_);
                const double ms = std::chrono::duration<double, std::milli>(
                                      std::chrono::steady_clock::now() - lastTick_)
                                      .count();
                sumMs_ += ms;
                maxMs_ = std::max(maxMs_, ms);
                ++samples_;
            }
            if (onRow) onRow(rows, row);
        };
    }

    // Called after each row is written (on the sampling thread).
    std::function<void(long rows, const std::string& row)> onRow;

    bool Connected() const { return connected_; }
    CInstrumentLink& Link() { return link_; }
    SessionMutex& Mutex() { return mutex_; }
    DataLoggingEngine& Engine() { return *engine_; }

    // Logs every source at `interval` into `path` for `seconds`; `during` runs on this thread
    // every 100 ms while the run is open (nothing when empty).
    Figures Run(const std::string& path, double interval, double seconds,
                const std::function<void()>& during = {}) {
        Figures f;
        interval_ = interval;
        ManualResetEvent quit, sample;
        {
            std::lock_guard lock(tickMutex_);
            sumMs_ = maxMs_ = 0;
            samples_ = 0;
        }
        DeadlinePacer pacer([&] {
            {
                std::lock_guard lock(tickMutex_);
                if (!sample.IsSet()) lastTick_ = std::chrono::steady_clock::now();
            }
            engine_->OnTick(sample);
        });
        std::thread sampler([&] { engine_->RunSamplingThread(quit, sample); });
        // Counted since the engine was made: the run's own are the differences.
        const long made0 = engine_->cyclesMade.load(), coalesced0 = engine_->coalescedTicks.load(),
                   failed0 = engine_->failedCycles.load();
        const double cpu0 = CpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        f.began = engine_->BeginRun(0xFFFF, interval, path, pacer) == 0;
        if (f.began) {
            for (int i = 0; i < kLogSourceCount; ++i) f.sources += engine_->SourceEnabled(i);
            while (engine_->RunOpen() &&
                   std::chrono::steady_clock::now() - t0 < std::chrono::duration<double>(seconds)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                if (during) during();
            }
            f.due = pacer.DeadlinesPassed();
            f.skipped = pacer.Skipped();
            engine_->Stop();
        }
        pacer.KillTimer(DataLoggingEngine::kTimerId);
        quit.Set();
        sampler.join();
        f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        f.cpu = CpuSeconds() - cpu0;
        f.made = engine_->cyclesMade.load() - made0;
        f.coalesced = engine_->coalescedTicks.load() - coalesced0;
        f.failed = engine_->failedCycles.load() - failed0;
        f.busy = engine_->busyCycles.load();   // counted per run
        f.rows = engine_->rowsWritten.load();  // counted per run
        std::lock_guard lock(tickMutex_);
        f.tickToRowMeanMs = samples_ ? sumMs_ / static_cast<double>(samples_) : 0;
        f.tickToRowMaxMs = maxMs_;
        return f;
    }

private:
    struct NullLog : LogSink {
        void Append(const std::string&) override {}
    };
    SettingsStore settings_;
    QuietOperator op_;
    NullLog log_;
    CInstrumentLink link_;
    SessionMutex mutex_;
    FeatureManager features_;
    std::atomic<bool> active_{false};
    double interval_ = 0.1;
    HeadlessProgressWindow progress_;
    SystemLogClock clock_;
    std::unique_ptr<DataLoggingEngine> engine_;
    bool connected_ = false;
    std::mutex tickMutex_;
    std::chrono::steady_clock::time_point lastTick_{};
    double sumMs_ = 0, maxMs_ = 0;
    long samples_ = 0;
};

// A run's counts, and its CPU unless the process did other work meanwhile (`cpu` off).
inline void PrintRun(const char* name, const SoakRig::Figures& f, bool cpu = true) {
    std::printf("%s: %d sources, %.1f s\n", name, f.sources, f.seconds);
    std::printf(
        "  cycles due %ld, made %ld, coalesced ticks %ld, skipped deadlines %ld, "
        "skipped for a busy instrument %ld, failed %ld, rows %ld\n",
        f.due, f.made, f.coalesced, f.skipped, f.busy, f.failed, f.rows);
    std::printf("  tick to row on disk: mean %.2f ms, max %.2f ms\n", f.tickToRowMeanMs,
                f.tickToRowMaxMs);
    if (cpu)
        std::printf("  CPU %.3f s = %.1f CPU seconds per hour of logging\n", f.cpu,
                    f.seconds > 0 ? f.cpu / f.seconds * 3600.0 : 0.0);
}

}  // namespace tavrix::bench
