#include "logging/MonitorPoller.h"

#include <cmath>
#include <cstdlib>

#include "base/CNumeric.h"
#include "link/FeatureManager.h"
#include "logging/LoggingDialogs.h"

namespace tavrix {

namespace {
// Text before the first ";" into `head`, the rest stays in `text`; no ";" leaves head empty.
std::string TakeField(std::string& text) {
    const size_t semi = text.find(';');
    if (semi == std::string::npos) return {};
    std::string head = text.substr(0, semi);
    text.erase(0, semi + 1);
    return head;
}
}  // namespace

bool MonitorSourceAvailable(const FeatureManager& f, int index) {
    if (index < 2) return f.AnyInstrument();
    if (index < 4) return f.InputsCDPresent();
    if (index < 8) return f.InputsEHPresent();
    if (index < 10) return f.HeatersPresent();
    if (index == 10) return f.Analog1Present();
    return f.Analog2Present();
}

MonitorReading ParseMonitorReply(int index, const std::string& reply) {
    MonitorReading r;
    std::string rest = reply;
    r.value = TakeField(rest);
    if (kMonitorSources[static_cast<size_t>(index)].isInput) {
        r.unit = TakeField(rest);
        r.name = rest;
    } else {
        r.unit = "%";
        r.name = rest;
    }
    return r;
}

MonitorPoller::MonitorPoller(CInstrumentLink& link, SessionMutex& mutex, const OpenFlags& open,
                             std::function<double()> interval,
                             std::function<void(int, const MonitorReading&)> report,
                             std::function<void()> lost)
    : link_(link),
      mutex_(mutex),
      open_(open),
      interval_(std::move(interval)),
      report_(std::move(report)),
      lost_(std::move(lost)) {}

long MonitorPoller::WaitMs() const {
    int n = 0;
    for (const auto& f : open_)
        if (f.load()) ++n;
    if (n == 0) n = 1;
    double interval = interval_();
    // Whatever the interval was set from, a poll never follows the last one without a pause.
    if (!(interval >= DataLogSetupModel::kIntervalLow &&
          interval <= DataLogSetupModel::kIntervalHigh))
        interval = DataLogSetupModel::kDefaultInterval;
    return static_cast<long>(interval * 1000.0 / n);
}

int MonitorPoller::Step() {
    index_ = (index_ + 1) % 12;
    if (!open_[static_cast<size_t>(index_)].load()) return -1;
    std::string reply;
    int status = link_status::kNoReply;
    {
        SessionLock lock(mutex_, kMutexWaitMs);
        // Another exchange holds the instrument (a transfer, an upload): this poll is skipped
        // and the next one tries again. Only a failed exchange means the link is lost.
        if (!lock) {
            ++busySkips;
            return index_;
        }
        const std::string q = kMonitorSources[static_cast<size_t>(index_)].query;
        status = link_.Transact(&q, &reply);
    }
    if (status < 0) {
        lost_();
    } else {
        report_(index_, ParseMonitorReply(index_, reply));
    }
    return index_;
}

void MonitorPoller::Run(const ManualResetEvent& quit) {
    for (;;) {
        const long ms = std::max<long>(0, WaitMs());
        if (quit.WaitFor(std::chrono::milliseconds(ms))) return;
        Step();
    }
}

}  // namespace tavrix
