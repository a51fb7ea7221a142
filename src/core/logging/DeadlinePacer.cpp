#include "logging/DeadlinePacer.h"

namespace tavrix {

int DeadlinePacer::SetTimer(int id, int periodMs) {
    Halt();
    if (periodMs <= 0) return 0;
    {
        std::lock_guard lock(m_);
        stop_ = false;
        period_ = std::chrono::milliseconds(periodMs);
        start_ = Clock::now();
    }
    skipped_ = 0;
    running_ = true;
    thread_ = std::thread([this] {
        std::unique_lock lock(m_);
        long k = 1;
        while (!stop_) {
            const auto due = start_ + period_ * k;
            if (cv_.wait_until(lock, due, [this] { return stop_; })) break;
            lock.unlock();
            onTick_();
            lock.lock();
            // The next deadline still ahead; the ones in between are skipped.
            const long passed = static_cast<long>((Clock::now() - start_) / period_);
            if (passed > k) skipped_ += passed - k;
            k = passed + 1;
        }
    });
    return id;
}

void DeadlinePacer::KillTimer(int) {
    Halt();
}

void DeadlinePacer::Halt() {
    {
        std::lock_guard lock(m_);
        stop_ = true;
    }
    cv_.notify_all();
    // The tick callback may itself stop the run.
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id())
            thread_.detach();
        else
            thread_.join();
    }
    running_ = false;
}

long DeadlinePacer::DeadlinesPassed() const {
    if (!running_.load() || period_.count() <= 0) return 0;
    return static_cast<long>((Clock::now() - start_) / period_);
}

}  // namespace tavrix
