#pragma once

#include <string>

#include "charts/StripChartModel.h"

namespace tavrix {

// A monitor's readings as CSV text for the clipboard: a "Time,<name> (<unit>)" header, then
// one "time,value" line per filled place, oldest first.
std::string ChartDataCsv(const StripChartModel& chart);

// The chart as a standalone SVG picture: title, value axis from Min to Max, the readings as a
// line, first and last time labels.
std::string ChartSvg(const StripChartModel& chart, int width = 800, int height = 450);

}  // namespace tavrix
