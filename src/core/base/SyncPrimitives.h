#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace tavrix {

// The mutex that serialises every exchange with the instrument. Its owner may take it again.
// Built on a plain mutex and a condition variable rather than std::recursive_timed_mutex: its
// timed wait goes through pthread_mutex_clocklock, which the thread sanitizer of our compiler
// does not see, and an unlock by a thread that does not own it must be harmless, not undefined.
class SessionMutex {
public:
    // Waits at most `ms` milliseconds; 0 tries once. Waiters get it in the order they came:
    // a thread that releases it and asks again at once (a share relaying one client line after
    // another) queues behind a logging cycle already waiting, and never keeps it from it.
    bool TryLockFor(int ms) {
        const auto me = std::this_thread::get_id();
        std::unique_lock lock(m_);
        if (depth_ > 0 && owner_ == me) {
            ++depth_;
            return true;
        }
        if (ms <= 0) {
            if (depth_ != 0 || !waiting_.empty()) return false;
        } else {
            const unsigned long long ticket = nextTicket_++;
            waiting_.push_back(ticket);
            const bool got = cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] {
                return depth_ == 0 && waiting_.front() == ticket;
            });
            waiting_.erase(std::find(waiting_.begin(), waiting_.end(), ticket));
            if (!got) {
                // The one behind may be first now.
                lock.unlock();
                cv_.notify_all();
                return false;
            }
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
        cv_.notify_all();  // the first in line takes it; the others wait on
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::thread::id owner_;
    int depth_ = 0;
    std::deque<unsigned long long> waiting_;  // tickets, first come first
    unsigned long long nextTicket_ = 0;
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
