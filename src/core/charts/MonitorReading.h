#pragma once

#include <string>

#include "charts/StripChartModel.h"

namespace tavrix {

// What the monitor thread hands the view: value, unit and name as the instrument sent them.
struct MonitorReading {
    std::string value, unit, name;
};

// The view's handler of a reading for one monitor's chart. Same unit and name: the value is
// added. Otherwise a changed unit clears the samples, unit and name are taken, the chart is
// rebuilt, then the value is added. Returns what the window must redraw.
StripChartModel::Redraw ApplyMonitorReading(StripChartModel& chart, const MonitorReading& r,
                                            const std::string& timeLabel);

}  // namespace tavrix
