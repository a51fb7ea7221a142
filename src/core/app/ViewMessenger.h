#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "base/SyncPrimitives.h"

namespace tavrix {

// How worker threads report to the view: the report runs on the view's thread and the worker
// waits for it, as a window message sent across threads would. The wait ends early when the
// program quits, so that a view joining its workers never waits on a worker that waits on the
// view.
class ViewMessenger {
public:
    // Queues a call on the view's thread (the GUI: a queued invocation; the command line: a
    // call on the spot).
    using Poster = std::function<void(std::function<void()>)>;
    using Handler = std::function<intptr_t(int message, intptr_t wParam, intptr_t lParam)>;

    ViewMessenger(Poster poster, const ManualResetEvent& quit);
    ~ViewMessenger();

    void SetHandler(Handler handler);
    // Runs the handler on the view's thread and waits for its result. false when the program
    // quit before the handler ran to its end (the result is then 0).
    bool Send(int message, intptr_t wParam, intptr_t lParam, intptr_t* result = nullptr);
    // Queues the handler without waiting.
    void Post(int message, intptr_t wParam, intptr_t lParam);
    // No handler runs after this, not even one already queued.
    void Close();

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    Poster poster_;
    const ManualResetEvent& quit_;
};

}  // namespace tavrix
