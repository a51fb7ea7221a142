#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "link/CCommPort.h"

namespace tavrix {
namespace {

using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// A pseudo-terminal pair: the port under test opens the slave, the test plays the instrument
// on the master.
class PtyPair {
public:
    PtyPair() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        char name[128] = {};
        if (::ptsname_r(master_, name, sizeof name) != 0) return;
        slavePath_ = name;
        termios tio{};
        ::tcgetattr(master_, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(master_, TCSANOW, &tio);
    }
    ~PtyPair() { CloseMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Ok() const { return master_ >= 0 && !slavePath_.empty(); }
    const std::string& SlavePath() const { return slavePath_; }
    int Master() const { return master_; }
    void CloseMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

    void Write(const std::string& bytes) const {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Collects what the port sent until `count` bytes arrived or nothing came for 1 s.
    std::string Read(size_t count) const {
        std::string got;
        while (got.size() < count) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 1000) <= 0 || !(p.revents & POLLIN)) break;
            char buf[256];
            ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, static_cast<size_t>(n));
        }
        return got;
    }

private:
    int master_ = -1;
    std::string slavePath_;
};

class CCommPortOnPty : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty_.Ok()); }

    // Opened as COM2 at the default baud index 0 with the link's time-out of 50.
    void OpenDefault(CCommPort& port) {
        port.Open(2, CCommPort::SelectorFromBaudIndex(0), 50, 2);
        ASSERT_TRUE(port.IsOpen()) << "status " << port.LastOpenStatus();
    }

    PtyPair pty_;
    int resolvedPort_ = 0;
    CCommPort port_{[this](int n) {
        resolvedPort_ = n;
        return pty_.SlavePath();
    }};
};

TEST_F(CCommPortOnPty, OpensRawEightNoneOneWithoutFlowControlAtTheSelectedSpeed) {
    OpenDefault(port_);
    EXPECT_EQ(port_.LastOpenStatus(), 0);
    EXPECT_EQ(resolvedPort_, 2);
    EXPECT_EQ(port_.PortNumber(), 2);
    EXPECT_EQ(port_.BaudRate(), 115200);
    EXPECT_EQ(port_.TimeoutValue(), 50);
    EXPECT_EQ(port_.DevicePath(), pty_.SlavePath());

    // Line settings belong to the terminal, so a second descriptor sees them.
    int fd = ::open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios tio{};
    ASSERT_EQ(::tcgetattr(fd, &tio), 0);
    ::close(fd);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
    EXPECT_NE(tio.c_cflag & CREAD, 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B115200));
}

TEST_F(CCommPortOnPty, WritesBlocksAndBytesUnchanged) {
    OpenDefault(port_);
    const std::string block("\n*IDN?\r\n\x00\xff\x04 end", 14);
    EXPECT_EQ(port_.WriteBlock(static_cast<int>(block.size()), block.data()),
              static_cast<int>(block.size()));
    EXPECT_EQ(port_.WriteByte(0x0A), 0);
    EXPECT_EQ(port_.WriteByte(0x04), 0);
    EXPECT_EQ(pty_.Read(block.size() + 2), block + "\n\x04");
}

TEST_F(CCommPortOnPty, ReadByteReturnsEveryByteValueThenTimesOut) {
    OpenDefault(port_);
    const std::string sent("a\r\n\x00\xff", 5);
    pty_.Write(sent);
    std::string got;
    for (size_t i = 0; i < sent.size(); ++i) {
        int b = port_.ReadByte();
        ASSERT_GE(b, 0) << "byte " << i;
        ASSERT_LE(b, 255);
        got.push_back(static_cast<char>(b));
    }
    EXPECT_EQ(got, sent);

    // Time-out value 50 counts in 10 ms units: about half a second.
    const auto start = Clock::now();
    EXPECT_EQ(port_.ReadByte(), -1);
    const long ms = ElapsedMs(start);
    EXPECT_GE(ms, 400);
    EXPECT_LE(ms, 1500);
}

TEST_F(CCommPortOnPty, ReadByteWaitsForALateByte) {
    OpenDefault(port_);
    std::thread late([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        pty_.Write("Z");
    });
    const auto start = Clock::now();
    const int b = port_.ReadByte();
    const long ms = ElapsedMs(start);
    late.join();
    EXPECT_EQ(b, 'Z');
    EXPECT_LT(ms, 450);
}

TEST_F(CCommPortOnPty, ClearingTheReceiveQueueDropsPendingInput) {
    OpenDefault(port_);
    pty_.Write("stale reply\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(port_.ClearReceiveQueue(), 0);
    EXPECT_EQ(port_.ClearTransmitQueue(), 0);
    pty_.Write("X");
    EXPECT_EQ(port_.ReadByte(), 'X');
}

TEST_F(CCommPortOnPty, ReopeningAndClosingReleaseTheDevice) {
    OpenDefault(port_);
    OpenDefault(port_);  // closes the first descriptor before opening again
    EXPECT_EQ(port_.WriteByte('k'), 0);
    EXPECT_EQ(pty_.Read(1), "k");

    // A refused number leaves the port closed, not still open on the old device.
    EXPECT_EQ(port_.Open(0, 8, 50, 2), -3);
    EXPECT_FALSE(port_.IsOpen());
    EXPECT_EQ(port_.PortNumber(), -1);

    // With no slave descriptor left, the master sees a hang-up.
    pollfd p{pty_.Master(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1);
    EXPECT_NE(p.revents & POLLHUP, 0);

    OpenDefault(port_);
    EXPECT_EQ(port_.Close(), 0);
    EXPECT_EQ(port_.Close(), -9);
    EXPECT_EQ(port_.PortNumber(), -1);
}

TEST_F(CCommPortOnPty, DestructorClosesThePort) {
    {
        CCommPort port([this](int) { return pty_.SlavePath(); });
        OpenDefault(port);
    }
    pollfd p{pty_.Master(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1);
    EXPECT_NE(p.revents & POLLHUP, 0);
}

TEST_F(CCommPortOnPty, GoneOtherEndEndsAReadWithoutWaitingLong) {
    OpenDefault(port_);
    pty_.CloseMaster();
    const auto start = Clock::now();
    EXPECT_EQ(port_.ReadByte(), -1);
    EXPECT_LE(ElapsedMs(start), 1500);
    EXPECT_LT(port_.WriteByte('x'), 0);
}

TEST(CCommPort, RefusesPortNumbersOutsideOneTo255) {
    int resolved = 0;
    CCommPort port([&resolved](int) {
        ++resolved;
        return std::string("/dev/null");
    });
    for (int n : {0, 256, -1}) {
        EXPECT_EQ(port.Open(n, 8, 50, 2), -3) << n;
        EXPECT_EQ(port.LastOpenStatus(), -3);
        EXPECT_FALSE(port.IsOpen());
    }
    EXPECT_EQ(resolved, 0);
}

TEST(CCommPort, AMissingDeviceLeavesEveryOperationFailingAtOnce) {
    CCommPort port([](int) { return std::string("/nonexistent/tavrix-tty"); });
    port.Open(1, 8, 50, 2);  // nothing is reported
    EXPECT_FALSE(port.IsOpen());
    EXPECT_LT(port.LastOpenStatus(), 0);

    const auto start = Clock::now();
    EXPECT_EQ(port.ReadByte(), -1);
    EXPECT_LT(ElapsedMs(start), 100);
    EXPECT_EQ(port.WriteBlock(3, "abc"), -9);
    EXPECT_EQ(port.WriteByte(4), -1);
    EXPECT_EQ(port.ClearReceiveQueue(), -9);
    EXPECT_EQ(port.ClearTransmitQueue(), -9);
    EXPECT_EQ(port.Close(), -9);
}

TEST(CCommPort, AFileThatIsNoTerminalIsRefused) {
    CCommPort port([](int) { return std::string("/dev/null"); });
    EXPECT_LT(port.Open(1, 8, 50, 2), 0);
    EXPECT_FALSE(port.IsOpen());
}

TEST(CCommPort, BaudIndexAndSelectorMapToTheSpeedList) {
    const int speeds[] = {115200, 57600, 38400, 19200, 9600, 4800, 2400, 1200};
    for (int index = 0; index < 8; ++index) {
        EXPECT_EQ(CCommPort::SelectorFromBaudIndex(index), 8 - index);
        EXPECT_EQ(CCommPort::SpeedFromSelector(CCommPort::SelectorFromBaudIndex(index)),
                  speeds[index])
            << "index " << index;
    }
    for (int selector : {0, 8, 9, -1, 100}) {
        EXPECT_EQ(CCommPort::SpeedFromSelector(selector), 115200) << "selector " << selector;
    }
}

}  // namespace
}  // namespace tavrix
