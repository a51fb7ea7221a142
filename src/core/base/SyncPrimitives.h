#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tavrix {

// The mutex that serialises every exchange with the instrument. Its owner may take it again.
// Built on a plain mutex and a condition variable rather than std::recursive_timed_mutex: its
// timed wait goes through pthread_mutex_clocklock, which the thread sanitizer of our compiler
// does not see, and an unlock by a thread that does not own it must be harmless, not undefined.
class SessionMutex {
public:
    // Waits at most `ms` milliseconds; 0 tries once.
    bool TryLockFor(int ms) {
        const auto me = std::this_thread::get_id();
        std::unique_lock lock(m_);
        if (depth_ > 0 && owner_ == me) {
            ++depth_;
            return true;
        }
        const auto free = [this] { return depth_ == 0; };
        if (ms <= 0) {
            if (!free()) return false;
        } else if (!cv_.wait_for(lock, std::chrono::milliseconds(ms), free)) {
            return false;
        }
        owner_ = me;
        depth_ = 1;
        return true;
    }
    void Unlock() {
        std::unique_lock lock(m_);
        if (depth_ == 0 || owner_ != std::this_thread::get_id()) return;
        if (--depth_ > 0) return;
        owner_ = {};
        lock.unlock();
        cv_.notify_one();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::thread::id owner_;
    int depth_ = 0;
};

// Holds SessionMutex for a scope when it was obtained within the wait.
class SessionLock {
public:
    SessionLock(SessionMutex& m, int waitMs) : m_(m), owned_(m.TryLockFor(waitMs)) {}
    ~SessionLock() {
        if (owned_) m_.Unlock();
    }
    SessionLock(const SessionLock&) = delete;
    SessionLock& operator=(const SessionLock&) = delete;
    bool Owned() const { return owned_; }
    explicit operator bool() const { return owned_; }

private:
    SessionMutex& m_;
    bool owned_;
};

// A manual-reset event: stays signalled until reset.
class ManualResetEvent {
public:
    void Set() {
        {
            std::lock_guard lock(m_);
            set_ = true;
        }
        cv_.notify_all();
    }
    void Reset() {
        std::lock_guard lock(m_);
        set_ = false;
    }
    bool IsSet() const {
        std::lock_guard lock(m_);
        return set_;
    }
    // true when signalled within the wait.
    bool WaitFor(std::chrono::milliseconds timeout) const {
        std::unique_lock lock(m_);
        return cv_.wait_for(lock, timeout, [this] { return set_; });
    }

private:
    mutable std::mutex m_;
    mutable std::condition_variable cv_;
    bool set_ = false;
};

}  // namespace tavrix
