#pragma once

#include <array>
#include <functional>
#include <memory>

#include "app/ViewHub.h"
#include "logging/DataLogUpload.h"
#include "logging/DataLoggingEngine.h"
#include "logging/LogClock.h"
#include "logging/MonitorPoller.h"

namespace tavrix {

// A sampling cycle could not write its row.
inline constexpr int WM_LOG_FILE_ERROR = WM_USER + 1101;
// A sampling cycle's reply did not fill the row's columns.
inline constexpr int WM_LOG_BAD_REPLY = WM_USER + 1102;

// What a front end gives the logging subsystem besides its dialogs (those are the hub's
// operator's): its progress window, timer 100 and the monitor charts' handler.
struct LoggingFrontEnd {
    LoggingProgressWindow& progress;
    LogTimer& timer;
    LogClock& clock;
    // The view's handler of a monitor reading (on the view's thread).
    std::function<void(int index, const MonitorReading&)> monitorReading;
};

// Plugs data logging, the monitors and the internal log upload into the hub: the sampling and
// monitor threads' bodies, the start and upload commands, the view's message handlers. Made
// before the hub is initialised; outlives its threads (destroy after Shutdown).
class HubLogging {
public:
    HubLogging(ViewHub& hub, LoggingFrontEnd frontEnd);
    DataLoggingEngine& Engine() { return *engine_; }
    // Timer 100 fired.
    void OnTimer() { engine_->OnTick(hub_.SampleEvent()); }
    // Replaces the 50 ms pauses of the upload (tests).
    std::function<void(std::chrono::milliseconds)> uploadSleep;

private:
    ViewHub& hub_;
    LoggingFrontEnd fe_;
    std::unique_ptr<DataLoggingEngine> engine_;
    std::unique_ptr<MonitorPoller> poller_;
    std::array<MonitorReading, 12> pending_;
};

}  // namespace tavrix
