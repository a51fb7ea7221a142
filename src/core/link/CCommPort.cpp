#include "link/CCommPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

namespace tavrix {

namespace {

using Clock = std::chrono::steady_clock;

speed_t SpeedConstant(int baud) {
    switch (baud) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        default:
            return B115200;
    }
}

// Milliseconds left until `deadline`, never negative.
int MsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits for `events` on fd until the deadline. 1 ready, 0 time-out, -1 hang-up or error.
int WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        int r = ::poll(&p, 1, MsLeft(deadline));
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r == 0) return 0;
        if (p.revents & events) return 1;
        return -1;  // POLLHUP, POLLERR or POLLNVAL without the wanted event
    }
}

int OpenErrorCode(int err) {
    switch (err) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return -1;  // no such port
        case EBUSY:
            return -4;  // in use
        default:
            return -6;
    }
}

}  // namespace

CCommPort::CCommPort(DevicePathResolver resolver) : resolver_(std::move(resolver)) {}

CCommPort::~CCommPort() {
    if (IsOpen()) Close();
}

int CCommPort::SelectorFromBaudIndex(int baudIndex) {
    return 8 - baudIndex;
}

int CCommPort::SpeedFromSelector(int selector) {
    switch (selector) {
        case 1:
            return 1200;
        case 2:
            return 2400;
        case 3:
            return 4800;
        case 4:
            return 9600;
        case 5:
            return 19200;
        case 6:
            return 38400;
        case 7:
            return 57600;
        default:
            return 115200;
    }
}

int CCommPort::Open(int portNumber, int speedSelector, int timeoutValue, int /*unused*/) {
    if (IsOpen()) Close();
    portNumber_ = -1;
    baudRate_ = 9600;
    lastOpenStatus_ = 0;
    devicePath_.clear();
    busyText_.clear();
    openError_.clear();

    auto fail = [this](int code) {
        lastOpenStatus_ = code;
        if (openError_.empty())
            openError_ = code == -3 ? "no such port number" : "no device is set for this port";
        return code;
    };
    if (portNumber < 1 || portNumber > 255) return fail(-3);

    devicePath_ = resolver_ ? resolver_(portNumber) : std::string();
    if (devicePath_.empty()) return fail(-1);

    // Non-blocking so that a port without carrier opens at once; every wait below is a poll().
    int fd = ::open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        openError_ = std::strerror(err);
        // EBUSY: another process holds the terminal in exclusive mode.
        if (err == EBUSY) busyText_ = DeviceLock::BusyText(devicePath_);
        return fail(OpenErrorCode(err));
    }

    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        openError_ = std::strerror(errno);
        ::close(fd);
        return fail(-6);
    }
    // Before any setting changes: a port in use by another process is left exactly as it is.
    if (lock_.Take(fd, devicePath_) == DeviceLock::Result::Busy) {
        busyText_ = DeviceLock::BusyText(devicePath_);
        openError_ = busyText_;
        ::close(fd);
        return fail(-4);
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    // VMIN 1 makes a non-blocking read report EAGAIN (rather than 0) when nothing is there,
    // so 0 can only mean a hang-up.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        openError_ = std::strerror(errno);
        lock_.Release();
        ::close(fd);
        return fail(-6);
    }
    fd_ = fd;
    portNumber_ = portNumber;

    // The port stays open at 9600 if the requested speed is refused.
    int status = 0;
    const int speed = SpeedFromSelector(speedSelector);
    ::cfsetispeed(&tio, SpeedConstant(speed));
    ::cfsetospeed(&tio, SpeedConstant(speed));
    if (::tcsetattr(fd_, TCSANOW, &tio) == 0) {
        baudRate_ = speed;
    } else {
        status = -6;
    }
    timeoutValue_ = timeoutValue;
    lastOpenStatus_ = status;
    return status;
}

int CCommPort::Close() {
    if (!IsOpen()) return -9;
    lock_.Release();
    ::close(fd_);  // the descriptor is gone whatever close() reports
    fd_ = -1;
    readPos_ = readLen_ = 0;
    portNumber_ = -1;
    return 0;
}

int CCommPort::ClearReceiveQueue() {
    if (!IsOpen()) return -9;
    readPos_ = readLen_ = 0;
    return ::tcflush(fd_, TCIFLUSH) == 0 ? 0 : -6;
}

int CCommPort::ClearTransmitQueue() {
    if (!IsOpen()) return -9;
    // Our writes return as soon as the kernel holds the bytes, so what still waits in the
    // transmit queue is the tail of an earlier command. Discarding it would cut that command
    // short on the wire (and on a pseudo-terminal even bytes already sent); let it go out, but
    // wait no longer than the port's time-out (tcdrain could wait for ever on a stalled line).
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutValue_ * kTimeoutUnitMs);
    for (;;) {
        int queued = 0;
        if (::ioctl(fd_, TIOCOUTQ, &queued) != 0) return -6;
        if (queued <= 0) return 0;
        if (Clock::now() >= deadline) return -6;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

int CCommPort::WriteBlock(int count, const char* bytes) {
    if (!IsOpen()) return -9;
    if (count <= 0) return 0;
    if (bytes == nullptr) return -6;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutValue_ * kTimeoutUnitMs);
    int done = 0;
    while (done < count) {
        ssize_t n = ::write(fd_, bytes + done, static_cast<size_t>(count - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n == 0) return -6;  // the device takes nothing: a write that cannot complete
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return -6;  // EIO on a hung-up line too
        int w = WaitFor(fd_, POLLOUT, deadline);
        if (w == 0) return -15;
        if (w < 0) return -6;
    }
    return done;
}

int CCommPort::WriteByte(unsigned char byte) {
    const char c = static_cast<char>(byte);
    return WriteBlock(1, &c) == 1 ? 0 : -1;
}

int CCommPort::ReadByte() {
    const int b = ReadByte(Clock::time_point::max());
    return b < 0 ? -1 : b;
}

int CCommPort::ReadByte(Clock::time_point notAfter) {
    if (!IsOpen()) return -2;
    // Bytes are taken from the port in blocks and handed out one at a time: one system call
    // per reply instead of one per byte.
    if (readPos_ < readLen_) return readAhead_[readPos_++];
    const auto deadline = std::min(
        notAfter, Clock::now() + std::chrono::milliseconds(timeoutValue_ * kTimeoutUnitMs));
    for (;;) {
        ssize_t n = ::read(fd_, readAhead_, sizeof readAhead_);
        if (n > 0) {
            readLen_ = static_cast<size_t>(n);
            readPos_ = 1;
            return readAhead_[0];
        }
        if (n == 0) return -2;  // hang-up: the other end is gone
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return -2;
        const int w = WaitFor(fd_, POLLIN, deadline);
        if (w == 0) return -1;
        if (w < 0) return -2;
    }
}

}  // namespace tavrix
