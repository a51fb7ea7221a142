#include "app/ViewMessenger.h"

#include <condition_variable>
#include <mutex>

namespace tavrix {

struct ViewMessenger::Shared {
    std::mutex m;
    Handler handler;
    bool closed = false;

    // Runs the handler unless the messenger was closed; the handler runs outside the lock.
    intptr_t Deliver(int message, intptr_t w, intptr_t l) {
        Handler h;
        {
            std::lock_guard lock(m);
            if (closed) return 0;
            h = handler;
        }
        return h ? h(message, w, l) : 0;
    }
};

namespace {
struct PendingCall {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    intptr_t result = 0;
};
}  // namespace

ViewMessenger::ViewMessenger(Poster poster, const ManualResetEvent& quit)
    : shared_(std::make_shared<Shared>()), poster_(std::move(poster)), quit_(quit) {}

ViewMessenger::~ViewMessenger() {
    Close();
}

void ViewMessenger::SetHandler(Handler handler) {
    std::lock_guard lock(shared_->m);
    shared_->handler = std::move(handler);
}

void ViewMessenger::Close() {
    std::lock_guard lock(shared_->m);
    shared_->closed = true;
}

bool ViewMessenger::Send(int message, intptr_t wParam, intptr_t lParam, intptr_t* result) {
    if (result) *result = 0;
    if (quit_.IsSet()) return false;
    auto call = std::make_shared<PendingCall>();
    std::weak_ptr<Shared> weak = shared_;
    poster_([weak, call, message, wParam, lParam] {
        intptr_t r = 0;
        if (auto shared = weak.lock()) r = shared->Deliver(message, wParam, lParam);
        {
            std::lock_guard lock(call->m);
            call->done = true;
            call->result = r;
        }
        call->cv.notify_all();
    });
    // Wait for the view, but look at the quit event now and then: the view may be waiting to
    // join this very thread.
    std::unique_lock lock(call->m);
    while (!call->done) {
        if (call->cv.wait_for(lock, std::chrono::milliseconds(20), [&] { return call->done; }))
            break;
        if (quit_.IsSet()) return false;
    }
    if (result) *result = call->result;
    return true;
}

void ViewMessenger::Post(int message, intptr_t wParam, intptr_t lParam) {
    std::weak_ptr<Shared> weak = shared_;
    poster_([weak, message, wParam, lParam] {
        if (auto shared = weak.lock()) shared->Deliver(message, wParam, lParam);
    });
}

}  // namespace tavrix
