#include "serve/ShareServer.h"

#include "base/VisibleText.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <list>
#include <mutex>

namespace tavrix {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kReadChunk = 16 * 1024;
// Input kept per client before its socket is no longer read (a client may send many lines
// ahead; they wait here and in the kernel, never in unbounded memory).
constexpr size_t kInputHighWater = 64 * 1024;

std::string WallClockStamp(bool withDate) {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    ::localtime_r(&ts.tv_sec, &local);
    char buf[64];
    if (!withDate) {
        std::strftime(buf, sizeof buf, "%H:%M:%S", &local);
        return buf;
    }
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &local);
    std::string s = buf;
    char ms[24];
    std::snprintf(ms, sizeof ms, ".%03ld", ts.tv_nsec / 1000000);
    s += ms;
    std::strftime(buf, sizeof buf, "%z", &local);  // +hhmm
    const std::string z = buf;
    if (z.size() == 5) s += z.substr(0, 3) + ":" + z.substr(3);
    return s;
}

bool HoldsControl(std::string_view line) {
    for (unsigned char c : line)
        if ((c < 0x20 && c != '\t') || (c >= 0x7F && c <= 0x9F)) return true;
    return false;
}

}  // namespace

struct ShareServer::Impl {
    struct Client {
        int fd = -1;
        uint32_t address = 0;
        std::string peer;  // "ADDR:PORT"
        std::string in, out;
        Clock::time_point lastActivity;
        Clock::time_point lastOutProgress;
        bool dead = false;
    };

    Impl(CInstrumentLink& l, SessionMutex& m, LogSink& g) : link(l), mutex(m), log(g) {}

    CInstrumentLink& link;
    SessionMutex& mutex;
    LogSink& log;
    ShareOptions opt;
    int listenFd = -1;
    int wake[2] = {-1, -1};
    int auditFd = -1;
    std::list<Client> clients;
    size_t turn = 0;
    mutable std::mutex countMutex;
    Counters counters;
    // A table a client is sending into the instrument: the lock is held from "CALC n" to ";".
    Client* tableClient = nullptr;
    std::unique_ptr<SessionLock> tableLock;
    int tableLines = 0;
    Clock::time_point tableLastLine;
    std::string tableStart;

    ~Impl() {
        for (Client& c : clients) ::close(c.fd);
        if (listenFd >= 0) ::close(listenFd);
        if (wake[0] >= 0) ::close(wake[0]);
        if (wake[1] >= 0) ::close(wake[1]);
        if (auditFd >= 0) ::close(auditFd);
    }

    template <typename F>
    void Counting(F f) {
        std::lock_guard lock(countMutex);
        f(counters);
    }

    void Run(const std::atomic<bool>& running, std::atomic<int>& clientCount);
    void AcceptClients();
    void ReadFrom(Client& c);
    void WriteTo(Client& c);
    // Takes one complete line of the client's input, CR LF or LF ended; false when none.
    bool TakeLine(Client& c, std::string& line);
    void HandleLine(Client& c, const std::string& line);
    void Relay(Client& c, const std::string& line);
    void Refuse(Client& c, const std::string& line, const std::string& reason, bool logIt);
    void Fail(Client& c, const std::string& reason, bool tableQuery);
    void EndTable(const std::string& why);
    void Drop(Client& c, const std::string& why);
    void Audit(const Client& c, const std::string& what, const std::string& line);
    static void Queue(Client& c, const std::string& text) {
        if (c.out.empty()) c.lastOutProgress = Clock::now();
        c.out += text;
    }
};

ShareServer::ShareServer(CInstrumentLink& link, SessionMutex& mutex, LogSink& log)
    : link_(link), mutex_(mutex), log_(log) {}

ShareServer::~ShareServer() {
    Stop();
}

std::string ShareServer::Address() const {
    const uint32_t a = impl_ ? impl_->opt.address : 0x7F000001u;
    return share::Ipv4Text(a) + ":" + std::to_string(Port());
}

ShareServer::Counters ShareServer::Count() const {
    if (!impl_) return {};
    std::lock_guard lock(impl_->countMutex);
    return impl_->counters;
}

bool ShareServer::Start(const ShareOptions& options, std::string& error) {
    Stop();
    auto im = std::make_unique<Impl>(link_, mutex_, log_);
    im->opt = options;
    const bool loopbackOnly = (options.address >> 24) == 127;
    if (!loopbackOnly && options.allow.empty()) {
        error = "a share listening on " + share::Ipv4Text(options.address) +
                " needs the client networks it allows (--allow CIDR)";
        return false;
    }
    if (options.maxClients < 1) {
        error = "a share needs room for at least one client";
        return false;
    }
    if (!options.auditPath.empty()) {
        im->auditFd = ::open(options.auditPath.c_str(),
                             O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
                             0600);
        struct stat st {};
        if (im->auditFd < 0 || ::fstat(im->auditFd, &st) != 0 || !S_ISREG(st.st_mode)) {
            error = "cannot open the audit file " + options.auditPath + ": " +
                    (im->auditFd < 0 ? strerror(errno) : "not a regular file");
            return false;
        }
        ::fcntl(im->auditFd, F_SETFL, O_WRONLY | O_APPEND);
    }
    if (::pipe2(im->wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("pipe: ") + strerror(errno);
        return false;
    }
    im->listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (im->listenFd < 0) {
        error = std::string("socket: ") + strerror(errno);
        return false;
    }
    int one = 1;
    ::setsockopt(im->listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(options.port));
    addr.sin_addr.s_addr = htonl(options.address);
    if (::bind(im->listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        error = "cannot listen on " + share::Ipv4Text(options.address) + ":" +
                std::to_string(options.port) + ": " + strerror(errno);
        return false;
    }
    if (::listen(im->listenFd, 16) != 0) {
        error = std::string("listen: ") + strerror(errno);
        return false;
    }
    socklen_t len = sizeof addr;
    ::getsockname(im->listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    impl_ = std::move(im);
    running_ = true;
    thread_ = std::thread([this] { impl_->Run(running_, clients_); });
    log_.Append("Share: listening on " + Address() + (options.readOnly ? " (read-only)" : "") +
                " at " + WallClockStamp(false) + "\n");
    return true;
}

void ShareServer::Stop() {
    if (!running_.exchange(false)) return;
    const char b = 1;
    [[maybe_unused]] ssize_t w = ::write(impl_->wake[1], &b, 1);
    if (thread_.joinable()) thread_.join();
    log_.Append("Share: stopped at " + WallClockStamp(false) + "\n");
    clients_ = 0;
}

void ShareServer::Impl::Audit(const Client& c, const std::string& what, const std::string& line) {
    if (auditFd < 0) return;
    const std::string row = WallClockStamp(true) + " " + c.peer + " " + what + ": " +
                            VisibleText(line) + "\n";
    // A full disk costs audit lines, never the relay or the owner's run.
    [[maybe_unused]] ssize_t w = ::write(auditFd, row.data(), row.size());
}

void ShareServer::Impl::Drop(Client& c, const std::string& why) {
    if (c.dead) return;
    if (&c == tableClient) EndTable(c.peer + " left in the middle of a table");
    c.dead = true;
    log.Append("Share: " + c.peer + " left at " + WallClockStamp(false) +
               (why.empty() ? "" : " (" + why + ")") + "\n");
}

void ShareServer::Impl::AcceptClients() {
    for (int i = 0; i < 64; ++i) {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const int fd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&from), &len,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;  // nothing more waiting, or out of descriptors (tried next round)
        const uint32_t a = ntohl(from.sin_addr.s_addr);
        const std::string peer = share::Ipv4Text(a) + ":" + std::to_string(ntohs(from.sin_port));
        bool allowed = (a >> 24) == 127;
        for (const share::Ipv4Net& net : opt.allow) allowed = allowed || net.Contains(a);
        size_t live = 0;
        for (const Client& c : clients) live += c.dead ? 0 : 1;
        std::string refusal;
        if (!allowed) refusal = "not among the allowed client networks";
        else if (live >= static_cast<size_t>(opt.maxClients))
            refusal = "the share has its " + std::to_string(opt.maxClients) + " clients";
        if (!refusal.empty()) {
            const std::string msg = std::string(1, kNak) + "share: connection refused: " +
                                    refusal + "\n";
            [[maybe_unused]] ssize_t w = ::send(fd, msg.data(), msg.size(), MSG_NOSIGNAL);
            ::close(fd);
            Counting([](Counters& n) { ++n.rejectedConnections; });
            log.Append("Share: refused " + peer + ": " + refusal + "\n");
            continue;
        }
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        Client& c = clients.emplace_back();
        c.fd = fd;
        c.address = a;
        c.peer = peer;
        c.lastActivity = c.lastOutProgress = Clock::now();
        Counting([](Counters& n) { ++n.connections; });
        log.Append("Share: " + peer + " connected at " + WallClockStamp(false) + "\n");
    }
}

void ShareServer::Impl::ReadFrom(Client& c) {
    char buf[kReadChunk];
    const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
        Drop(c, "");
        return;
    }
    c.in.append(buf, static_cast<size_t>(n));
    c.lastActivity = Clock::now();
    const size_t lf = c.in.find('\n');
    if (lf == std::string::npos ? c.in.size() > kMaxUnterminated : lf > kMaxUnterminated) {
        Queue(c, std::string(1, kNak) + "share: refused: more than " +
                     std::to_string(kMaxUnterminated) + " bytes without a line end\n");
        WriteTo(c);
        Counting([](Counters& k) { ++k.refused; });
        Audit(c, "refused (no line end)", c.in.substr(0, 60));
        Drop(c, "more than " + std::to_string(kMaxUnterminated) + " bytes without a line end");
    }
}

void ShareServer::Impl::WriteTo(Client& c) {
    while (!c.out.empty()) {
        const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return;
        if (n <= 0) {
            Drop(c, "");
            return;
        }
        c.out.erase(0, static_cast<size_t>(n));
        c.lastOutProgress = Clock::now();
    }
}

bool ShareServer::Impl::TakeLine(Client& c, std::string& line) {
    const size_t lf = c.in.find('\n');
    if (lf == std::string::npos) return false;
    line.assign(c.in, 0, lf);
    c.in.erase(0, lf + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

void ShareServer::Impl::Refuse(Client& c, const std::string& line, const std::string& reason,
                               bool logIt) {
    Queue(c, std::string(1, kNak) + "share: refused: " + reason + "\n");
    if (share::TableQueryOf(line) != share::TableQuery::None) Queue(c, ";\n");
    Counting([](Counters& n) { ++n.refused; });
    Audit(c, "refused (" + reason + ")", line);
    if (logIt) log.Append("Share: refused from " + c.peer + " (" + reason + "): " + VisibleText(line) + "\n");
}

void ShareServer::Impl::Fail(Client& c, const std::string& reason, bool tableQuery) {
    Queue(c, std::string(1, kNak) + "share: failed: " + reason + "\n");
    if (tableQuery) Queue(c, ";\n");
    Counting([](Counters& n) { ++n.failed; });
}

void ShareServer::Impl::EndTable(const std::string& why) {
    if (!tableClient) return;
    // The instrument takes every line as table data until ";": end it, so that the owner's
    // next exchange is not swallowed. What was sent may be a partial table: say so.
    link.TransactQuiet(";", nullptr);
    log.Append("Share: " + why + " (" + VisibleText(tableStart) + ", " + std::to_string(tableLines) +
               " line(s)); the table was ended and may be incomplete\n");
    Audit(*tableClient, "table ended by the share (" + why + ")", ";");
    tableClient = nullptr;
    tableLock.reset();
}

void ShareServer::Impl::HandleLine(Client& c, const std::string& line) {
    const std::string trimmed = line;
    if (trimmed.find_first_not_of(" \t") == std::string::npos) return;  // nothing to send
    if (line.size() > kMaxLine) {
        Refuse(c, line, "line longer than " + std::to_string(kMaxLine) + " characters", true);
        return;
    }
    if (HoldsControl(line)) {
        Refuse(c, line, "line holds control characters", true);
        return;
    }
    if (&c != tableClient) {
        if (share::TouchesCalibration(line)) {
            Refuse(c, line, "calibration is not reachable through the share", true);
            return;
        }
        if (opt.readOnly && !share::IsQueryOnly(line)) {
            Refuse(c, line, "read-only share relays queries only", true);
            return;
        }
    }
    Relay(c, line);
}

void ShareServer::Impl::Relay(Client& c, const std::string& line) {
    const bool inTable = &c == tableClient;
    const share::TableQuery table = inTable ? share::TableQuery::None : share::TableQueryOf(line);
    std::unique_ptr<SessionLock> lock;
    if (!inTable) {
        lock = std::make_unique<SessionLock>(mutex, static_cast<int>(opt.lockWait.count()));
        if (!lock->Owned()) {
            Fail(c, "instrument busy for " + std::to_string(opt.lockWait.count()) + " ms",
                 table != share::TableQuery::None);
            Audit(c, "failed (instrument busy)", line);
            return;
        }
    }
    const bool lanPort = link.GetPortType() == kPortLan;
    if (table != share::TableQuery::None) {
        int expected = share::ExpectedTableLines(table);
        if (table == share::TableQuery::DataLog) {
            std::string count;
            if (link.TransactQuiet("DLog:Count?", &count) == 0)
                expected = std::max(1, std::atoi(count.c_str()) + 1);
        }
        std::string reply;
        const int n = link.FetchTableQuiet(expected, line, &reply);
        if (n < 0) {
            Fail(c, std::string("link: ") + CInstrumentLink::StatusText(n), true);
            Audit(c, "failed (link)", line);
            return;
        }
        if (!reply.empty() && reply.back() != '\n') reply.push_back('\n');
        // Every transport hands the table over with or without its ";" line: send it once.
        const size_t lastStart = reply.size() < 2 ? 0 : reply.rfind('\n', reply.size() - 2) + 1;
        const std::string_view lastLine(reply.data() + lastStart, reply.size() - lastStart);
        if (lastLine.find(';') == std::string_view::npos) reply += ";\n";
        Queue(c, reply);
        Counting([](Counters& k) { ++k.relayed; });
        Audit(c, "relayed table (" + std::to_string(n) + " lines)", line);
        return;
    }
    if (!inTable && CInstrumentLink::IsQuery(line)) {
        std::string reply;
        const int status = link.TransactQuiet(line, &reply);
        if (status != 0) {
            Fail(c, std::string("link: ") + CInstrumentLink::StatusText(status), false);
            Audit(c, "failed (link)", line);
            return;
        }
        Queue(c, reply + "\n");
        Counting([](Counters& k) { ++k.relayed; });
        Audit(c, "relayed", line);
        return;
    }
    const int status = link.TransactQuiet(line, nullptr);
    // Over LAN a sent command comes back as "not possible on this port type": it was sent.
    if (status != 0 && !(status == link_status::kBadPortType && lanPort)) {
        Fail(c, std::string("link: ") + CInstrumentLink::StatusText(status), false);
        Audit(c, "failed (link)", line);
        if (inTable) EndTable(c.peer + "'s table could not be sent");
        return;
    }
    if (opt.acknowledge) Queue(c, std::string(1, kAck) + "\n");
    Counting([](Counters& k) { ++k.relayed; });
    Audit(c, "relayed", line);
    if (inTable) {
        tableLastLine = Clock::now();
        if (share::EndsTableInput(line)) {
            tableClient = nullptr;
            tableLock.reset();
        } else if (++tableLines > kMaxTableInputLines) {
            EndTable(c.peer + " sent more lines than any table holds");
        }
    } else if (share::StartsTableInput(line)) {
        tableClient = &c;
        tableLock = std::move(lock);
        tableLines = 0;
        tableLastLine = Clock::now();
        tableStart = line;
    }
}

void ShareServer::Impl::Run(const std::atomic<bool>& running, std::atomic<int>& clientCount) {
    std::vector<pollfd> fds;
    std::vector<Client*> polled;
    while (running.load()) {
        fds.clear();
        polled.clear();
        fds.push_back({wake[0], POLLIN, 0});
        fds.push_back({listenFd, POLLIN, 0});
        bool work = false;
        for (Client& c : clients) {
            if (c.dead) continue;
            short events = 0;
            if (c.in.size() < kInputHighWater) events |= POLLIN;
            if (!c.out.empty()) events |= POLLOUT;
            if (c.in.find('\n') != std::string::npos && c.out.size() < kOutputHighWater &&
                (!tableClient || tableClient == &c))
                work = true;
            fds.push_back({c.fd, events, 0});
            polled.push_back(&c);
        }
        if (::poll(fds.data(), fds.size(), work ? 0 : 500) < 0 && errno != EINTR) break;
        if (fds[0].revents) break;
        for (size_t i = 0; i < polled.size(); ++i) {
            Client& c = *polled[i];
            const short r = fds[i + 2].revents;
            if (r & POLLOUT) WriteTo(c);
            if (!c.dead && (r & (POLLIN | POLLHUP | POLLERR))) ReadFrom(c);
        }
        if (fds[1].revents & POLLIN) AcceptClients();

        // One line per client in turn, so that a busy client does not starve the others; a
        // table being sent holds the instrument for its client alone.
        std::string line;
        if (tableClient) {
            Client& c = *tableClient;
            while (!c.dead && tableClient == &c && TakeLine(c, line)) HandleLine(c, line);
            if (tableClient && Clock::now() - tableLastLine > opt.tableLineWait)
                EndTable(c.peer + " stopped sending its table");
        } else if (!clients.empty()) {
            const size_t n = clients.size();
            auto it = clients.begin();
            std::advance(it, turn % n);
            for (size_t k = 0; k < n && !tableClient; ++k) {
                Client& c = *it;
                if (!c.dead && c.out.size() < kOutputHighWater && TakeLine(c, line))
                    HandleLine(c, line);
                if (++it == clients.end()) it = clients.begin();
            }
            ++turn;
        }
        const auto now = Clock::now();
        for (Client& c : clients) {
            if (c.dead) continue;
            WriteTo(c);
            if (c.dead) continue;
            if (!c.out.empty() && now - c.lastOutProgress > kStalledReader)
                Drop(c, "reads no replies");
            else if (c.out.empty() && c.in.empty() && now - c.lastActivity > opt.idleTimeout)
                Drop(c, "idle");
        }
        for (auto it = clients.begin(); it != clients.end();) {
            if (it->dead) {
                ::close(it->fd);
                it = clients.erase(it);
            } else {
                ++it;
            }
        }
        clientCount = static_cast<int>(clients.size());
    }
    if (tableClient) EndTable("the share stopped in the middle of a table");
    for (Client& c : clients) ::close(c.fd);
    clients.clear();
    clientCount = 0;
}

}  // namespace tavrix
