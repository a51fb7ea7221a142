#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tavrix::test {

// An instrument played by the test over TCP on 127.0.0.1: it takes one connection at a time,
// passes every LF-framed line to the responder and keeps every line received. With
// `acknowledge` it answers each line that is not a query with 0x06 (taken) or 0x15 (refused),
// as the simulator does for --lan-ack.
class TcpInstrument {
public:
    struct Answer {
        std::optional<std::string> reply;  // sent back followed by LF
        bool refuse = false;
        bool hangUp = false;  // close the connection instead of answering
    };
    using Responder = std::function<Answer(const std::string& line)>;

    TcpInstrument(Responder responder, bool acknowledge);
    ~TcpInstrument();
    TcpInstrument(const TcpInstrument&) = delete;
    TcpInstrument& operator=(const TcpInstrument&) = delete;

    int Port() const { return port_; }
    std::vector<std::string> Lines() const;

private:
    void Run();
    void Serve(int fd);

    Responder responder_;
    bool acknowledge_;
    int listen_ = -1;
    int port_ = 0;
    int wake_[2] = {-1, -1};
    mutable std::mutex m_;
    std::vector<std::string> lines_;
    std::thread thread_;
};

}  // namespace tavrix::test
