// A client's query through the sharing port against the same query made directly on the link,
// in the same run; then the client's latency while a logging run of sixteen sources at 0.1 s
// shares the instrument, and that run's missed cycles.
//
//   share_roundtrip [--iterations N] [--seconds S]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

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

int Connect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(0x7F000001u);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

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

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

// Idle: the same query made directly on the link and through a share of that link.
void Idle(int iterations) {
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
    const int fd = Connect(share.Port());
    std::string reply;
    double direct = 1e99, shared = 1e99;
    for (int run = 0; run < 3; ++run) {
        auto start = Clock::now();
        for (int i = 0; i < iterations; ++i) {
            SessionLock lock(mutex, 1000);
            link.TransactQuiet("INP A:TEMP?", &reply);
        }
        direct = std::min(direct, std::chrono::duration<double, std::micro>(Clock::now() - start)
                                          .count() / iterations);
        start = Clock::now();
        for (int i = 0; i < iterations; ++i) Ask(fd, "INP A:TEMP?", reply);
        shared = std::min(shared, std::chrono::duration<double, std::micro>(Clock::now() - start)
                                          .count() / iterations);
    }
    ::close(fd);
    std::printf("idle: direct %.1f us, through the share %.1f us, overhead %+.1f us (target: "
                "within max(10 %%, 300 us) = %.1f us)\n",
                direct, shared, shared - direct, std::max(direct * 0.1, 300.0));
    bench::Figure("share query round trip, idle", shared, "us", "the link directly", direct);
    bench::Figure("share overhead, idle", shared - direct, "us");
    share.Stop();
}

// Busy: tavrix-sim with every input and loop, a `tavrix-cli log` of all sixteen sources at
// 0.1 s sharing it, and this process as a client querying flat out.
void Busy(double seconds) {
    char dir[] = "/tmp/tavrix-share-busy-XXXXXX";
    if (!::mkdtemp(dir)) return;
    const std::string d = dir;
    const std::string simOut = d + "/sim.out", cliErr = d + "/cli.err";
    const pid_t sim = ::fork();
    if (sim == 0) {
        ::freopen(simOut.c_str(), "w", stdout);
        ::execl(TAVRIX_SIM_PATH, "tavrix-sim", "--tcp", "0", "--inputs", "8", "--loops", "4",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int simPort = 0;
    for (int i = 0; i < 100 && simPort == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::ifstream in(simOut);
        std::string text((std::istreambuf_iterator<char>(in)), {});
        std::smatch m;
        if (std::regex_search(text, m, std::regex("tcp: (\\d+)"))) simPort = std::stoi(m[1]);
    }
    if (simPort == 0) {
        std::fprintf(stderr, "the simulator did not say its port\n");
        ::kill(sim, SIGKILL);
        return;
    }
    const std::string lan = "127.0.0.1:" + std::to_string(simPort);
    const std::string duration = std::to_string(seconds);
    const pid_t cli = ::fork();
    if (cli == 0) {
        ::freopen(cliErr.c_str(), "w", stderr);
        ::freopen("/dev/null", "w", stdout);
        ::setenv("TAVRIX_CONFIG_DIR", dir, 1);
        ::execl(TAVRIX_CLI_PATH, "tavrix-cli", "--lan", lan.c_str(), "log", "--sources",
                "A,B,C,D,E,F,G,H,heater1,heater2,analog1,analog2,setpoint1,setpoint2,setpoint3,"
                "setpoint4",
                "--interval", "0.1", "--duration", duration.c_str(), "--out",
                (d + "/log.csv").c_str(), "--share", "127.0.0.1:0", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int sharePort = 0;
    for (int i = 0; i < 200 && sharePort == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::ifstream in(cliErr);
        std::string text((std::istreambuf_iterator<char>(in)), {});
        std::smatch m;
        if (std::regex_search(text, m, std::regex("listening on 127\\.0\\.0\\.1:(\\d+)")))
            sharePort = std::stoi(m[1]);
    }
    std::vector<double> latencies;
    if (sharePort != 0) {
        const int fd = Connect(sharePort);
        std::string reply;
        const auto end = Clock::now() + std::chrono::duration<double>(seconds - 1.0);
        while (Clock::now() < end) {
            const auto t = Clock::now();
            if (!Ask(fd, "INP A:TEMP?", reply)) break;
            latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t).count());
        }
        ::close(fd);
    }
    int status = 0;
    ::waitpid(cli, &status, 0);
    ::kill(sim, SIGTERM);
    ::waitpid(sim, nullptr, 0);
    std::ifstream in(cliErr);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    std::smatch m;
    long made = -1, coalesced = -1;
    if (std::regex_search(text, m, std::regex("(\\d+) cycle\\(s\\) made, (\\d+) tick\\(s\\) coalesced"))) {
        made = std::stol(m[1]);
        coalesced = std::stol(m[2]);
    }
    std::printf("busy: %zu client queries, p50 %.2f ms, p99 %.2f ms; logging: %ld cycles made, "
                "%ld missed (target 0)\n",
                latencies.size(), Percentile(latencies, 0.5), Percentile(latencies, 0.99), made,
                coalesced);
    bench::Figure("share client latency p50, logging 16 sources at 0.1 s",
                  Percentile(latencies, 0.5), "ms");
    bench::Figure("share client latency p99, logging 16 sources at 0.1 s",
                  Percentile(latencies, 0.99), "ms");
    bench::Figure("logging cycles missed while shared", static_cast<double>(coalesced), "cycles");
}

}  // namespace

int main(int argc, char** argv) {
    int iterations = 2000;
    double seconds = 20;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--iterations")) iterations = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--seconds")) seconds = std::atof(argv[i + 1]);
    }
    Idle(iterations);
    Busy(seconds);
    return 0;
}
