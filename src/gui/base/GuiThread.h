#pragma once

#include <functional>

#include "base/SyncPrimitives.h"

namespace tavrix {

// Runs `fn` on the GUI thread and waits for it. Called on the GUI thread it runs at once.
// A worker that waits gives up when `quit` is set before the call started, so that a view
// joining its workers never waits on a worker that waits on the view. Returns false when the
// call did not run.
bool RunOnGuiThread(std::function<void()> fn, const ManualResetEvent* quit = nullptr);

bool OnGuiThread();

}  // namespace tavrix
