// Round trip of a query through the link against a raw exchange with the same simulated
// controller, in the same run; and the CPU an idle or waiting link uses.
//
//   link_roundtrip [--iterations N] [--idle-seconds S]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "BenchSupport.h"
#include "base/OperatorInterface.h"
#include "base/SettingsStore.h"
#include "engine/SimEngine.h"
#include "engine/SimFrontEnds.h"
#include "link/CInstrumentLink.h"

using namespace tavrix;
using tavrix::bench::CpuSeconds;
using tavrix::bench::QuietOperator;
using Clock = std::chrono::steady_clock;

namespace {

// Reads up to LF in as few system calls as possible (the instrument sends one line per
// query, so nothing after the LF is lost); false on time-out.
bool ReadLine(int fd, std::string& line) {
    line.clear();
    char buf[512];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 2000) <= 0) return false;
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) return false;
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] == '\n') return true;
            if (buf[i] != '\r') line.push_back(buf[i]);
        }
    }
}

// Best of three runs, so that a stray scheduling hiccup does not decide the figure.
template <typename F>
double MicrosPerCall(int n, F&& f) {
    double best = 1e99;
    for (int run = 0; run < 3; ++run) {
        const auto start = Clock::now();
        for (int i = 0; i < n; ++i) f();
        best = std::min(
            best, std::chrono::duration<double, std::micro>(Clock::now() - start).count() / n);
    }
    return best;
}

void Report(const char* what, double raw, double link) {
    const double overhead = link - raw;
    const double allowed = std::max(raw * 0.10, 200.0);
    std::printf(
        "%-6s raw %9.1f us   link %9.1f us   ratio %.3f   overhead %+8.1f us  (%s: at most %.1f "
        "us)\n",
        what, raw, link, link / raw, overhead, overhead <= allowed ? "within" : "OVER", allowed);
    bench::Figure(std::string("query round trip, ") + what, link, "us", "raw I/O", raw);
}

}  // namespace

int main(int argc, char** argv) {
    int iterations = 2000;
    int idleSeconds = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--iterations")) iterations = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--idle-seconds")) idleSeconds = std::atoi(argv[i + 1]);
    }
    char dirTemplate[] = "/tmp/tavrix-bench-XXXXXX";
    SettingsStore settings(mkdtemp(dirTemplate));
    sim::SimEngine engine;
    sim::TcpFrontEnd tcp(engine, 0);
    sim::PtyFrontEnd pty(engine);
    QuietOperator op;
    const std::string query = "*IDN?";
    std::string reply;

    // TCP: a raw socket against the link's LAN path.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(tcp.Port()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return 1;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const double rawTcp = MicrosPerCall(iterations, [&] {
        const std::string out = query + "\r\n";
        (void)!write(fd, out.data(), out.size());
        ReadLine(fd, reply);
    });
    close(fd);

    CInstrumentLink lan(op, settings);
    lan.SetSerialDeviceOverride("/nonexistent");
    lan.StartUp();
    lan.SetPortType(kPortLan);
    lan.IpAddr() = MyIPAddr(0x7F000001u, static_cast<unsigned long>(tcp.Port()));
    if (lan.LanConnect() != 1) return 1;
    const double linkTcp = MicrosPerCall(iterations, [&] { lan.Query(query, reply); });

    // Pseudo-terminal: raw writes and reads against the link's RS232 path.
    int tty = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    tcgetattr(tty, &t);
    cfmakeraw(&t);
    tcsetattr(tty, TCSANOW, &t);
    const double rawPty = MicrosPerCall(iterations, [&] {
        const std::string out = "\n" + query + "\n";
        (void)!write(tty, out.data(), out.size());
        ReadLine(tty, reply);
    });
    close(tty);

    CInstrumentLink serial(op, settings);
    serial.SetSerialDeviceOverride(pty.SlavePath());
    serial.StartUp();
    const double linkPty = MicrosPerCall(iterations, [&] { serial.Query(query, reply); });

    std::printf("Query round trip \"%s\" to the simulated controller, %d iterations each\n",
                query.c_str(), iterations);
    Report("TCP", rawTcp, linkTcp);
    Report("pty", rawPty, linkPty);

    // An idle open link: nothing runs but the simulator's own waiting threads.
    double cpu0 = CpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    bench::Figure("idle open links (LAN and pty), CPU", CpuSeconds() - cpu0, "CPU s",
                  "wall seconds", idleSeconds);

    // Waiting on a silent instrument: queries that time out, one after the other.
    engine.Faults().silent = true;
    cpu0 = CpuSeconds();
    auto end = Clock::now() + std::chrono::seconds(idleSeconds);
    int waits = 0;
    while (Clock::now() < end) {
        serial.TransactQuiet(query, &reply);
        lan.TransactQuiet(query, &reply);
        ++waits;
    }
    std::printf("Waiting on a silent instrument: %d time-outs per transport\n", waits);
    bench::Figure("waiting on a silent instrument, CPU", CpuSeconds() - cpu0, "CPU s",
                  "wall seconds", idleSeconds);
    return 0;
}
