// A client's query through the sharing port against the same query made directly on the link,
// in the same run; then a logging run of sixteen sources at 0.1 s with the share open, once
// without a client and once with a client querying through it flat out: the client's p50/p99
// against the idle ones, and the run's missed cycles and coalesced ticks against the run
// without the client.
//
//   share_roundtrip [--iterations N] [--seconds S]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "BenchLogging.h"
#include "BenchSupport.h"
#include "base/SettingsStore.h"
#include "engine/SimEngine.h"
#include "engine/SimFrontEnds.h"
#include "link/CInstrumentLink.h"
#include "serve/ShareServer.h"

using namespace tavrix;
using tavrix::bench::QuietOperator;
using Clock = std::chrono::steady_clock;

namespace {

class NullLog : public LogSink {
public:
    void Append(const std::string&) override {}
};


bool Ask(int fd, const std::string& query, std::string& line) {
    const std::string out = query + "\n";
    if (::send(fd, out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size()))
        return false;
    line.clear();
    char buf[512];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0) return false;
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) return false;
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] == '\n') return true;
            if (buf[i] != '\r') line.push_back(buf[i]);
        }
    }
}

// Idle: the same query made directly on the link and through a share of that link.
void Idle(int iterations, std::vector<double>& latencies) {
    char dir[] = "/tmp/tavrix-share-bench-XXXXXX";
    if (!::mkdtemp(dir)) return;
    sim::SimEngine engine(sim::SimOptions{28, 7});
    sim::TcpFrontEnd tcp(engine, 0);
    SettingsStore settings(dir);
    QuietOperator op;
    CInstrumentLink link(op, settings);
    link.StartUp();
    link.SetPortType(kPortLan);
    link.IpAddr() = MyIPAddr(0x7F000001u, static_cast<unsigned long>(tcp.Port()));
    if (link.LanConnect() != 1) {
        std::fprintf(stderr, "no LAN connection to the simulator\n");
        return;
    }
    SessionMutex mutex;
    NullLog log;
    ShareServer share(link, mutex, log);
    std::string error;
    if (!share.Start(ShareOptions{}, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return;
    }
    const int fd = bench::ConnectLoopback(share.Port());
    std::string reply;
    double direct = 1e99, shared = 1e99;
    for (int run = 0; run < 3; ++run) {
        auto start = Clock::now();
        for (int i = 0; i < iterations; ++i) {
            SessionLock lock(mutex, 1000);
            link.TransactQuiet("INP A:TEMP?", &reply);
        }
        direct = std::min(
            direct,
            std::chrono::duration<double, std::micro>(Clock::now() - start).count() / iterations);
        start = Clock::now();
        for (int i = 0; i < iterations; ++i) {
            const auto t = Clock::now();
            Ask(fd, "INP A:TEMP?", reply);
            latencies.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - t).count());
        }
        shared = std::min(
            shared,
            std::chrono::duration<double, std::micro>(Clock::now() - start).count() / iterations);
    }
    ::close(fd);
    std::printf(
        "idle: direct %.1f us, through the share %.1f us, overhead %+.1f us (target: "
        "within max(10 %%, 300 us) = %.1f us)\n",
        direct, shared, shared - direct, std::max(direct * 0.1, 300.0));
    bench::Figure("share query round trip, idle", shared, "us", "the link directly", direct);
    bench::Figure("share overhead, idle", shared - direct, "us");
    share.Stop();
}

// Busy: a logging run of all sixteen sources at 0.1 s over LAN to tavrix-sim (every input and
// loop), with a share of the same link serving clients; once with nobody connected, once with
// a client querying through the share flat out, for the same length in the same process.
void Busy(double seconds, const std::vector<double>& idleLatencies) {
    char dirTemplate[] = "/tmp/tavrix-share-busy-XXXXXX";
    if (!::mkdtemp(dirTemplate)) return;
    const std::string dir = dirTemplate;
    bench::SimProcess sim(TAVRIX_SIM_PATH);
    if (sim.Port() <= 0) {
        std::fprintf(stderr, "tavrix-sim did not start (%s)\n", TAVRIX_SIM_PATH);
        return;
    }
    bench::SoakRig rig(dir, sim.Port());
    if (!rig.Connected()) {
        std::fprintf(stderr, "no LAN connection to the simulator\n");
        return;
    }
    NullLog log;
    ShareServer share(rig.Link(), rig.Mutex(), log);
    std::string error;
    if (!share.Start(ShareOptions{}, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return;
    }
    const bench::SoakRig::Figures alone = rig.Run(dir + "/alone.csv", 0.1, seconds);

    std::vector<double> latencies;
    long refused = 0;
    std::atomic<bool> stop{false};
    std::thread client([&] {
        const int fd = bench::ConnectLoopback(share.Port());
        std::string reply;
        while (fd >= 0 && !stop.load()) {
            const auto t = Clock::now();
            if (!Ask(fd, "INP A:TEMP?", reply)) break;
            if (!reply.empty() && reply[0] == ShareServer::kNak) ++refused;
            latencies.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - t).count());
        }
        if (fd >= 0) ::close(fd);
    });
    const bench::SoakRig::Figures shared = rig.Run(dir + "/shared.csv", 0.1, seconds);
    stop = true;
    client.join();
    share.Stop();
    std::filesystem::remove_all(dir);

    bench::PrintRun("logging, share open, no client", alone);
    bench::PrintRun("logging, a client querying through the share flat out", shared, false);
    const double p50 = bench::Percentile(latencies, 0.5), p99 = bench::Percentile(latencies, 0.99);
    const double idle50 = bench::Percentile(idleLatencies, 0.5),
                 idle99 = bench::Percentile(idleLatencies, 0.99);
    std::printf(
        "client: %zu queries (%ld refused), p50 %.1f us, p99 %.1f us, max %.1f us; idle p50 "
        "%.1f us, p99 %.1f us\n",
        latencies.size(), refused, p50, p99, bench::Percentile(latencies, 1.0), idle50, idle99);
    const auto missed = [](const bench::SoakRig::Figures& f) {
        return static_cast<double>(std::max(0L, f.due - f.made));
    };
    std::printf("missed cycles (due - made): %.0f with the client, %.0f without (target 0)\n",
                missed(shared), missed(alone));
    bench::Figure("share client query p50, logging 16 sources at 0.1 s", p50, "us",
                  "idle share p50", idle50);
    bench::Figure("share client query p99, logging 16 sources at 0.1 s", p99, "us",
                  "idle share p99", idle99);
    bench::Figure("logging cycles missed, a client on the share", missed(shared), "cycles",
                  "no client", missed(alone));
    bench::Figure("logging coalesced ticks, a client on the share",
                  static_cast<double>(shared.coalesced), "ticks", "no client",
                  static_cast<double>(alone.coalesced));
    bench::Figure("logging cycles skipped for a busy instrument, a client on the share",
                  static_cast<double>(shared.busy), "cycles", "no client",
                  static_cast<double>(alone.busy));
}

}  // namespace

int main(int argc, char** argv) {
    int iterations = 2000;
    double seconds = 20;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--iterations")) iterations = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--seconds")) seconds = std::atof(argv[i + 1]);
    }
    std::vector<double> idleLatencies;
    Idle(iterations, idleLatencies);
    Busy(seconds, idleLatencies);
    return 0;
}
