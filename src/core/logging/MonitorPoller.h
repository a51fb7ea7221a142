#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <string>

#include "base/SyncPrimitives.h"
#include "charts/MonitorReading.h"
#include "link/CInstrumentLink.h"

namespace tavrix {

// One monitor window's source.
struct MonitorSource {
    const char* title;
    const char* menuText;
    int command;
    const char* query;
    bool isInput;
    const char* cliName;
};

// clang-format off
inline constexpr std::array<MonitorSource, 12> kMonitorSources = {{
    {"Channel A", "CH A Monitor",      32786, "INP A:TEMP?;UNIT?;NAME?;", true,  "A"},
    {"Channel B", "CH B Monitor",      32787, "INP B:TEMP?;UNIT?;NAME?;", true,  "B"},
    {"Channel C", "CH C Monitor",      32788, "INP C:TEMP?;UNIT?;NAME?;", true,  "C"},
    {"Channel D", "CH D Monitor",      32789, "INP D:TEMP?;UNIT?;NAME?;", true,  "D"},
    {"Channel E", "CH E Monitor",      32814, "INP E:TEMP?;UNIT?;NAME?;", true,  "E"},
    {"Channel F", "CH F Monitor",      32815, "INP F:TEMP?;UNIT?;NAME?;", true,  "F"},
    {"Channel G", "CH G Monitor",      32817, "INP G:TEMP?;UNIT?;NAME?;", true,  "G"},
    {"Channel H", "CH H Monitor",      32818, "INP H:TEMP?;UNIT?;NAME?;", true,  "H"},
    {"Heater 1",  "Heater 1  Monitor", 32820, "LOOP 1:HTRR?NAME?;",       false, "heater1"},
    {"Heater 2",  "Heater 2 Monitor",  32822, "LOOP 2:HTRR?NAME?;",       false, "heater2"},
    {"Analog 1",  "Analog 1 Monitor",  32823, "LOOP 3:OUTP?NAME?;",       false, "analog1"},
    {"Analog 2",  "Analog 2 Monitor",  32826, "LOOP 4:OUTP?NAME?;",       false, "analog2"},
}};
// clang-format on

class FeatureManager;
// Whether the identified model has the monitor's source.
bool MonitorSourceAvailable(const FeatureManager& features, int index);

// Splits a monitor's reply: value before the first ";", then unit and name for an input; "%"
// and the rest for an output. A missing ";" gives an empty value.
MonitorReading ParseMonitorReply(int index, const std::string& reply);

// The monitor thread: polls the open monitors one at a time, spread over the logging interval.
class MonitorPoller {
public:
    static constexpr int kMutexWaitMs = 1000;
    using OpenFlags = std::array<std::atomic<int>, 12>;
    // `report(index, reading)` on success, `lost()` on a failed poll: synchronous sends.
    MonitorPoller(CInstrumentLink& link, SessionMutex& mutex, const OpenFlags& open,
                  std::function<double()> interval,
                  std::function<void(int, const MonitorReading&)> report,
                  std::function<void()> lost);

    // The wait before the next poll, in milliseconds.
    long WaitMs() const;
    // Advances the index; polls it when open. The index polled, or -1.
    int Step();
    // The thread's loop until `quit`.
    void Run(const ManualResetEvent& quit);
    int Index() const { return index_; }
    // Polls skipped because the instrument lock was not free within its wait.
    std::atomic<long> busySkips{0};

private:
    CInstrumentLink& link_;
    SessionMutex& mutex_;
    const OpenFlags& open_;
    std::function<double()> interval_;
    std::function<void(int, const MonitorReading&)> report_;
    std::function<void()> lost_;
    int index_ = 0;
};

}  // namespace tavrix
