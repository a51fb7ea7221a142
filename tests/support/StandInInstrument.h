#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tavrix::test {

// What the stand-in sends back for one line: the bytes as given (terminators included),
// after a delay, one byte at a time when trickling. `hangUp` closes the connection the line
// came on instead (Tcp; on the Pty wire it hangs up as HangUp does).
struct StandInAnswer {
    std::string bytes;
    int delayMs = 0;
    int trickleMs = 0;
    bool hangUp = false;
};

// The answer of a LAN peer that acknowledges command lines: the reply (if any) followed by LF,
// then for a line that is not a query 0x06 (taken) or 0x15 (refused), as the simulator
// answers with --lan-ack. Nothing at all for a query without a reply.
std::optional<StandInAnswer> Acknowledged(const std::string& line,
                                          std::optional<std::string> reply = std::nullopt,
                                          bool refuse = false);

// An instrument played by a test script over a pseudo-terminal (LF-framed lines in, as the
// serial link frames them) or over TCP (CR LF-framed lines in; every connection accepted, so
// a link that closes and reopens its connection reaches it again). Answers are scheduled, not
// slept: a late or trickling answer does not stop the stand-in from reading what comes next,
// and an answer due on a connection that has closed goes nowhere.
class StandInInstrument {
public:
    enum class Wire { Pty, Tcp };
    // Called for every non-empty line received, with its number (0, 1, ...) in arrival order.
    using Script = std::function<std::optional<StandInAnswer>(const std::string& line, int index)>;

    StandInInstrument(Wire wire, Script script);
    ~StandInInstrument();
    StandInInstrument(const StandInInstrument&) = delete;
    StandInInstrument& operator=(const StandInInstrument&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    unsigned long Port() const { return port_; }
    std::vector<std::string> Lines() const;
    int Connections() const { return connections_.load(); }
    // Pty: closes the far end, so the link's writes fail with EIO. Tcp: closes every connection
    // and stops listening.
    void HangUp();
    // Stops reading (the line takes no more data once the buffers are full), or reads again.
    void Stall(bool on) { stalled_ = on; }

private:
    struct Pending {
        int fd;
        std::string bytes;
        size_t pos = 0;
        std::chrono::steady_clock::time_point nextAt;
        int trickleMs = 0;
    };
    struct Conn {
        int fd;
        std::string partial;
    };
    void Run();
    void Take(Conn& c, const char* data, size_t n);
    void Close(int fd);

    Wire wire_;
    Script script_;
    int listen_ = -1;
    int master_ = -1;
    int slaveKeep_ = -1;
    int wake_[2] = {-1, -1};
    std::string slavePath_;
    unsigned long port_ = 0;
    std::vector<Conn> conns_;
    std::vector<Pending> pending_;
    std::atomic<int> connections_{0};
    std::atomic<bool> hangUp_{false};
    std::atomic<bool> stalled_{false};
    mutable std::mutex m_;
    std::vector<std::string> lines_;
    std::thread thread_;
};

}  // namespace tavrix::test
