#include "charts/MonitorReading.h"

#include "base/CNumeric.h"

namespace tavrix {

StripChartModel::Redraw ApplyMonitorReading(StripChartModel& chart, const MonitorReading& r,
                                            const std::string& timeLabel) {
    double v = 0.0;
    ScanC(r.value.c_str(), "%lf", &v);
    const float value = static_cast<float>(v);
    if (r.unit == chart.Unit() && r.name == chart.Name()) return chart.AddReading(value, timeLabel);
    if (r.unit != chart.Unit()) chart.Clear();
    chart.SetUnit(r.unit);
    chart.SetName(r.name);
    chart.AddReading(value, timeLabel);
    return StripChartModel::Redraw::Rebuild;
}

}  // namespace tavrix
