#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <list>
#include <mutex>
#include <thread>

#include "engine/FrontEndIo.h"
#include "engine/SimFrontEnds.h"
#include "engine/SimParser.h"

namespace tavrix::sim {

namespace {
constexpr size_t kMaxPending = 64 * 1024;  // a peer that never sends LF cannot grow us forever
// Out of descriptors: the waiting client is taken off the queue and closed, and the acceptor
// rests this long instead of spinning on a listener that stays readable.
constexpr int kBackOffMs = 100;

bool IsLoopback(const sockaddr_in& peer) {
    return (ntohl(peer.sin_addr.s_addr) >> 24) == 127;
}
}  // namespace

struct TcpFrontEnd::Impl {
    struct Connection {
        UniqueFd fd;
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    SimEngine& engine;
    TcpServiceLimits limits;
    std::atomic<bool> acknowledge{false};
    std::atomic<long> refused{0};
    std::atomic<long> idleClosed{0};
    UniqueFd spare;  // kept free to take a client off the queue when descriptors run out
    StopSignal stop;
    UniqueFd listener;
    int port = -1;
    std::string error;
    std::thread acceptor;
    std::mutex mutex;
    std::list<Connection> connections;

    Impl(SimEngine& e, TcpServiceLimits l) : engine(e), limits(l) {
        spare.Reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    }

    void Accept() {
        while (WaitFd(listener.Get(), POLLIN, stop, -1) == WaitResult::Ready) {
            sockaddr_in peer{};
            socklen_t len = sizeof peer;
            int fd = ::accept4(listener.Get(), reinterpret_cast<sockaddr*>(&peer), &len,
                               SOCK_NONBLOCK | SOCK_CLOEXEC);
            const int err = errno;
            Reap();
            if (fd < 0) {
                if (err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM) {
                    RefuseWithoutDescriptors();
                    if (!PauseMs(kBackOffMs, stop)) return;
                }
                continue;
            }
            std::lock_guard lock(mutex);
            if (connections.size() >= static_cast<size_t>(limits.maxClients)) {
                ++refused;
                ::close(fd);
                continue;
            }
            const bool control =
                limits.controlFromAnyHost ||
                (len >= sizeof peer && peer.sin_family == AF_INET && IsLoopback(peer));
            Connection& c = connections.emplace_back();
            c.fd.Reset(fd);
            c.thread = std::thread([this, &c, control] {
                Serve(c.fd.Get(), control);
                ::shutdown(c.fd.Get(), SHUT_RDWR);
                // The descriptor goes back at once, not when the next client comes.
                c.fd.Reset();
                c.finished = true;
            });
        }
    }

    // The spare descriptor makes room to accept the waiting client only to close it, so it
    // hears at once that it was refused rather than waiting in the queue.
    void RefuseWithoutDescriptors() {
        spare.Reset();
        const int fd = ::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            ++refused;
            ::close(fd);
        }
        spare.Reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    }

    // Joins the threads of connections that have ended.
    void Reap() {
        std::lock_guard lock(mutex);
        for (auto it = connections.begin(); it != connections.end();) {
            if (it->finished) {
                it->thread.join();
                it = connections.erase(it);
            } else {
                ++it;
            }
        }
    }

    void Serve(int fd, bool controlAllowed) {
        std::string pending;
        char buf[4096];
        const int idleMs = limits.idleSeconds > 0 ? limits.idleSeconds * 1000 : -1;
        for (;;) {
            const WaitResult w = WaitFd(fd, POLLIN, stop, idleMs);
            if (w == WaitResult::Timeout) ++idleClosed;
            if (w != WaitResult::Ready) return;
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) return;
            pending.append(buf, static_cast<size_t>(n));
            std::string line;
            while (TakeLine(pending, line)) {
                SimResponse r;
                if (!controlAllowed && SimEngine::IsControlLine(line))
                    r.refused = true;
                else
                    r = engine.Execute(line);
                if (SendResponse(fd, r, engine, "\n", stop, true) != SendOutcome::Sent) return;
                if (acknowledge && !IsQueryLine(line) && !engine.Faults().silent) {
                    // The acknowledgement is the instrument's answer to the line: it comes
                    // after the reply delay, like any answer (a slow instrument takes a table
                    // line by line).
                    const int delay = engine.Faults().delayMs;
                    if (delay > 0 && !PauseMs(delay, stop)) return;
                    const std::string ack = r.refused ? "\x15\n" : "\x06\n";
                    if (!WriteAll(fd, ack, 0, stop, true)) return;
                }
            }
            if (pending.size() > kMaxPending) pending.clear();
        }
    }
};

TcpFrontEnd::TcpFrontEnd(SimEngine& engine, int port, bool bindAny, TcpServiceLimits limits)
    : impl_(std::make_unique<Impl>(engine, limits)) {
    Impl& im = *impl_;
    if (!im.stop.Ok()) {
        im.error = "cannot create a pipe";
        return;
    }
    UniqueFd s(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!s.Valid()) {
        im.error = std::string("socket: ") + strerror(errno);
        return;
    }
    int one = 1;
    ::setsockopt(s.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(bindAny ? INADDR_ANY : INADDR_LOOPBACK);
    if (::bind(s.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        im.error = "cannot listen on TCP port " + std::to_string(port) + ": " + strerror(errno);
        return;
    }
    if (::listen(s.Get(), 8) != 0) {
        im.error = std::string("listen: ") + strerror(errno);
        return;
    }
    socklen_t len = sizeof addr;
    ::getsockname(s.Get(), reinterpret_cast<sockaddr*>(&addr), &len);
    im.port = ntohs(addr.sin_port);
    im.listener = std::move(s);
    im.acceptor = std::thread([&im] { im.Accept(); });
}

TcpFrontEnd::~TcpFrontEnd() {
    Impl& im = *impl_;
    im.stop.Signal();
    if (im.acceptor.joinable()) im.acceptor.join();
    std::lock_guard lock(im.mutex);
    for (Impl::Connection& c : im.connections) {
        if (c.thread.joinable()) c.thread.join();
    }
}

bool TcpFrontEnd::Ok() const {
    return impl_->listener.Valid();
}
int TcpFrontEnd::Port() const {
    return impl_->port;
}
void TcpFrontEnd::SetLineAcknowledgement(bool on) {
    impl_->acknowledge = on;
}
long TcpFrontEnd::RefusedConnections() const {
    return impl_->refused.load();
}
long TcpFrontEnd::IdleClosedConnections() const {
    return impl_->idleClosed.load();
}
std::string TcpFrontEnd::Error() const {
    return impl_->error;
}

}  // namespace tavrix::sim
