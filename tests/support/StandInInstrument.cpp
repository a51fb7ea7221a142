#include "StandInInstrument.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>

namespace tavrix::test {

using Clock = std::chrono::steady_clock;

std::optional<StandInAnswer> Acknowledged(const std::string& line, std::optional<std::string> reply,
                                          bool refuse) {
    const size_t q = line.find('?');
    const bool query = q != std::string::npos && q != 0;
    StandInAnswer a;
    if (reply) a.bytes = *reply + "\n";
    if (!query) a.bytes += refuse ? "\x15\n" : "\x06\n";
    if (a.bytes.empty()) return std::nullopt;
    return a;
}

StandInInstrument::StandInInstrument(Wire wire, Script script)
    : wire_(wire), script_(std::move(script)) {
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
    if (wire_ == Wire::Pty) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        ::grantpt(master_);
        ::unlockpt(master_);
        slavePath_ = ::ptsname(master_);
        // Held open so that the link's opens and closes never hang up the master.
        slaveKeep_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
        termios t{};
        ::tcgetattr(slaveKeep_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slaveKeep_, TCSANOW, &t);
        conns_.push_back({master_, {}});
    } else {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            ::listen(listen_, 8) == 0 &&
            ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            port_ = ntohs(addr.sin_port);
    }
    thread_ = std::thread([this] { Run(); });
}

StandInInstrument::~StandInInstrument() {
    if (wake_[1] >= 0) (void)!::write(wake_[1], "q", 1);
    if (thread_.joinable()) thread_.join();
    for (const Conn& c : conns_) ::close(c.fd);
    for (int fd : {listen_, slaveKeep_, wake_[0], wake_[1]})
        if (fd >= 0) ::close(fd);
}

std::vector<std::string> StandInInstrument::Lines() const {
    std::lock_guard lock(m_);
    return lines_;
}

void StandInInstrument::HangUp() {
    hangUp_ = true;
    (void)!::write(wake_[1], "h", 1);
    const auto until = Clock::now() + std::chrono::seconds(2);
    while (hangUp_ && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

void StandInInstrument::Close(int fd) {
    ::close(fd);
    std::erase_if(conns_, [fd](const Conn& c) { return c.fd == fd; });
    std::erase_if(pending_, [fd](const Pending& p) { return p.fd == fd; });
}

void StandInInstrument::Take(Conn& c, const char* data, size_t n) {
    const int fd = c.fd;
    for (size_t i = 0; i < n; ++i) {
        if (data[i] != '\n') {
            c.partial.push_back(data[i]);
            continue;
        }
        std::string line = std::move(c.partial);
        c.partial.clear();
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;  // the serial framing's leading LF
        int index;
        {
            std::lock_guard lock(m_);
            index = static_cast<int>(lines_.size());
            lines_.push_back(line);
        }
        if (auto answer = script_(line, index)) {
            if (answer->hangUp) {
                if (wire_ == Wire::Tcp) {
                    Close(fd);  // c is gone with it
                } else {
                    hangUp_ = true;
                }
                return;
            }
            const auto at = Clock::now() + std::chrono::milliseconds(answer->delayMs);
            pending_.push_back({fd, std::move(answer->bytes), 0, at, answer->trickleMs});
        }
    }
}

void StandInInstrument::Run() {
    for (;;) {
        std::vector<pollfd> fds{{wake_[0], POLLIN, 0}};
        if (listen_ >= 0) fds.push_back({listen_, POLLIN, 0});
        for (const Conn& c : conns_)
            fds.push_back({c.fd, static_cast<short>(stalled_ ? 0 : POLLIN), 0});
        int waitMs = 50;
        const auto now = Clock::now();
        for (const Pending& p : pending_) {
            const auto ms =
                std::chrono::duration_cast<std::chrono::milliseconds>(p.nextAt - now).count();
            waitMs = std::clamp(static_cast<int>(ms), 0, waitMs);
        }
        ::poll(fds.data(), fds.size(), waitMs);

        if (fds[0].revents) {
            char c;
            bool quit = false;
            while (::read(wake_[0], &c, 1) == 1) quit = quit || c == 'q';
            if (quit) return;
        }
        if (hangUp_) {
            while (!conns_.empty()) Close(conns_.front().fd);
            if (slaveKeep_ >= 0) ::close(slaveKeep_);
            if (listen_ >= 0) ::close(listen_);
            slaveKeep_ = listen_ = -1;
            hangUp_ = false;
            continue;
        }
        size_t k = 1;
        if (listen_ >= 0) {
            if (fds[k].revents & POLLIN) {
                const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd >= 0) {
                    conns_.push_back({fd, {}});
                    ++connections_;
                }
            }
            ++k;
        }
        std::vector<int> gone;
        for (; k < fds.size(); ++k) {
            if (stalled_ || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            const ssize_t n = ::read(fds[k].fd, buf, sizeof buf);
            auto it = std::find_if(conns_.begin(), conns_.end(),
                                   [&](const Conn& c) { return c.fd == fds[k].fd; });
            if (n > 0 && it != conns_.end()) {
                Take(*it, buf, static_cast<size_t>(n));
            } else if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                // A pty master reads EIO while no slave is open; only a socket really ends.
                if (wire_ == Wire::Tcp) gone.push_back(fds[k].fd);
            }
        }
        for (int fd : gone) Close(fd);

        const auto t = Clock::now();
        std::vector<int> busy;  // answers go out in order: one at a time per connection
        for (auto it = pending_.begin(); it != pending_.end();) {
            if (std::find(busy.begin(), busy.end(), it->fd) != busy.end() || it->nextAt > t) {
                busy.push_back(it->fd);
                ++it;
                continue;
            }
            const size_t chunk = it->trickleMs > 0 ? 1 : it->bytes.size() - it->pos;
            const ssize_t n = wire_ == Wire::Tcp
                                  ? ::send(it->fd, it->bytes.data() + it->pos, chunk, MSG_NOSIGNAL)
                                  : ::write(it->fd, it->bytes.data() + it->pos, chunk);
            if (n > 0) it->pos += static_cast<size_t>(n);
            if (n < 0 && errno != EAGAIN) it->pos = it->bytes.size();  // nobody to send to
            it->nextAt = t + std::chrono::milliseconds(it->trickleMs);
            if (it->pos >= it->bytes.size()) {
                it = pending_.erase(it);
            } else {
                busy.push_back(it->fd);
                ++it;
            }
        }
    }
}

}  // namespace tavrix::test
