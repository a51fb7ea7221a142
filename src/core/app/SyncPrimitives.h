#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tavrix {

// The mutex that serialises every exchange with the instrument. Its owner may take it again.
class SessionMutex {
public:
    // Waits at most `ms` milliseconds; 0 tries once.
    bool TryLockFor(int ms) {
        if (ms <= 0) return mutex_.try_lock();
        return mutex_.try_lock_for(std::chrono::milliseconds(ms));
    }
    void Unlock() { mutex_.unlock(); }

private:
    std::recursive_timed_mutex mutex_;
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
