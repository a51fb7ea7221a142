#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/CENetTCPIP.h"

namespace tavrix {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<milliseconds>(Clock::now() - since).count());
}

// One step of what the instrument on the far side does.
struct Step {
    enum Kind { Expect, Reply, Pause, Hangup } kind;
    std::string text;  // Expect: wait until it arrives (after what earlier steps matched)
    int ms = 0;
};
Step ExpectLine(std::string text) {
    return {Step::Expect, std::move(text)};
}
Step Reply(std::string bytes) {
    return {Step::Reply, std::move(bytes)};
}
Step Pause(int ms) {
    return {Step::Pause, {}, ms};
}
Step Hangup() {
    return {Step::Hangup, {}};
}

// A loopback listener that accepts one connection and plays a script on it. Every wait is
// bounded, so a broken client cannot hang the test.
class ScriptedPeer {
public:
    explicit ScriptedPeer(std::vector<Step> script) : script_(std::move(script)) {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listen_, 1) != 0 ||
            ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            return;
        }
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~ScriptedPeer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (conn_ >= 0) ::close(conn_);
        if (listen_ >= 0) ::close(listen_);
    }

    unsigned long Port() const { return port_; }
    std::string Received() {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }
    bool Finished() const { return finished_; }
    // Waits until the script has run to its end.
    bool WaitFinished(int ms = 3000) const {
        const auto until = Clock::now() + milliseconds(ms);
        while (!finished_ && Clock::now() < until) std::this_thread::sleep_for(milliseconds(5));
        return finished_;
    }

private:
    bool Pull(int waitMs) {
        pollfd p{conn_, POLLIN, 0};
        if (::poll(&p, 1, waitMs) <= 0) return true;
        char buf[4096];
        ssize_t n = ::recv(conn_, buf, sizeof buf, 0);
        if (n <= 0) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        received_.append(buf, static_cast<size_t>(n));
        return true;
    }

    void Run() {
        pollfd p{listen_, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) return;
        conn_ = ::accept(listen_, nullptr, nullptr);
        if (conn_ < 0) return;
        size_t matched = 0;  // received bytes already matched by an Expect step
        for (const Step& step : script_) {
            switch (step.kind) {
                case Step::Expect: {
                    const auto until = Clock::now() + milliseconds(3000);
                    while (!stop_ && Clock::now() < until) {
                        const size_t at = Received().find(step.text, matched);
                        if (at != std::string::npos) {
                            matched = at + step.text.size();
                            break;
                        }
                        if (!Pull(20)) break;
                    }
                    break;
                }
                case Step::Reply:
                    ::send(conn_, step.text.data(), step.text.size(), MSG_NOSIGNAL);
                    break;
                case Step::Pause:
                    std::this_thread::sleep_for(milliseconds(step.ms));
                    break;
                case Step::Hangup:
                    ::close(conn_);
                    conn_ = -1;
                    finished_ = true;
                    return;
            }
        }
        finished_ = true;
        // Keep the connection open and listening until the test ends.
        while (!stop_ && Pull(20)) {
        }
    }

    std::vector<Step> script_;
    int listen_ = -1;
    int conn_ = -1;
    unsigned long port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    std::mutex mutex_;
    std::string received_;
};

// Reads one reply as the link does: pieces until an empty text.
int ReadReply(CENetTCPIP& net, std::vector<std::string>& pieces) {
    for (int i = 0; i < 100; ++i) {
        char buf[100];
        buf[0] = '\0';
        if (net.Read(buf, 100) == 0) return 0;
        if (buf[0] == '\0') return 1;
        pieces.emplace_back(buf);
    }
    return -1;
}

class CENetTCPIPTest : public ::testing::Test {
protected:
    void Connect(ScriptedPeer& peer) {
        net_.SetTimeouts(1000, 400);
        char addr[] = "127.0.0.1";
        ASSERT_EQ(net_.Connect(addr, peer.Port()), 1);
        ASSERT_TRUE(net_.IsConnected());
    }
    CENetTCPIP net_;
};

TEST(MyIPAddr, FirstOctetIsTheMostSignificantByte) {
    MyIPAddr ip = MyIPAddr::FromOctets(192, 168, 0, 4, 5000);
    EXPECT_EQ(ip.Address(), 0xC0A80004u);
    EXPECT_EQ(ip.Port(), 5000u);
    EXPECT_STREQ(ip.Get_Addr_Str(), "192.168.0.4");
    EXPECT_EQ(ip.Octet(0), 192);
    EXPECT_EQ(ip.Octet(3), 4);
    MyIPAddr copy;
    copy = ip;
    EXPECT_STREQ(copy.Get_Addr_Str(), "192.168.0.4");
    EXPECT_STREQ(MyIPAddr::FromOctets(255, 0, 10, 255, 1).Get_Addr_Str(), "255.0.10.255");
}

TEST_F(CENetTCPIPTest, ConnectsToAListenerAndFailsOnRefusedOrMalformedAddresses) {
    ScriptedPeer peer({});
    Connect(peer);
    net_.Disconnect();
    EXPECT_FALSE(net_.IsConnected());
    net_.Disconnect();  // twice is harmless

    // A port that nobody listens on: take a free one and let it go.
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    ::close(s);
    char loopback[] = "127.0.0.1";
    const auto start = Clock::now();
    EXPECT_EQ(net_.Connect(loopback, ntohs(addr.sin_port)), 0);
    EXPECT_LT(ElapsedMs(start), 1500);
    EXPECT_FALSE(net_.IsConnected());

    for (const char* bad : {"", "300.1.2.3", "192.168.0", "host.example"}) {
        std::string text = bad;
        EXPECT_EQ(net_.Connect(text.data(), 5000), 0) << bad;
    }
}

TEST_F(CENetTCPIPTest, SendsTheCommandFollowedByCrLf) {
    ScriptedPeer peer({ExpectLine("SETP 1,4.5\r\n"), ExpectLine("KRDG? A\r\n")});
    Connect(peer);
    EXPECT_EQ(net_.Send("SETP 1,4.5", 10, 1), 0);
    EXPECT_EQ(net_.Send("KRDG? A;junk", 7, 1), 0);  // only `length` characters go out
    ASSERT_TRUE(peer.WaitFinished());
    EXPECT_EQ(peer.Received(), "SETP 1,4.5\r\nKRDG? A\r\n");

    net_.Disconnect();
    EXPECT_EQ(net_.Send("KRDG? A", 7, 1), 1);
}

TEST_F(CENetTCPIPTest, ReadGivesPiecesOfAtMost99CharactersThenAnEmptyText) {
    const std::string longLine(150, 'x');
    ScriptedPeer peer({ExpectLine("Q?\r\n"), Reply(longLine + "\r\n"), ExpectLine("R?\r\n"),
                       Reply(std::string("+1.5\0\r00\r\n", 11)), ExpectLine("E?\r\n"),
                       Reply("\n")});
    Connect(peer);

    ASSERT_EQ(net_.Send("Q?", 2, 1), 0);
    std::vector<std::string> pieces;
    ASSERT_EQ(ReadReply(net_, pieces), 1);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0], std::string(99, 'x'));
    EXPECT_EQ(pieces[1], std::string(51, 'x'));

    // CR and NUL bytes never reach the reply.
    ASSERT_EQ(net_.Send("R?", 2, 1), 0);
    pieces.clear();
    ASSERT_EQ(ReadReply(net_, pieces), 1);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0], "+1.500");

    // An empty line is an empty reply.
    ASSERT_EQ(net_.Send("E?", 2, 1), 0);
    pieces.clear();
    EXPECT_EQ(ReadReply(net_, pieces), 1);
    EXPECT_TRUE(pieces.empty());
}

TEST_F(CENetTCPIPTest, ReplyArrivingInDribsIsCollected) {
    ScriptedPeer peer({ExpectLine("*IDN?\r\n"), Reply("TAV,"), Pause(80), Reply("MODEL"), Pause(80),
                       Reply("336\r"), Pause(80), Reply("\n")});
    Connect(peer);
    ASSERT_EQ(net_.Send("*IDN?", 5, 1), 0);
    std::vector<std::string> pieces;
    ASSERT_EQ(ReadReply(net_, pieces), 1);
    std::string all;
    for (const auto& p : pieces) all += p;
    EXPECT_EQ(all, "TAV,MODEL336");
}

TEST_F(CENetTCPIPTest, AReplyTricklingPastTheTimeOutFailsAndTheConnectionIsOpenedAgain) {
    ScriptedPeer peer({ExpectLine("A?\r\n"), Reply("1"), Pause(150), Reply("2"), Pause(150),
                       Reply("3"), Pause(150), Reply("4\n")});
    Connect(peer);
    net_.SetTimeouts(1000, 300);
    char buf[100] = {};
    ASSERT_EQ(net_.Send("A?", 2, 1), 0);
    const auto start = Clock::now();
    EXPECT_EQ(net_.Read(buf, 100), 0);
    const long ms = ElapsedMs(start);
    EXPECT_GE(ms, 250);
    EXPECT_LE(ms, 800);               // from the send, not from the last byte
    EXPECT_TRUE(net_.IsConnected());  // a slow peer is not a lost one
    EXPECT_EQ(net_.Reopens(), 0);
    // The late bytes went to the old connection; the next line goes out on a new one.
    EXPECT_EQ(net_.Send("B?", 2, 1), 0);
    EXPECT_EQ(net_.Reopens(), 1);
}

TEST_F(CENetTCPIPTest, ReadFailsWhenThePeerHangsUp) {
    ScriptedPeer peer({ExpectLine("B?\r\n"), Reply("12"), Pause(50), Hangup()});
    Connect(peer);
    net_.SetTimeouts(1000, 300);
    char buf[100] = {};
    ASSERT_EQ(net_.Send("B?", 2, 1), 0);
    const auto start = Clock::now();
    EXPECT_EQ(net_.Read(buf, 100), 0);
    EXPECT_LT(ElapsedMs(start), 1500);
    EXPECT_FALSE(net_.IsConnected());
    EXPECT_EQ(net_.Read(buf, 100), 0);
    EXPECT_EQ(net_.Send("C?", 2, 1), 1);
}

TEST_F(CENetTCPIPTest, SendingToAClosedPeerFailsWithoutKillingTheProcess) {
    ScriptedPeer peer({Hangup()});
    Connect(peer);
    ASSERT_TRUE(peer.WaitFinished());
    std::this_thread::sleep_for(milliseconds(50));
    int status = 0;
    // The first write may still be accepted by the kernel; the next must fail.
    for (int i = 0; i < 3 && status == 0; ++i) status = net_.Send("*IDN?", 5, 1);
    EXPECT_EQ(status, 1);
}

TEST_F(CENetTCPIPTest, LeftoversOfAnAbandonedReplyAreDiscardedOnTheNextSend) {
    ScriptedPeer peer({ExpectLine("Q1?\r\n"), Reply("first half\nsecond line\n"),
                       ExpectLine("Q2?\r\n"), Reply("late from Q2\n"), ExpectLine("Q3?\r\n"),
                       Reply("fresh\n")});
    Connect(peer);

    // Q1: only the first piece is read; the end of its line and a second line stay behind.
    ASSERT_EQ(net_.Send("Q1?", 3, 1), 0);
    char buf[100] = {};
    ASSERT_EQ(net_.Read(buf, 100), 1);
    EXPECT_STREQ(buf, "first half");

    // Q2: abandoned without reading, its reply arrives before Q3 is sent.
    ASSERT_EQ(net_.Send("Q2?", 3, 1), 0);
    std::this_thread::sleep_for(milliseconds(150));

    ASSERT_EQ(net_.Send("Q3?", 3, 1), 0);
    std::vector<std::string> pieces;
    ASSERT_EQ(ReadReply(net_, pieces), 1);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0], "fresh");
}

// Polls the counter as the link does, until `expected` lines or a failure.
int CountUntil(CENetTCPIP& net, int expected, int& lines) {
    const auto until = Clock::now() + milliseconds(5000);
    lines = 0;
    while (lines < expected && Clock::now() < until) {
        if (net.Get_Received_Counter(&lines) == 0) return 0;
    }
    return 1;
}

TEST_F(CENetTCPIPTest, TableCountsLinesUpToTheSemicolonLine) {
    ScriptedPeer peer({ExpectLine("CRVPT? 21\r\n"), Reply("1.0,2.0\r\n3.0,"), Pause(100),
                       Reply("4.0\r\n5.0,6.0\r"), Pause(100), Reply("\n;\r\n")});
    Connect(peer);
    ASSERT_EQ(net_.Get_Table("CRVPT? 21", 9), 1);
    EXPECT_EQ(net_.Get_Table_In_Progress(), 1);
    int lines = 0;
    ASSERT_EQ(CountUntil(net_, 3, lines), 1);
    EXPECT_EQ(lines, 3);
    ASSERT_EQ(net_.Table_Ready(), 1);
    int after = 0;
    EXPECT_EQ(net_.Get_Received_Counter(&after), 1);
    EXPECT_EQ(after, 3);  // the ";" line is not counted
    std::string table = "old";
    ASSERT_EQ(net_.Get_Received_Buffer(&table), 1);
    EXPECT_EQ(table, "1.0,2.0\n3.0,4.0\n5.0,6.0\n;\n");
    ASSERT_TRUE(peer.WaitFinished());
    EXPECT_EQ(peer.Received(), "CRVPT? 21\r\n");
}

TEST_F(CENetTCPIPTest, TableFailsWhenThePeerHangsUpMidway) {
    ScriptedPeer peer({ExpectLine("PIDT? 1\r\n"), Reply("a\nb\n"), Pause(100), Hangup()});
    Connect(peer);
    ASSERT_EQ(net_.Get_Table("PIDT? 1", 7), 1);
    int lines = 0;
    const auto start = Clock::now();
    EXPECT_EQ(CountUntil(net_, 10, lines), 0);
    EXPECT_LT(ElapsedMs(start), 2000);
    EXPECT_EQ(lines, 2);
    EXPECT_EQ(net_.Get_Table_In_Progress(), 1);  // a poller moves on to see the failure
    EXPECT_EQ(net_.Table_Ready(), 0);
    std::string table;
    EXPECT_EQ(net_.Get_Received_Buffer(&table), 0);
}

TEST_F(CENetTCPIPTest, TableFailsWhenThePeerFallsSilent) {
    ScriptedPeer peer({ExpectLine("DLOG?\r\n"), Reply("a\n")});
    Connect(peer);
    net_.SetTimeouts(1000, 300);
    ASSERT_EQ(net_.Get_Table("DLOG?", 5), 1);
    const auto start = Clock::now();
    EXPECT_EQ(net_.Table_Ready(), 0);
    const long ms = ElapsedMs(start);
    EXPECT_GE(ms, 250);
    EXPECT_LE(ms, 1500);
    int lines = -1;
    EXPECT_EQ(net_.Get_Received_Counter(&lines), 0);
    EXPECT_TRUE(net_.IsConnected());
}

TEST_F(CENetTCPIPTest, TableIsRefusedWhenNotConnected) {
    EXPECT_EQ(net_.Get_Table("CRVPT? 1", 8), 0);
    EXPECT_EQ(net_.Get_Table_In_Progress(), 0);
    EXPECT_EQ(net_.Table_Ready(), 0);
}

}  // namespace
}  // namespace tavrix
