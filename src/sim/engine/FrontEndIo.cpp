#include "engine/FrontEndIo.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace tavrix::sim {

void UniqueFd::Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

StopSignal::StopSignal() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        read_.Reset(fds[0]);
        write_.Reset(fds[1]);
    }
}

void StopSignal::Signal() {
    if (write_.Valid()) {
        char b = 1;
        [[maybe_unused]] ssize_t n = ::write(write_.Get(), &b, 1);
    }
}

bool StopSignal::Signalled() const {
    pollfd p{read_.Get(), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

WaitResult WaitFd(int fd, short events, const StopSignal& stop, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        pollfd p[2] = {{stop.Fd(), POLLIN, 0}, {fd, events, 0}};
        int wait = -1;
        if (timeoutMs >= 0) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            wait = left.count() < 0 ? 0 : static_cast<int>(left.count());
        }
        int n = ::poll(p, fd >= 0 ? 2 : 1, wait);
        if (n < 0) {
            if (errno == EINTR) continue;
            return WaitResult::Error;
        }
        if (p[0].revents) return WaitResult::Stop;
        if (n == 0) return WaitResult::Timeout;
        if (p[1].revents & (events | POLLHUP | POLLERR)) return WaitResult::Ready;
        if (p[1].revents & POLLNVAL) return WaitResult::Error;
    }
}

bool PauseMs(int ms, const StopSignal& stop) {
    if (ms <= 0) return !stop.Signalled();
    return WaitFd(-1, 0, stop, ms) == WaitResult::Timeout;
}

bool WriteAll(int fd, const std::string& data, int trickleMs, const StopSignal& stop,
              bool isSocket) {
    size_t done = 0;
    while (done < data.size()) {
        size_t chunk = trickleMs > 0 ? 1 : data.size() - done;
        ssize_t n = isSocket ? ::send(fd, data.data() + done, chunk, MSG_NOSIGNAL)
                             : ::write(fd, data.data() + done, chunk);
        if (n > 0) {
            done += static_cast<size_t>(n);
            if (trickleMs > 0 && done < data.size() && !PauseMs(trickleMs, stop)) return false;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (WaitFd(fd, POLLOUT, stop, -1) != WaitResult::Ready) return false;
            continue;
        }
        return false;
    }
    return true;
}

SendOutcome SendResponse(int fd, const SimResponse& response, SimEngine& engine,
                         const std::string& eol, const StopSignal& stop, bool isSocket) {
    SimFaults& f = engine.Faults();
    if (response.refused || response.lines.empty() || f.silent) return SendOutcome::Sent;
    if (f.delayMs > 0 && !PauseMs(f.delayMs, stop)) return SendOutcome::Failed;
    const int trickle = f.trickleMs;
    if (f.garbage) {
        std::string junk = engine.RandomBytes(32);
        return WriteAll(fd, junk, trickle, stop, isSocket) ? SendOutcome::Sent
                                                           : SendOutcome::Failed;
    }
    const int dropAfter = f.dropTableAfter;
    for (size_t i = 0; i < response.lines.size(); ++i) {
        if (response.isTable && dropAfter >= 0 && static_cast<int>(i) >= dropAfter) {
            return SendOutcome::DroppedTable;
        }
        if (!WriteAll(fd, response.lines[i] + eol, trickle, stop, isSocket)) {
            return SendOutcome::Failed;
        }
    }
    return SendOutcome::Sent;
}

bool TakeLine(std::string& buffer, std::string& line) {
    size_t lf = buffer.find('\n');
    if (lf == std::string::npos) return false;
    line.clear();
    for (size_t i = 0; i < lf; ++i) {
        if (buffer[i] != '\r') line += buffer[i];
    }
    buffer.erase(0, lf + 1);
    return true;
}

}  // namespace tavrix::sim
