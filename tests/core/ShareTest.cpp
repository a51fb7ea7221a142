// The sharing port: which lines it relays, and what it does with clients that misbehave.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "TestSupport.h"
#include "engine/SimEngine.h"
#include "link/LinkCommands.h"
#include "serve/ShareLines.h"
#include "serve/ShareServer.h"

using namespace tavrix;
using namespace std::chrono;

namespace {

TEST(ShareLines, TellsQueryLinesFromCommands) {
    struct Case {
        const char* line;
        bool queryOnly;
    } cases[] = {
        {"*IDN?", true},
        {"INP A:TEMP?;UNIT?;NAME?;", true},
        {"LOOP 1:HTRR?NAME?;", true},
        {"INP A:TEMP?;:INP B:TEMP?;", true},
        {"CALC? 3", true},
        {"INPUT? A;", true},
        {"SENSORIX 61:NENTRY?", true},
        {"LOOP 1:SETPT 50", false},
        {"LOOP 1:SETPT?;SETPT 50", false},
        {"INP A:TEMP?UNIT K", false},
        {"syst:reseed;:*OPC?", false},
        {"?", false},
        {";", false},
        {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(share::IsQueryOnly(c.line), c.queryOnly) << c.line;
}

TEST(ShareLines, KeepsCalibrationAndThePasswordOut) {
    for (const char* line : {"INST A:PSWD?", "inst a:pswd secret;PSWD?", "INST A:MODE ON;MODE?;",
                             "INST B:GAIN 1.01;GAIN?", "INST A:OFFSET 0.2;OFFSET?",
                             "INST A:SAVE;MODE?", "INST A:TYPE V10UA;TYPE?", "*IDN?;:INST A:PSWD?"})
        EXPECT_TRUE(share::TouchesCalibration(line)) << line;
    for (const char* line : {"INST A:GAIN?;OFFSET?;", "INST A:MODE?", "INP A:TEMP?",
                             "LOOP 1:SETPT 5", "INP A:NAME Gain stage"})
        EXPECT_FALSE(share::TouchesCalibration(line)) << line;
}

TEST(ShareLines, KnowsTablesAndAddresses) {
    EXPECT_EQ(share::TableQueryOf("CALC? 3"), share::TableQuery::Curve);
    EXPECT_EQ(share::TableQueryOf("pidt 2:table?"), share::TableQuery::PidTable);
    EXPECT_EQ(share::TableQueryOf("DLog:Read?"), share::TableQuery::DataLog);
    EXPECT_EQ(share::TableQueryOf("PIDT 2:NENT?"), share::TableQuery::None);
    EXPECT_TRUE(share::StartsTableInput("CALC 3"));
    EXPECT_TRUE(share::StartsTableInput("PIDT 4:table"));
    EXPECT_FALSE(share::StartsTableInput("CALC? 3"));
    EXPECT_FALSE(share::StartsTableInput("CALCULATE 3"));
    EXPECT_TRUE(share::EndsTableInput(" ; "));

    share::Ipv4Net net;
    ASSERT_TRUE(share::ParseIpv4Net("192.168.1.7/24", net));
    EXPECT_TRUE(net.Contains(0xC0A801FEu));
    EXPECT_FALSE(net.Contains(0xC0A802FEu));
    ASSERT_TRUE(share::ParseIpv4Net("10.0.0.1", net));
    EXPECT_FALSE(net.Contains(0x0A000002u));
    EXPECT_FALSE(share::ParseIpv4Net("10.0.0.0/33", net));
    EXPECT_FALSE(share::ParseIpv4Net("lab/24", net));
    uint32_t a = 0;
    int port = 0;
    std::string error;
    ASSERT_TRUE(share::ParseListenAddress("0.0.0.0:7000", a, port, error));
    EXPECT_EQ(a, 0u);
    EXPECT_EQ(port, 7000);
    EXPECT_FALSE(share::ParseListenAddress("127.0.0.1:99999", a, port, error));
}

// The owner's log, written by the share's thread.
class LockedLog : public LogSink {
public:
    void Append(const std::string& text) override {
        std::lock_guard lock(m_);
        text_ += text;
    }
    std::string Text() {
        std::lock_guard lock(m_);
        return text_;
    }

private:
    std::mutex m_;
    std::string text_;
};

// A client of the share speaking lines over a socket.
class Client {
public:
    explicit Client(int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(0x7F000001u);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Client() { ::close(fd_); }
    bool Connected() const { return connected_; }
    bool Send(const std::string& text) {
        return ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(text.size());
    }
    // One line without its LF; "<closed>" or "<timeout>" otherwise.
    std::string Line(int ms = 5000) {
        const auto deadline = steady_clock::now() + milliseconds(ms);
        for (;;) {
            const size_t lf = buf_.find('\n');
            if (lf != std::string::npos) {
                std::string line = buf_.substr(0, lf);
                buf_.erase(0, lf + 1);
                return line;
            }
            const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
            if (left <= 0) return "<timeout>";
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            char b[4096];
            const ssize_t n = ::recv(fd_, b, sizeof b, 0);
            if (n <= 0) return "<closed>";
            buf_.append(b, static_cast<size_t>(n));
        }
    }
    std::string Ask(const std::string& line) {
        Send(line + "\n");
        return Line();
    }
    int Fd() const { return fd_; }

private:
    int fd_;
    bool connected_ = false;
    std::string buf_;
};

struct ShareBench : test::SimLinkBench {
    explicit ShareBench(ShareOptions options = {}) {
        link.StartUp();
        link.SetPortType(kPortLan);
        link.Lan().SetTimeouts(1000, 1000);
        link.IpAddr() = MyIPAddr(0x7F000001u, static_cast<unsigned long>(tcp.Port()));
        EXPECT_EQ(link.LanConnect(), 1);
        std::string error;
        EXPECT_TRUE(share.Start(options, error)) << error;
    }
    LockedLog shareLog;
    ShareServer share{link, mutex, shareLog};
};

bool IsFailure(const std::string& line) {
    return !line.empty() && line[0] == ShareServer::kNak;
}

TEST(Share, RelaysQueriesCommandsAndTablesToTheirClientOnly) {
    ShareBench b;
    Client one(b.share.Port()), two(b.share.Port());
    ASSERT_TRUE(one.Connected() && two.Connected());
    EXPECT_NE(one.Ask("*IDN?").find("Model"), std::string::npos);
    // A command gets no reply; its effect shows in the next query.
    EXPECT_TRUE(one.Send("LOOP 1:SETPT 42.5\n"));
    EXPECT_EQ(two.Ask("LOOP 1:SETPT?"), "42.500");
    EXPECT_EQ(one.Line(300), "<timeout>");  // nothing was meant for the first client

    test::StoreCurve(b.link, 12);
    one.Send("CALC? 1\n");
    int lines = 0;
    for (std::string l = one.Line(); l != ";"; l = one.Line()) {
        ASSERT_NE(l, "<timeout>");
        ASSERT_FALSE(IsFailure(l)) << l;
        ++lines;
    }
    EXPECT_GE(lines, 12);
    EXPECT_EQ(two.Ask("*IDN?").find("Model") != std::string::npos, true);
    EXPECT_NE(b.shareLog.Text().find("connected"), std::string::npos);
}

TEST(Share, RefusesWhatAClientMayNotReach) {
    ShareOptions ro;
    ro.readOnly = true;
    ShareBench b(ro);
    Client c(b.share.Port());
    const std::string before = c.Ask("LOOP 1:SETPT?");
    EXPECT_TRUE(IsFailure(c.Ask("LOOP 1:SETPT 77")));
    EXPECT_EQ(c.Ask("LOOP 1:SETPT?"), before);  // the instrument unchanged
    EXPECT_TRUE(IsFailure(c.Ask("INST A:PSWD?")));
    EXPECT_TRUE(IsFailure(c.Ask("INST A:MODE ON;MODE?;")));
    EXPECT_TRUE(IsFailure(c.Ask(std::string(101, 'A') + "?")));
    EXPECT_TRUE(IsFailure(c.Ask(std::string("*IDN\x1b[2J?"))));
    // Refusals reach the owner's log; the client's connection goes on.
    EXPECT_NE(b.shareLog.Text().find("read-only"), std::string::npos);
    EXPECT_NE(b.shareLog.Text().find("calibration"), std::string::npos);
    // The refused escape sequence shows in the owner's log, never as a raw control byte.
    EXPECT_NE(b.shareLog.Text().find("\\x1b[2J"), std::string::npos);
    EXPECT_EQ(b.shareLog.Text().find('\x1b'), std::string::npos);
    EXPECT_NE(c.Ask("*IDN?").find("Model"), std::string::npos);
    for (const std::string& line : b.engine.ReceivedLines())
        EXPECT_EQ(line.find("PSWD"), std::string::npos);
}

TEST(Share, ListensBeyondLoopbackOnlyWithAnAllowList) {
    test::SimLinkBench bench;
    LockedLog log;
    ShareServer s(bench.link, bench.mutex, log);
    ShareOptions any;
    any.address = 0;
    std::string error;
    EXPECT_FALSE(s.Start(any, error));
    EXPECT_NE(error.find("--allow"), std::string::npos);
    share::Ipv4Net net;
    share::ParseIpv4Net("10.1.0.0/16", net);
    any.allow.push_back(net);
    EXPECT_TRUE(s.Start(any, error)) << error;
}

TEST(Share, ClientsFromOutsideTheAllowedNetworksAreRefused) {
    const std::string other = test::OtherLocalAddress();
    if (other.empty()) GTEST_SKIP() << "no address but loopback on this machine";
    uint32_t mine = 0;
    ASSERT_TRUE(share::ParseIpv4(other, mine));
    for (bool allowed : {false, true}) {
        ShareOptions any;
        any.address = 0;
        share::Ipv4Net net;
        // Allowed: this address alone; not allowed: only the address next to it.
        share::ParseIpv4Net(share::Ipv4Text(allowed ? mine : mine + 1) + "/32", net);
        any.allow.push_back(net);
        ShareBench b(any);
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(b.share.Port()));
        to.sin_addr.s_addr = htonl(mine);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
        ::send(fd, "*IDN?\n", 6, MSG_NOSIGNAL);
        std::string got;
        char buf[256];
        for (ssize_t n; got.find('\n') == std::string::npos &&
                        (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
            got.append(buf, static_cast<size_t>(n));
        ::close(fd);
        SCOPED_TRACE(allowed);
        EXPECT_EQ(IsFailure(got), !allowed) << got;
        // The refusal reaches the owner's log just after it reaches the client.
        for (int i = 0; i < 100 && !allowed &&
                        b.shareLog.Text().find("not among the allowed") == std::string::npos;
             ++i)
            std::this_thread::sleep_for(milliseconds(20));
        if (!allowed)
            EXPECT_NE(b.shareLog.Text().find("not among the allowed"), std::string::npos)
                << b.shareLog.Text();
    }
}

TEST(Share, HostileClientsNeitherStarveOthersNorGrowMemory) {
    ShareOptions small;
    small.maxClients = 4;
    ShareBench b(small);
    // One floods bytes without a line end: it is disconnected after a bounded amount.
    Client flood(b.share.Port());
    std::string chunk(64 * 1024, 'x');
    size_t sent = 0;
    for (int i = 0; i < 160 && flood.Send(chunk); ++i) sent += chunk.size();
    EXPECT_LT(sent, 10u << 20);
    EXPECT_TRUE(IsFailure(flood.Line()));
    EXPECT_EQ(flood.Line(), "<closed>");
    // One sends queries and never reads: the others go on.
    Client deaf(b.share.Port());
    std::thread writer([&] {
        for (int i = 0; i < 20000 && deaf.Send("*IDN?\n"); ++i) {
        }
    });
    Client good(b.share.Port());
    for (int i = 0; i < 20; ++i) EXPECT_NE(good.Ask("*IDN?").find("Model"), std::string::npos);
    // Beyond the cap a connection is refused with a reason.
    Client c3(b.share.Port()), c4(b.share.Port());
    EXPECT_NE(c3.Ask("*IDN?").find("Model"), std::string::npos);
    Client over(b.share.Port());
    EXPECT_TRUE(IsFailure(over.Line()));
    ::shutdown(deaf.Fd(), SHUT_RDWR);
    writer.join();
    EXPECT_NE(b.shareLog.Text().find("refused"), std::string::npos);
}

TEST(Share, ATableSentIntoTheInstrumentHoldsItToTheEnd) {
    ShareBench b;
    Client writer(b.share.Port()), reader(b.share.Port());
    writer.Send("CALC 2\nshared curve\n");
    // While the table is open another client's query waits for it, never lands inside it.
    reader.Send("*IDN?\n");
    std::this_thread::sleep_for(milliseconds(200));
    writer.Send("DT-470\n1.000000\nVolts\n0.5     300.0\n1.0     100.0\n;\n");
    EXPECT_NE(reader.Line().find("Model"), std::string::npos);
    std::string name = reader.Ask("SENSORIX? 62");
    for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_NE(name.find("shared"), std::string::npos) << name;

    // A client that leaves inside a table: the share ends it and says it may be incomplete.
    {
        Client leaver(b.share.Port());
        leaver.Send("CALC 3\nhalf\nDT-470\n1.0\nVolts\n0.5     300.0\n");
        std::this_thread::sleep_for(milliseconds(300));
    }
    EXPECT_NE(reader.Ask("*IDN?").find("Model"), std::string::npos);
    for (int i = 0; i < 50 && b.shareLog.Text().find("incomplete") == std::string::npos; ++i)
        std::this_thread::sleep_for(milliseconds(50));
    EXPECT_NE(b.shareLog.Text().find("may be incomplete"), std::string::npos);
}

}  // namespace
