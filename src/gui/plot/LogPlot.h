#pragma once

#include <string>

namespace tavrix {

// Renders a log to a PNG or SVG file without a display (the offscreen platform).
struct LogPlotRequest {
    std::string logPath;
    std::string outPath;
    std::string sources;  // comma-separated column names; empty for all
    int width = 1200, height = 700;
    std::string from, to;  // times as the export's --from/--to take them; empty for the ends
};
// 0 on success; -1 with `error`.
int RenderLogPlot(const LogPlotRequest& request, std::string& error);

}  // namespace tavrix
