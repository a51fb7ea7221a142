#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "engine/SimEngine.h"
#include "engine/SimFrontEnds.h"

namespace tavrix::sim {
namespace {

using Clock = std::chrono::steady_clock;

// A plain descriptor the test reads with poll: collects what arrives until `until` is seen or
// the time is up; `closed` tells whether the peer hung up.
struct Peer {
    int fd = -1;
    bool closed = false;
    ~Peer() {
        if (fd >= 0) ::close(fd);
    }
    void Send(const std::string& s) {
        ASSERT_EQ(::write(fd, s.data(), s.size()), (ssize_t)s.size());
    }
    std::string Read(int ms, const std::string& until = "") {
        std::string got;
        auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end) {
            if (!until.empty() && got.find(until) != std::string::npos) break;
            int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, left < 0 ? 0 : left) <= 0) break;
            char buf[4096];
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) {
                closed = true;
                break;
            }
            got.append(buf, static_cast<size_t>(n));
        }
        return got;
    }
};

void Connect(Peer& p, int port) {
    p.fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(p.fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
}

void OpenPty(Peer& p, const std::string& path) {
    p.fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(p.fd, 0) << path;
    termios t{};
    ::tcgetattr(p.fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(p.fd, TCSANOW, &t);
}

TEST(SimTcp, AnswersSeveralClientsWithLfLines) {
    SimEngine engine;
    TcpFrontEnd tcp(engine, 0);
    ASSERT_TRUE(tcp.Ok()) << tcp.Error();
    ASSERT_GT(tcp.Port(), 0);
    Peer a, b;
    Connect(a, tcp.Port());
    Connect(b, tcp.Port());
    a.Send("*IDN?\r\n");
    b.Send("*OPC?\n");
    EXPECT_EQ(a.Read(2000, "\n"), "Orvella Model 3028,0012328,2.04\n");
    EXPECT_EQ(b.Read(2000, "\n"), "1\n");
    // Two lines in one packet, and a command with no reply in between.
    a.Send("LOOP 1:SETPT 33\r\nLOOP 1:SETPT?\r\nPIDT 1:TABLE?\n");
    std::string got = a.Read(2000, ";\n");
    EXPECT_EQ(got.rfind("33.000\nDefault PID table 1\n", 0), 0u) << got;
    EXPECT_EQ(got.substr(got.size() - 3), "\n;\n");
    EXPECT_EQ(got.find('\r'), std::string::npos);
}

TEST(SimTcp, FaultsSilenceDelayGarbageAndDroppedTable) {
    SimEngine engine;
    TcpFrontEnd tcp(engine, 0);
    ASSERT_TRUE(tcp.Ok());
    Peer p;
    Connect(p, tcp.Port());

    p.Send("SIM:FAULT silent 1\n*IDN?\n");
    EXPECT_EQ(p.Read(300), "");
    p.Send("SIM:FAULT silent 0\nSIM:FAULT delay 300\n*OPC?\n");
    auto t0 = Clock::now();
    EXPECT_EQ(p.Read(3000, "\n"), "1\n");
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(280));

    p.Send("SIM:FAULT delay 0\nSIM:FAULT garbage 1\n*IDN?\n");
    std::string junk = p.Read(400);
    EXPECT_FALSE(junk.empty());
    EXPECT_EQ(junk.find('\n'), std::string::npos);
    EXPECT_NE(junk.find('\0'), std::string::npos);

    p.Send("SIM:FAULT garbage 0\nSIM:FAULT refuse 1\n*IDN?\n");
    EXPECT_EQ(p.Read(300), "");

    p.Send("SIM:FAULT refuse 0\nSIM:FAULT droptable 2\nPIDT 1:TABLE?\n");
    std::string cut = p.Read(2000);
    EXPECT_EQ(cut, "Default PID table 1\n10.000 50.000 20.000 0.000 LOW\n");
    EXPECT_TRUE(p.closed);
}

TEST(SimTcp, TrickledReplyArrivesWholeAndStopIsQuickWithClientsConnected) {
    auto engine = std::make_unique<SimEngine>();
    auto tcp = std::make_unique<TcpFrontEnd>(*engine, 0);
    Peer p, idle;
    Connect(p, tcp->Port());
    Connect(idle, tcp->Port());
    p.Send("SIM:FAULT trickle 20\n*OPC?;*OPC?;*OPC?\n");
    auto t0 = Clock::now();
    EXPECT_EQ(p.Read(3000, "\n"), "1;1;1\n");
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(80));
    // Stopping in the middle of a long delay does not wait for it.
    p.Send("SIM:FAULT delay 10000\n*IDN?\n");
    ::usleep(100000);
    t0 = Clock::now();
    tcp.reset();
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(1000));
    EXPECT_EQ(p.Read(1000), "");
    EXPECT_TRUE(p.closed);
}

TEST(SimTcp, PortInUseIsReported) {
    SimEngine engine;
    TcpFrontEnd first(engine, 0);
    TcpFrontEnd second(engine, first.Port());
    EXPECT_FALSE(second.Ok());
    EXPECT_NE(second.Error().find(std::to_string(first.Port())), std::string::npos);
}

TEST(SimPty, LfFramedLinesGetCrLfRepliesAcrossReopens) {
    SimEngine engine;
    PtyFrontEnd pty(engine);
    ASSERT_TRUE(pty.Ok()) << pty.Error();
    {
        Peer port;
        OpenPty(port, pty.SlavePath());
        port.Send("\n*IDN?\n");
        EXPECT_EQ(port.Read(2000, "\r\n"), "Orvella Model 3028,0012328,2.04\r\n");
    }
    // The program closes and reopens its port: the simulator is still there.
    Peer port;
    OpenPty(port, pty.SlavePath());
    port.Send("\nINP A:NAME?;UNITS?;\n\nSYST:IDEF?\n");
    EXPECT_EQ(port.Read(2000, ",2\r\n"), "Input A;K\r\n28,12328,4,4,2,204,2\r\n");
    EXPECT_FALSE(port.closed);
}

TEST(SimPty, CutTableStopsAndTheLineStaysUsable) {
    SimEngine engine;
    PtyFrontEnd pty(engine);
    Peer port;
    OpenPty(port, pty.SlavePath());
    port.Send("\nSIM:FAULT droptable 1\n\nPIDT 1:TABLE?\n");
    EXPECT_EQ(port.Read(500), "Default PID table 1\r\n");
    port.Send("\nSIM:FAULT CLEAR\n\n*OPC?\n");
    EXPECT_EQ(port.Read(2000, "\r\n"), "1\r\n");
    port.Send("\nSIM:FAULT silent 1\n\n*OPC?\n");
    EXPECT_EQ(port.Read(300), "");
    EXPECT_EQ(engine.ReceivedLines().back(), "*OPC?");
}

// Runs tavrix-sim and returns what it printed first.
struct SimProcess {
    pid_t pid = -1;
    FILE* out = nullptr;
    // `before` runs in the shell first (a limit to set, say).
    explicit SimProcess(const std::string& args, const std::string& before = "") {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid = ::fork();
        if (pid == 0) {
            ::dup2(fds[1], 1);
            ::close(fds[0]);
            ::execl("/bin/sh", "sh", "-c",
                    (before + "exec " + TAVRIX_SIM_PATH + " " + args).c_str(), nullptr);
            ::_exit(127);
        }
        ::close(fds[1]);
        out = ::fdopen(fds[0], "r");
    }
    std::string Line() {
        char buf[256] = {};
        if (!out || !std::fgets(buf, sizeof buf, out)) return {};
        std::string s = buf;
        if (!s.empty() && s.back() == '\n') s.pop_back();
        return s;
    }
    int Stop(int sig) {
        ::kill(pid, sig);
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ~SimProcess() {
        if (pid > 0) Stop(SIGKILL);
        if (out) std::fclose(out);
    }
};

TEST(SimProgram, PrintsWhereItListensAndStopsCleanly) {
    SimProcess sim("--model 31 --tcp 0 --pty --seed 5");
    std::string tcpLine = sim.Line(), ptyLine = sim.Line();
    ASSERT_EQ(tcpLine.rfind("tcp: ", 0), 0u) << tcpLine;
    ASSERT_EQ(ptyLine.rfind("pty: /dev/", 0), 0u) << ptyLine;
    Peer lan, serial;
    Connect(lan, std::stoi(tcpLine.substr(5)));
    lan.Send("SYST:IDEF?\n");
    EXPECT_EQ(lan.Read(2000, "\n").substr(0, 3), "31,");
    OpenPty(serial, ptyLine.substr(5));
    serial.Send("\n*IDN?\n");
    EXPECT_NE(serial.Read(2000, "\r\n").find("Model 2912,"), std::string::npos);
    EXPECT_EQ(sim.Stop(SIGTERM), 0);

    SimProcess holder("--tcp 0");
    std::string held = holder.Line().substr(5);
    SimProcess clash("--tcp " + held + " 2>/dev/null");
    EXPECT_EQ(clash.Line(), "");
    int status = 0;
    ::waitpid(clash.pid, &status, 0);
    clash.pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0);
    EXPECT_EQ(holder.Stop(SIGINT), 0);

    SimProcess bad("--delay soon 2>/dev/null");
    ::waitpid(bad.pid, &status, 0);
    bad.pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
}

// ---------------------------------------------------------------------------------------------
// The TCP service stays bounded: a cap on clients, an idle time-out, control lines from
// loopback clients only, and no spinning when descriptors run out.

TEST(SimTcp, ClientsBeyondTheCapAreRefusedAndIdleOnesClosed) {
    SimEngine engine;
    TcpServiceLimits limits;
    limits.maxClients = 2;
    limits.idleSeconds = 1;
    TcpFrontEnd tcp(engine, 0, false, limits);
    ASSERT_TRUE(tcp.Ok());
    Peer a, b, c;
    Connect(a, tcp.Port());
    Connect(b, tcp.Port());
    a.Send("*IDN?\n");
    b.Send("*IDN?\n");
    EXPECT_NE(a.Read(3000, "\n").find("Model"), std::string::npos);
    EXPECT_NE(b.Read(3000, "\n").find("Model"), std::string::npos);
    // The third is closed at once, whatever it sends.
    Connect(c, tcp.Port());
    c.Read(3000);
    EXPECT_TRUE(c.closed);
    EXPECT_EQ(tcp.RefusedConnections(), 1);

    // Silent for a second: closed, which makes room again.
    const auto start = Clock::now();
    a.Read(10000);
    b.Read(10000);
    EXPECT_TRUE(a.closed && b.closed);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(tcp.IdleClosedConnections(), 2);
    Peer d;
    Connect(d, tcp.Port());
    d.Send("*IDN?\n");
    EXPECT_NE(d.Read(3000, "\n").find("Model"), std::string::npos);
}

TEST(SimTcp, ControlLinesAreTakenFromLoopbackClientsOnlyUnlessAllowed) {
    const std::string other = test::OtherLocalAddress();
    if (other.empty()) GTEST_SKIP() << "no address but loopback on this machine";
    for (bool fromAny : {false, true}) {
        SimEngine engine;
        TcpServiceLimits limits;
        limits.controlFromAnyHost = fromAny;
        TcpFrontEnd tcp(engine, 0, true, limits);
        tcp.SetLineAcknowledgement(true);
        ASSERT_TRUE(tcp.Ok());
        Peer remote;
        remote.fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(tcp.Port()));
        ::inet_pton(AF_INET, other.c_str(), &to.sin_addr);
        ASSERT_EQ(::connect(remote.fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
        remote.Send("SIM:FAULT DELAY 50\n");
        EXPECT_EQ(remote.Read(3000, "\n"), fromAny ? "\x06\n" : "\x15\n");
        EXPECT_EQ(engine.Faults().delayMs.load(), fromAny ? 50 : 0);
    }
    // A client on the loopback interface switches faults as before.
    SimEngine engine;
    TcpFrontEnd tcp(engine, 0, true);
    Peer local;
    Connect(local, tcp.Port());
    local.Send("SIM:FAULT DELAY 50\n*IDN?\n");
    EXPECT_NE(local.Read(3000, "\n").find("Model"), std::string::npos);
    EXPECT_EQ(engine.Faults().delayMs.load(), 50);
}

// CPU time (user + system) of a process so far, in clock ticks.
long CpuTicks(pid_t pid) {
    FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (!f) return -1;
    char buf[1024] = {};
    const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    const std::string stat(buf, n);
    // Fields after the command's closing parenthesis: state is field 3, utime 14, stime 15.
    std::istringstream rest(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stol(field);
        if (i == 15) stime = std::stol(field);
    }
    return utime + stime;
}

// A connection to the loopback port made within `ms`; false when it was not made in time.
bool ConnectWithin(Peer& p, int port, int ms) {
    p.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(p.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS)
        return false;
    pollfd w{p.fd, POLLOUT, 0};
    int err = 0;
    socklen_t len = sizeof err;
    return ::poll(&w, 1, ms) == 1 && ::getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 &&
           err == 0;
}

TEST(SimProgram, OutOfDescriptorsItRefusesClientsWithoutSpinning) {
    // Few descriptors and a generous cap: the descriptors run out first.
    SimProcess sim("--tcp 0 --max-clients 500", "ulimit -n 24 && ");
    const std::string tcpLine = sim.Line();
    ASSERT_EQ(tcpLine.rfind("tcp: ", 0), 0u) << tcpLine;
    const int port = std::stoi(tcpLine.substr(5));
    std::vector<std::unique_ptr<Peer>> peers;
    for (int i = 0; i < 40; ++i) {
        auto p = std::make_unique<Peer>();
        if (ConnectWithin(*p, port, 1000)) peers.push_back(std::move(p));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long before = CpuTicks(sim.pid);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const long used = CpuTicks(sim.pid) - before;
    // Resting between tries: next to nothing. A loop retrying at full speed gets its share of
    // a core even on a loaded machine (3 s are 300 ticks; a twentieth of them is 15).
    EXPECT_LT(used, 8) << "ticks in 3 s";
    // Clients beyond what the descriptors allow hear at once that they were refused, rather
    // than waiting in the queue.
    int refused = 0;
    for (auto& p : peers) {
        p->Read(200);
        if (p->closed) ++refused;
    }
    EXPECT_GT(refused, 10) << "of " << peers.size() << " connected";
    // Once clients leave, a new one is served.
    peers.clear();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Peer late;
    Connect(late, port);
    late.Send("*IDN?\n");
    EXPECT_NE(late.Read(5000, "\n").find("Model"), std::string::npos);
    EXPECT_EQ(sim.Stop(SIGTERM), 0);
}

// The instrument has one command parser, whatever the way in: a table begun on one connection
// stays open when that connection drops, and takes the next connection's lines as its data
// (a query gets no answer) until a ";" line stores what came. Acknowledgements wait for the
// reply delay like any answer.
TEST(SimTcp, ATableStaysOpenAcrossConnectionsUntilItsEnd) {
    SimEngine engine;
    TcpFrontEnd tcp(engine, 0);
    ASSERT_TRUE(tcp.Ok());
    {
        Peer p;
        Connect(p, tcp.Port());
        p.Send("CALC 2\nCut\nDiode\n1.0\nVolts\n0.100 300\n0.200 ");
        p.Read(200);
    }
    Peer p;
    Connect(p, tcp.Port());
    p.Send("*IDN?\n");
    EXPECT_EQ(p.Read(300), "");
    EXPECT_TRUE(engine.InInputMode());
    p.Send(";\n*IDN?\nSENSORIX 62:NENTRY?\nSENSORIX? 62\n");
    EXPECT_EQ(p.Read(2000, "Cut\n"), "Orvella Model 3028,0012328,2.04\n1\nCut\n");

    tcp.SetLineAcknowledgement(true);
    p.Send("SIM:FAULT delay 300\n");
    EXPECT_EQ(p.Read(2000, "\n"), "\x06\n");
    const auto t0 = Clock::now();
    p.Send("LOOP 1:SETPT 20\n");
    EXPECT_EQ(p.Read(3000, "\n"), "\x06\n");
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(280));
}

}  // namespace
}  // namespace tavrix::sim
