// The instrument link's reading of replies and tables: the input is what the instrument sends.
//
// The link talks to a peer on a thread of this program: over RS232 the far end of a
// pseudo-terminal that the link opens as its serial port, over LAN a TCP connection on the
// loopback. The peer waits for each command the link writes, then sends that exchange's bytes.
// When the link has taken every byte and waits for more, the peer hangs up (RS232) or closes
// its sending side (LAN): the link sees the end of the line at once instead of waiting for a
// time-out, and what it made of the bytes does not depend on timing.
//
// Input: one byte of options (bits 0-1: exchanges - 1; bit 2: LAN; bit 3: the LAN peer
// acknowledges command lines), then per exchange one byte (bits 0-1: query, quiet query,
// table, command; bits 2-7: the table's expected lines) and, except for the last exchange,
// two bytes of length (little-endian) before its bytes; the last exchange takes the rest.

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FuzzSupport.h"

using namespace tavrix;
using fuzz::Check;

namespace {

enum Op { kQuery = 0, kQuietQuery = 1, kTable = 2, kCommand = 3 };

struct Exchange {
    int op = kQuery;
    int expected = 0;
    std::string bytes;
};

struct Input {
    bool lan = false;
    bool acknowledge = false;
    std::vector<Exchange> exchanges;
};

Input Parse(const uint8_t* data, size_t size) {
    Input in;
    if (size == 0) return in;
    const int count = 1 + (data[0] & 3);
    in.lan = (data[0] & 4) != 0;
    in.acknowledge = (data[0] & 8) != 0;
    size_t pos = 1;
    for (int i = 0; i < count && pos < size; ++i) {
        Exchange e;
        e.op = data[pos] & 3;
        e.expected = data[pos] >> 2;
        ++pos;
        size_t length = size - pos;
        if (i + 1 < count && size - pos >= 2) {
            length = std::min<size_t>(data[pos] | (data[pos + 1] << 8), size - pos - 2);
            pos += 2;
        }
        e.bytes.assign(reinterpret_cast<const char*>(data + pos), length);
        pos += length;
        in.exchanges.push_back(std::move(e));
    }
    return in;
}

// The lines of what the instrument sent, as the link keeps them: CR and NUL dropped, only
// lines ended by LF.
std::vector<std::string> SentLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::string line;
    for (char c : bytes) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else if (c != '\r' && c != '\0') {
            line.push_back(c);
        }
    }
    return lines;
}

bool IsLineOf(const std::string& reply, const std::vector<std::string>& lines) {
    for (const std::string& l : lines)
        if (l == reply) return true;
    return false;
}

// Whether a thread is asleep: state "S" in its stat line. The link's thread sleeps only in its
// waits for data while an exchange runs.
class ThreadState {
public:
    explicit ThreadState(pid_t tid) {
        const std::string path = "/proc/self/task/" + std::to_string(tid) + "/stat";
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        Check(fd_ >= 0, "cannot read the state of the link's thread");
    }
    ~ThreadState() { ::close(fd_); }
    bool Sleeping() const {
        char buf[512];
        const ssize_t n = ::pread(fd_, buf, sizeof buf - 1, 0);
        if (n <= 0) return false;
        buf[n] = '\0';
        const char* p = std::strrchr(buf, ')');
        return p != nullptr && p[1] == ' ' && p[2] == 'S';
    }

private:
    int fd_ = -1;
};

// The listening socket of the LAN peer, one for the process.
struct Listener {
    Listener() {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        Check(fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), len) == 0 &&
                  ::listen(fd, 16) == 0 &&
                  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0,
              "cannot listen on the loopback");
        port = ntohs(a.sin_port);
    }
    int fd = -1;
    unsigned port = 0;
};

Listener& TheListener() {
    static Listener l;
    return l;
}

// The instrument's end of the line, served on a thread of its own (one for the process: a
// thread started for each input would cost more than the input), one exchange at a time.
class Peer {
public:
    static Peer& Get() {
        static Peer peer;
        return peer;
    }

    // A new line for an input: a pseudo-terminal for RS232; LAN uses the listener.
    void Open(const Input& in) {
        in_ = &in;
        if (in.lan) return;
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        Check(master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0,
              "cannot make a pseudo-terminal");
        slavePath_ = ::ptsname(master_);
        // Raw from the start (the settings belong to the terminal, not to one descriptor), and
        // kept open to see whether the link has taken every byte.
        slaveKeep_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios t{};
        Check(slaveKeep_ >= 0 && ::tcgetattr(slaveKeep_, &t) == 0, "cannot open the terminal");
        ::cfmakeraw(&t);
        ::tcsetattr(slaveKeep_, TCSANOW, &t);
    }
    // After the link is gone.
    void Close() {
        for (int* fd : {&master_, &slaveKeep_, &conn_}) {
            if (*fd >= 0) ::close(*fd);
            *fd = -1;
        }
        in_ = nullptr;
    }
    const std::string& SlavePath() const { return slavePath_; }

    // Around each exchange of the link: Begin before it, End after it (returns once the peer
    // has finished with that exchange's bytes).
    void Begin(size_t index) {
        // The peer waits for this exchange: a wake-up left from the last one must not count.
        DrainWake();
        std::lock_guard lock(m_);
        current_ = static_cast<int>(index);
        done_ = false;
        served_ = false;
        due_ = true;
        cv_.notify_all();
    }
    void End() {
        done_ = true;
        Wake();
        std::unique_lock lock(m_);
        cv_.wait(lock, [this] { return served_; });
    }

private:
    Peer() : link_(::gettid()) {
        Check(::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) == 0, "cannot make a pipe");
        thread_ = std::thread([this] { Run(); });
    }
    ~Peer() {
        {
            std::lock_guard lock(m_);
            quit_ = true;
        }
        cv_.notify_all();
        Wake();
        if (thread_.joinable()) thread_.join();
        Close();
        ::close(wake_[0]);
        ::close(wake_[1]);
    }

    void Wake() { (void)!::write(wake_[1], "x", 1); }
    void DrainWake() {
        char buf[64];
        while (::read(wake_[0], buf, sizeof buf) > 0) {
        }
    }
    int Line() const { return in_->lan ? conn_ : master_; }

    void Run() {
        // The checks below sleep 20 microseconds: not the default 50 more.
        ::prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0);
        std::unique_lock lock(m_);
        for (;;) {
            cv_.wait(lock, [&] { return quit_ || due_; });
            if (quit_) return;
            due_ = false;
            const std::string& bytes = in_->exchanges[static_cast<size_t>(current_)].bytes;
            lock.unlock();
            Serve(bytes);
            lock.lock();
            served_ = true;
            cv_.notify_all();
        }
    }

    // Takes a new connection of the link (the first one, or one opened again after the link
    // gave up an exchange): whatever the old one still carries is no longer read.
    void Accept() {
        const int fd = ::accept4(TheListener().fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return;
        if (conn_ >= 0) ::close(conn_);
        conn_ = fd;
        lineEnds_ = 0;
    }

    // Reads what the link writes until its command is complete; false when the exchange ended
    // first.
    bool AwaitCommand() {
        // RS232 frames a command with LF before and after it; LAN ends it with CR LF.
        const int wanted = in_->lan ? 1 : 2;
        lineEnds_ = 0;
        for (;;) {
            pollfd p[3] = {{wake_[0], POLLIN, 0},
                           {Line(), POLLIN, 0},
                           {in_->lan ? TheListener().fd : -1, POLLIN, 0}};
            if (::poll(p, 3, -1) < 0) continue;
            if (p[2].revents & POLLIN) Accept();
            if (p[1].revents && Line() >= 0) {
                char buf[256];
                const ssize_t n = ::read(Line(), buf, sizeof buf);
                for (ssize_t k = 0; k < n; ++k)
                    if (buf[k] == '\n') ++lineEnds_;
                if (lineEnds_ >= wanted) return true;
                if (in_->lan && (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))) {
                    // The link closed this connection; it may open another one.
                    ::close(conn_);
                    conn_ = -1;
                }
            }
            if (done_) return false;
        }
    }

    void Send(const std::string& bytes) {
        size_t off = 0;
        while (off < bytes.size() && Line() >= 0) {
            const char* from = bytes.data() + off;
            const size_t left = bytes.size() - off;
            const ssize_t n =
                in_->lan ? ::send(Line(), from, left, MSG_NOSIGNAL) : ::write(Line(), from, left);
            if (n > 0) {
                off += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) return;
            pollfd p[2] = {{wake_[0], POLLIN, 0}, {Line(), POLLOUT, 0}};
            ::poll(p, 2, 100);
            if (done_ && !(p[1].revents & POLLOUT)) return;  // the link reads no more
        }
    }

    // Bytes sent that the link has not taken yet.
    bool Pending() const {
        if (in_->lan) {
            // Bytes not yet sent; once sent on the loopback they are in the link's queue (the
            // unacknowledged count would wait for a delayed acknowledgement).
            int unsent = 0;
            return conn_ >= 0 && ::ioctl(conn_, SIOCOUTQNSD, &unsent) == 0 && unsent > 0;
        }
        // A poll of the terminal first moves what is still on its way into the line buffer.
        pollfd p{slaveKeep_, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
    }

    // The link has all the bytes and waits for more: nothing more will come.
    void EndOfData() {
        if (in_->lan) {
            if (conn_ >= 0) ::shutdown(conn_, SHUT_WR);
            return;
        }
        ::close(master_);
        master_ = -1;
    }

    void Serve(const std::string& bytes) {
        if (Line() < 0 && !in_->lan) return;  // hung up by an earlier exchange
        if (!AwaitCommand()) return;
        Send(bytes);
        int quietChecks = 0;
        while (!done_) {
            if (!Pending() && link_.Sleeping()) {
                // Twice in a row, so that a wake-up on its way is not missed.
                if (++quietChecks == 2) {
                    EndOfData();
                    return;
                }
            } else {
                quietChecks = 0;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
    }

    const Input* in_ = nullptr;
    ThreadState link_;  // the thread the link runs on: libFuzzer's, the one that made this
    int master_ = -1, slaveKeep_ = -1, conn_ = -1;
    int wake_[2] = {-1, -1};
    int lineEnds_ = 0;
    std::string slavePath_;
    std::mutex m_;
    std::condition_variable cv_;
    int current_ = -1;
    std::atomic<bool> done_{false};
    bool due_ = false;
    bool served_ = false;
    bool quit_ = false;
    std::thread thread_;
};

void CheckReply(int status, const std::string& reply, const Exchange& e) {
    if (status != link_status::kOk) return;
    Check(reply.size() <= CInstrumentLink::kMaxReplyLength, "a reply longer than the bound");
    Check(IsLineOf(reply, SentLines(e.bytes)),
          "a reply that is not a line the instrument sent for this exchange");
}

void CheckTable(int got, const std::string& table, const Exchange& e, bool lan,
                test::ScriptedOperator& op) {
    Check(!op.progress.empty() && op.progress.back()->closed > 0,
          "a table transfer left its progress window open");
    if (got < 0) return;
    Check(got <= CInstrumentLink::TableLineLimit(e.expected), "a table beyond its line limit");
    Check(!table.empty() && table.back() == '\n', "a table whose last line has no end");
    std::vector<std::string> lines;
    for (size_t start = 0; start < table.size();) {
        const size_t lf = table.find('\n', start);
        lines.push_back(table.substr(start, lf - start));
        start = lf + 1;
    }
    Check(lines.size() - 1 <= static_cast<size_t>(CInstrumentLink::TableLineLimit(e.expected)),
          "a table of more lines than its limit");
    Check(lines.size() == static_cast<size_t>(got) + 1, "a table line count that is not its own");
    for (size_t i = 0; i + 1 < lines.size(); ++i)
        Check(lines[i].find(';') == std::string::npos, "a table that goes on after its \";\"");
    Check(lines.back().find(';') != std::string::npos, "a table that ended without its \";\"");
    // Every line, in order, is one the instrument sent for this exchange.
    const std::vector<std::string> sent = SentLines(e.bytes);
    size_t k = 0;
    for (const std::string& l : lines) {
        while (k < sent.size() && sent[k] != l) ++k;
        Check(k < sent.size(), "a table line the instrument did not send for this exchange");
        ++k;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Input in = Parse(data, size);
    if (in.exchanges.empty()) return 0;

    Peer& peer = Peer::Get();
    peer.Open(in);
    SettingsStore settings(fuzz::ScratchFolder() + "/settings");
    test::ScriptedOperator op;
    auto link = std::make_unique<CInstrumentLink>(op, settings);
    if (in.lan) {
        link->SetPortType(kPortLan);
        link->IpAddr() = MyIPAddr::FromOctets(127, 0, 0, 1, TheListener().port);
        link->Lan().SetLineAcknowledgement(in.acknowledge);
        if (link->LanConnect() != 1) {
            peer.Close();
            return 0;
        }
    } else {
        link->SetSerialDeviceOverride(peer.SlavePath());
        link->StartUp();
    }

    // TAVRIX_FUZZ_VERBOSE: each exchange's status and the start of its reply on stderr.
    static const bool verbose = std::getenv("TAVRIX_FUZZ_VERBOSE") != nullptr;
    const std::string query = "*IDN?", quiet = "KRDG? A", table = "CALC? 1", command = "CMD 1";
    for (size_t i = 0; i < in.exchanges.size(); ++i) {
        const Exchange& e = in.exchanges[i];
        std::string reply;
        peer.Begin(i);
        int status = 0;
        switch (e.op) {
            case kQuery:
                status = link->Query(query, reply);
                break;
            case kQuietQuery:
                status = link->TransactQuiet(quiet, &reply);
                break;
            case kTable:
                status = link->FetchTable(e.expected, "Uploading", &table, &reply);
                break;
            default:
                status = link->Command(command);
                break;
        }
        peer.End();
        if (verbose)
            std::fprintf(stderr, "exchange %zu: op %d, status %d, reply \"%s\"\n", i, e.op, status,
                         reply.substr(0, 60).c_str());
        if (e.op == kTable)
            CheckTable(status, reply, e, in.lan, op);
        else if (e.op != kCommand)
            CheckReply(status, reply, e);
    }
    link.reset();
    peer.Close();
    return 0;
}
