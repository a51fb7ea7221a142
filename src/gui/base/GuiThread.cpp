#include "base/GuiThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace tavrix {

bool OnGuiThread() {
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

namespace {
struct Pending {
    std::mutex m;
    std::condition_variable cv;
    bool started = false;
    bool done = false;
    bool abandoned = false;
};
}  // namespace

bool RunOnGuiThread(std::function<void()> fn, const ManualResetEvent* quit) {
    auto* app = QCoreApplication::instance();
    if (!app) return false;
    if (OnGuiThread()) {
        fn();
        return true;
    }
    auto p = std::make_shared<Pending>();
    QMetaObject::invokeMethod(
        app,
        [p, fn = std::move(fn)] {
            {
                std::lock_guard lock(p->m);
                if (p->abandoned) return;
                p->started = true;
            }
            fn();
            {
                std::lock_guard lock(p->m);
                p->done = true;
            }
            p->cv.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(p->m);
    while (!p->done) {
        if (p->cv.wait_for(lock, std::chrono::milliseconds(20), [&] { return p->done; })) break;
        // Once started the call owns what it captured by reference: wait for its end.
        if (!p->started && quit && quit->IsSet()) {
            p->abandoned = true;
            return false;
        }
    }
    return true;
}

}  // namespace tavrix
