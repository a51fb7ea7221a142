#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "logging/DataLoggingEngine.h"

namespace tavrix {

// Timer 100 without a window system: ticks at absolute deadlines (start + k x period), so a
// late tick does not push the later ones back and a run of days does not drift. Deadlines
// missed while the callback ran are counted and skipped.
class DeadlinePacer : public LogTimer {
public:
    using Clock = std::chrono::steady_clock;
    explicit DeadlinePacer(std::function<void()> onTick) : onTick_(std::move(onTick)) {}
    ~DeadlinePacer() override { Halt(); }

    int SetTimer(int id, int periodMs) override;
    void KillTimer(int id) override;

    // Deadlines passed since the timer was set, and those skipped because a tick came late.
    long DeadlinesPassed() const;
    long Skipped() const { return skipped_.load(); }

private:
    void Halt();
    std::function<void()> onTick_;
    std::mutex m_;
    std::condition_variable cv_;
    bool stop_ = false;
    std::thread thread_;
    Clock::time_point start_{};
    std::chrono::milliseconds period_{0};
    std::atomic<long> skipped_{0};
    std::atomic<bool> running_{false};
};

}  // namespace tavrix
