// How long a run that rides through lost links takes to log again: from the moment the
// simulated controller goes away (and is back at once) to the first row written after it,
// over LAN (the server closes and listens again on its port) and over a pseudo-terminal
// reached through a stable name (the terminal goes and a new one takes the name). The baseline
// is the run's own pace: the mean time between two rows while nothing happens.
//
//   link_reconnect [--rounds N] [--interval SECONDS]
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "base/SettingsStore.h"
#include "engine/SimEngine.h"
#include "engine/SimFrontEnds.h"
#include "link/CInstrumentLink.h"
#include "link/FeatureManager.h"
#include "logging/DataLoggingEngine.h"
#include "logging/DeadlinePacer.h"

using namespace tavrix;
using tavrix::bench::Figure;
using tavrix::bench::QuietOperator;
using Clock = std::chrono::steady_clock;

namespace {

struct NullLog : LogSink {
    void Append(const std::string&) override {}
};

struct Result {
    std::vector<double> reconnectMs;
    double rowSpacingMs = 0;
    long losses = 0, missed = 0;
    bool ok = false;
};

// The controller's front end, which the bench takes away and brings back.
class Instrument {
public:
    Instrument(sim::SimEngine& engine, bool lan, const std::string& name)
        : engine_(engine), lan_(lan), name_(name) {
        Start(0);
    }
    void Restart() {
        tcp_.reset();
        pty_.reset();
        Start(port_);
    }
    int Port() const { return port_; }

private:
    void Start(int port) {
        if (lan_) {
            // The port just closed may take a moment to be free again.
            for (int i = 0; i < 100; ++i) {
                tcp_ = std::make_unique<sim::TcpFrontEnd>(engine_, port);
                if (tcp_->Ok()) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            port_ = tcp_->Port();
        } else {
            pty_ = std::make_unique<sim::PtyFrontEnd>(engine_);
            std::filesystem::remove(name_);
            std::filesystem::create_symlink(pty_->SlavePath(), name_);
        }
    }
    sim::SimEngine& engine_;
    bool lan_;
    std::string name_;
    int port_ = 0;
    std::unique_ptr<sim::TcpFrontEnd> tcp_;
    std::unique_ptr<sim::PtyFrontEnd> pty_;
};

Result Run(const std::string& dir, bool lan, int rounds, double interval) {
    Result r;
    sim::SimEngine simEngine(sim::SimOptions{28, 7});
    const std::string name = dir + (lan ? "/lan" : "/usb-Bench_Adapter-if00-port0");
    Instrument instrument(simEngine, lan, name);
    SettingsStore settings(dir);
    QuietOperator op;
    NullLog log;
    CInstrumentLink link(op, settings);
    link.SetSerialDeviceOverride(lan ? "/nonexistent" : name);
    link.StartUp();
    if (lan) {
        link.SetPortType(kPortLan);
        link.IpAddr() = MyIPAddr(0x7F000001u, static_cast<unsigned long>(instrument.Port()));
        if (link.LanConnect() != 1) return r;
    } else {
        link.SetPortType(kPortRs232);
    }
    SessionMutex mutex;
    ShortcutBarModel bar;
    FeatureManager features{&bar};
    features.Update(28);
    std::atomic<bool> active{false};
    HeadlessProgressWindow progress;
    SystemLogClock clock;
    ManualResetEvent quit, sample;
    std::unique_ptr<DataLoggingEngine> engine;
    std::atomic<bool> restored{false};
    engine = std::make_unique<DataLoggingEngine>(
        LoggingContext{link, mutex, features, op, log, settings, active, [&] { return interval; },
                       [&](double v) { interval = v; },
                       [&](LogReport rep) {
                           if (rep == LogReport::CommError) engine->OnCommError();
                           if (rep == LogReport::FileError) engine->OnFileError();
                           if (rep == LogReport::LinkRestored) restored = true;
                       }},
        progress, clock);
    progress.onStop = [&] { engine->Stop(); };
    engine->keepGoing = 1;
    std::mutex m;
    std::vector<Clock::time_point> rowTimes;
    engine->onRowWritten = [&](long, const std::string&) {
        std::lock_guard lock(m);
        rowTimes.push_back(Clock::now());
    };
    auto rowsSoFar = [&] {
        std::lock_guard lock(m);
        return rowTimes.size();
    };
    DeadlinePacer pacer([&] { engine->OnTick(sample); });
    std::thread sampler([&] { engine->RunSamplingThread(quit, sample); });
    auto waitFor = [&](auto done, double seconds) {
        const auto until = Clock::now() + std::chrono::duration<double>(seconds);
        while (!done() && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return done();
    };
    bool ok = engine->BeginRun(0x0003, interval, dir + (lan ? "/lan.csv" : "/pty.csv"), pacer) == 0;
    double spacingSum = 0;
    long spacings = 0;
    for (int round = 0; ok && round < rounds; ++round) {
        // A few quiet rows first: their spacing is the baseline.
        const size_t start = rowsSoFar();
        ok = waitFor([&] { return rowsSoFar() >= start + 3; }, 30 * interval + 10);
        if (!ok) break;
        {
            std::lock_guard lock(m);
            for (size_t i = rowTimes.size() - 2; i < rowTimes.size(); ++i) {
                spacingSum +=
                    std::chrono::duration<double, std::milli>(rowTimes[i] - rowTimes[i - 1])
                        .count();
                ++spacings;
            }
        }
        restored = false;
        const size_t before = rowsSoFar();
        const auto dropped = Clock::now();
        instrument.Restart();
        ok = waitFor([&] { return restored.load() && rowsSoFar() > before; }, 120);
        if (!ok) break;
        std::lock_guard lock(m);
        r.reconnectMs.push_back(
            std::chrono::duration<double, std::milli>(rowTimes.back() - dropped).count());
    }
    engine->Stop();
    pacer.KillTimer(DataLoggingEngine::kTimerId);
    quit.Set();
    sampler.join();
    const auto losses = engine->Losses();
    r.losses = losses.losses;
    r.missed = losses.missedTicks;
    r.rowSpacingMs = spacings ? spacingSum / static_cast<double>(spacings) : 0;
    r.ok = ok;
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 3;
    double interval = 0.5;
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[++i]);
        if (!std::strcmp(argv[i], "--interval")) interval = std::atof(argv[++i]);
    }
    char dirTemplate[] = "/tmp/tavrix-bench-reconnect-XXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    int status = 0;
    for (bool lan : {true, false}) {
        const char* what = lan ? "lan" : "pty";
        const Result r = Run(dir, lan, rounds, interval);
        if (!r.ok || r.reconnectMs.empty()) {
            std::fprintf(stderr, "%s: the run did not log again after a loss\n", what);
            status = 1;
            continue;
        }
        double sum = 0, worst = 0;
        for (double ms : r.reconnectMs) {
            sum += ms;
            worst = std::max(worst, ms);
        }
        const double mean = sum / static_cast<double>(r.reconnectMs.size());
        std::printf(
            "%s: %zu loss(es) (%ld counted), %ld missed tick(s); reconnect %.0f ms mean, "
            "%.0f ms worst; rows %.0f ms apart; first pause %.0f ms\n",
            what, r.reconnectMs.size(), r.losses, r.missed, mean, worst, r.rowSpacingMs, 1000.0);
        Figure(std::string("reconnect_") + what + "_loss_to_row_mean", mean, "ms", "row_spacing",
               r.rowSpacingMs);
        Figure(std::string("reconnect_") + what + "_loss_to_row_worst", worst, "ms", "row_spacing",
               r.rowSpacingMs);
    }
    std::filesystem::remove_all(dir);
    return status;
}
