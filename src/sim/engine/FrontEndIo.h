#pragma once

#include <string>

#include "engine/SimEngine.h"

namespace tavrix::sim {

// An owned file descriptor.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& o) noexcept : fd_(o.Release()) {}
    UniqueFd& operator=(UniqueFd&& o) noexcept {
        if (this != &o) Reset(o.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release() {
        int f = fd_;
        fd_ = -1;
        return f;
    }
    void Reset(int fd = -1);

private:
    int fd_ = -1;
};

// A pipe whose read end becomes readable, for good, once Signal() is called: every thread
// that polls it alongside its own descriptor wakes and stops.
class StopSignal {
public:
    StopSignal();
    bool Ok() const { return read_.Valid(); }
    int Fd() const { return read_.Get(); }
    void Signal();
    bool Signalled() const;

private:
    UniqueFd read_, write_;
};

enum class WaitResult { Ready, Timeout, Stop, Error };

// Waits for `events` on fd, or for the stop signal; timeoutMs < 0 waits without limit.
WaitResult WaitFd(int fd, short events, const StopSignal& stop, int timeoutMs);

// Sleeps unless stopped first; false when stopped.
bool PauseMs(int ms, const StopSignal& stop);

// Writes all bytes to a non-blocking descriptor, pausing trickleMs between bytes when set.
// False when stopped or the descriptor failed.
bool WriteAll(int fd, const std::string& data, int trickleMs, const StopSignal& stop,
              bool isSocket);

enum class SendOutcome { Sent, DroppedTable, Failed };

// Sends a response with the engine's faults applied: silence, delay, trickle, garbage, and a
// table cut short after dropTableAfter lines. `eol` ends each line.
SendOutcome SendResponse(int fd, const SimResponse& response, SimEngine& engine,
                         const std::string& eol, const StopSignal& stop, bool isSocket);

// Cuts complete lines off a receive buffer: LF ends a line, CR anywhere in it is dropped.
bool TakeLine(std::string& buffer, std::string& line);

}  // namespace tavrix::sim
