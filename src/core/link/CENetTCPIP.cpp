#include "link/CENetTCPIP.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tavrix {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// poll() for `events` until the deadline, retrying on EINTR: >0 ready, 0 time-out, <0 error.
int PollUntil(int fd, short events, Clock::time_point deadline, short* revents) {
    for (;;) {
        pollfd p{fd, events, 0};
        int r = ::poll(&p, 1, MsLeft(deadline));
        if (r < 0 && errno == EINTR) continue;
        if (revents != nullptr) *revents = r > 0 ? p.revents : 0;
        return r;
    }
}

// A query holds "?" after its first character; the peer answers it instead of acknowledging.
bool IsQueryText(const char* data, int length) {
    for (int i = 0; data && i < length; ++i)
        if (data[i] == '?') return i != 0;
    return false;
}

// Bytes taken from the socket in one Receive(), so that a flooding peer cannot hold us.
constexpr size_t kReceiveBurst = 1u << 20;

}  // namespace

MyIPAddr MyIPAddr::FromOctets(int a, int b, int c, int d, unsigned long port) {
    const uint32_t address =
        (static_cast<uint32_t>(a & 0xFF) << 24) | (static_cast<uint32_t>(b & 0xFF) << 16) |
        (static_cast<uint32_t>(c & 0xFF) << 8) | static_cast<uint32_t>(d & 0xFF);
    return MyIPAddr(address, port);
}

const char* MyIPAddr::Get_Addr_Str() {
    text_ = std::to_string(Octet(0)) + "." + std::to_string(Octet(1)) + "." +
            std::to_string(Octet(2)) + "." + std::to_string(Octet(3));
    return text_.c_str();
}

CENetTCPIP::CENetTCPIP() = default;

CENetTCPIP::~CENetTCPIP() {
    Disconnect();
}

int CENetTCPIP::Connect(char* address, unsigned long port) {
    Disconnect();
    ResetTable();
    havePeer_ = false;

    if (address == nullptr || port == 0 || port > 65535) return 0;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, address, &peer.sin_addr) != 1) return 0;
    peer_ = peer;
    havePeer_ = true;
    return Open() ? 1 : 0;
}

bool CENetTCPIP::Open() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer_), sizeof peer_) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            ::close(fd);
            return false;
        }
        const auto deadline = Clock::now() + std::chrono::milliseconds(connectTimeoutMs_);
        short revents = 0;
        int soError = 0;
        socklen_t len = sizeof soError;
        if (PollUntil(fd, POLLOUT, deadline, &revents) <= 0 ||
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0 || soError != 0) {
            ::close(fd);
            return false;
        }
    }
    // Commands are short lines answered at once; do not let Nagle hold them back.
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fd_ = fd;
    inbox_.clear();
    lineEndPending_ = false;
    return true;
}

void CENetTCPIP::Disconnect() {
    reopenDue_ = false;
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    inbox_.clear();
    lineEndPending_ = false;
    if (tableActive_ && !tableDone_) tableFailed_ = true;
}

void CENetTCPIP::Abandon() {
    const bool wasOpen = fd_ >= 0 || reopenDue_;
    Disconnect();
    reopenDue_ = wasOpen && havePeer_;
}

bool CENetTCPIP::Reopen() {
    reopenDue_ = false;
    if (!havePeer_ || !Open()) {
        // Tried again at the next exchange: the instrument may be back by then.
        reopenDue_ = havePeer_;
        return false;
    }
    ++reopens_;
    return true;
}

bool CENetTCPIP::Receive(int waitMs) {
    if (fd_ < 0) return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs > 0 ? waitMs : 0);
    short revents = 0;
    int r = PollUntil(fd_, POLLIN, deadline, &revents);
    if (r < 0) return false;
    if (r == 0) return true;  // nothing yet
    char chunk[4096];
    size_t taken = 0;
    while (taken < kReceiveBurst) {
        ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n > 0) {
            inbox_.append(chunk, static_cast<size_t>(n));
            taken += static_cast<size_t>(n);
            continue;
        }
        if (n == 0) return false;  // peer closed; what came before it is kept
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    return true;
}

bool CENetTCPIP::DiscardStale() {
    inbox_.clear();
    lineEndPending_ = false;
    char chunk[4096];
    for (size_t dropped = 0; dropped < kReceiveBurst;) {
        ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n > 0) {
            dropped += static_cast<size_t>(n);
            continue;
        }
        if (n == 0) return false;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    return true;
}

int CENetTCPIP::Send(const char* data, int length, int /*mode*/) {
    if (length < 0 || (data == nullptr && length > 0)) return 1;
    if (fd_ < 0 && (!reopenDue_ || !Reopen())) return 1;
    // A late reply to an abandoned exchange must never pass for the answer to this command.
    ResetTable();
    if (!DiscardStale()) {
        Disconnect();
        return 1;
    }

    std::string out;
    out.reserve(static_cast<size_t>(length) + 2);
    if (length > 0) out.append(data, static_cast<size_t>(length));
    out += "\r\n";

    const auto deadline = Clock::now() + std::chrono::milliseconds(readTimeoutMs_);
    replyDeadline_ = deadline;
    size_t done = 0;
    while (done < out.size()) {
        ssize_t n = ::send(fd_, out.data() + done, out.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            short revents = 0;
            int r = PollUntil(fd_, POLLOUT, deadline, &revents);
            if (r > 0 && (revents & POLLOUT)) continue;
            if (r == 0) {
                // The peer takes no data; a line cut short would join the next one.
                Abandon();
                return 1;
            }
        }
        Disconnect();  // EPIPE, reset, or the socket failed
        return 1;
    }
    if (acknowledge_ && !IsQueryText(data, length)) return AwaitAcknowledgement();
    return 0;
}

int CENetTCPIP::AwaitAcknowledgement() {
    const auto deadline = replyDeadline_;
    for (;;) {
        const size_t lf = inbox_.find('\n');
        if (lf != std::string::npos) {
            const std::string line = inbox_.substr(0, lf);
            inbox_.erase(0, lf + 1);
            if (line.find(kNakByte) != std::string::npos) return 2;
            if (line.find(kAckByte) != std::string::npos) return 0;
            continue;  // not an acknowledgement: a stray line is dropped
        }
        const int wait = MsLeft(deadline);
        if (wait <= 0) {
            Abandon();  // a late acknowledgement must not pass for the next one
            return 1;
        }
        if (!Receive(wait)) {
            Disconnect();
            return 1;
        }
    }
}

int CENetTCPIP::Read(char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    buffer[0] = '\0';
    if (size < 2) return 0;  // no room for a single character
    if (lineEndPending_) {
        lineEndPending_ = false;
        return 1;
    }

    const size_t limit = static_cast<size_t>(size) - 1;
    std::string piece;
    bool peerGone = false;
    // The whole reply is due within the time-out of its send, however slowly it trickles.
    const auto deadline = replyDeadline_;
    for (;;) {
        size_t i = 0;
        bool lineEnd = false;
        while (i < inbox_.size() && piece.size() < limit) {
            const char c = inbox_[i++];
            if (c == '\n') {
                lineEnd = true;
                break;
            }
            if (c == '\r' || c == '\0') continue;
            piece.push_back(c);
        }
        inbox_.erase(0, i);
        if (lineEnd || piece.size() >= limit) {
            // A full piece whose LF is still to come is ended by a later Read.
            if (lineEnd && !piece.empty()) lineEndPending_ = true;
            std::memcpy(buffer, piece.data(), piece.size());
            buffer[piece.size()] = '\0';
            return 1;
        }
        if (peerGone || fd_ < 0) {
            Disconnect();
            return 0;
        }
        const int wait = MsLeft(deadline);
        if (wait <= 0) {
            Abandon();
            return 0;
        }
        if (!Receive(wait)) peerGone = true;
    }
}

void CENetTCPIP::ResetTable() {
    tableActive_ = false;
    tableDone_ = false;
    tableFailed_ = false;
    tableLines_ = 0;
    table_.clear();
    tableLine_.clear();
}

void CENetTCPIP::FailTable() {
    tableFailed_ = true;
    table_.clear();
    tableLine_.clear();
    // The rest of the table may still be on its way.
    Abandon();
}

int CENetTCPIP::Get_Table(const char* command, int length) {
    if (Send(command, length, 1) != 0) return 0;
    ResetTable();
    tableActive_ = true;
    tableLastByte_ = Clock::now();
    tableDeadline_ = tableLastByte_ + tableBound_;
    return 1;
}

int CENetTCPIP::Get_Table_In_Progress() {
    // Also non-zero once the transfer has failed, so that a caller polling it moves on to the
    // counter and learns of the failure there.
    return tableActive_ ? 1 : 0;
}

void CENetTCPIP::TakeTableLines() {
    size_t i = 0;
    while (i < inbox_.size() && !tableDone_) {
        const char c = inbox_[i++];
        if (c == '\r' || c == '\0') continue;
        if (c != '\n') {
            tableLine_.push_back(c);
            // The bounds hold however much arrived at once: a table past them fails even when
            // its ";" line came in the same burst.
            if (table_.size() + tableLine_.size() > kMaxTableBytes) break;
            continue;
        }
        const bool last = tableLine_.find(';') != std::string::npos;
        table_ += tableLine_;
        table_ += '\n';
        tableLine_.clear();
        if (last) {
            tableDone_ = true;
        } else if (++tableLines_ > tableMaxLines_) {
            break;
        }
    }
    // Anything after the ";" line is left for the next Send to discard.
    inbox_.erase(0, i);
    if (!tableDone_ &&
        (tableLines_ > tableMaxLines_ || table_.size() + tableLine_.size() > kMaxTableBytes))
        FailTable();
}

void CENetTCPIP::PumpTable(int waitMs) {
    if (!tableActive_ || tableDone_ || tableFailed_) return;
    TakeTableLines();
    if (tableDone_ || tableFailed_) return;
    if (fd_ < 0) {
        FailTable();
        return;
    }
    const size_t before = inbox_.size();
    const bool alive = Receive(waitMs);
    if (inbox_.size() > before) tableLastByte_ = Clock::now();
    TakeTableLines();
    if (tableDone_ || tableFailed_) return;
    if (!alive) {
        FailTable();
        Disconnect();
        return;
    }
    const auto now = Clock::now();
    if (now - tableLastByte_ > std::chrono::milliseconds(readTimeoutMs_) || now > tableDeadline_)
        FailTable();
}

int CENetTCPIP::Get_Received_Counter(int* count) {
    PumpTable(20);
    if (count != nullptr) *count = tableLines_;
    return tableActive_ && !tableFailed_ ? 1 : 0;
}

int CENetTCPIP::Table_Ready() {
    // Bounded: PumpTable fails the transfer at its deadline.
    while (tableActive_ && !tableDone_ && !tableFailed_) PumpTable(100);
    return tableDone_ ? 1 : 0;
}

int CENetTCPIP::Get_Received_Buffer(std::string* out) {
    if (!tableDone_ || out == nullptr) return 0;
    *out = table_;
    return 1;
}

}  // namespace tavrix
