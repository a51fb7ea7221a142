#include "charts/ChartExport.h"

#include <algorithm>

#include "base/CNumeric.h"

namespace tavrix {

namespace {
// Names come from the instrument: keep them text in a CSV field and in XML.
std::string CsvField(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string XmlText(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                if (static_cast<unsigned char>(c) >= 0x20) out += c;
        }
    }
    return out;
}
}  // namespace

std::string ChartDataCsv(const StripChartModel& chart) {
    std::string out = "Time," + CsvField(chart.Name() + " (" + chart.Unit() + ")") + "\n";
    const auto& labels = chart.Labels();
    const auto& values = chart.Values();
    for (size_t i = static_cast<size_t>(chart.FirstTaken()); i < values.size(); ++i) {
        out += CsvField(labels[i]) + "," + FormatC("%g", static_cast<double>(values[i])) + "\n";
    }
    return out;
}

std::string ChartSvg(const StripChartModel& chart, int width, int height) {
    const double left = 70, right = 20, top = 40, bottom = 50;
    const double w = width - left - right, h = height - top - bottom;
    const auto [lo, hi] = chart.ShownRange();
    const auto& values = chart.Values();
    const auto& labels = chart.Labels();
    const size_t n = values.size();
    auto x = [&](size_t i) { return left + (n > 1 ? w * static_cast<double>(i) / (n - 1) : 0.0); };
    auto y = [&](double v) { return top + h * (1.0 - (std::clamp(v, lo, hi) - lo) / (hi - lo)); };
    std::string s = FormatC(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
        "viewBox=\"0 0 %d %d\" font-family=\"sans-serif\" font-size=\"12\">\n"
        "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n",
        width, height, width, height);
    s += FormatC("<text x=\"%g\" y=\"24\" text-anchor=\"middle\" font-size=\"16\">", width / 2.0) +
         XmlText(chart.Title()) + "</text>\n";
    s += FormatC(
        "<rect x=\"%g\" y=\"%g\" width=\"%g\" height=\"%g\" fill=\"none\" stroke=\"#888\"/>\n",
        left, top, w, h);
    const auto ticks = StripChartModel::NiceTicks(lo, hi, 6);
    for (size_t k = 0; k < ticks.values.size(); ++k)
        s += FormatC("<text x=\"%g\" y=\"%g\" text-anchor=\"end\">", left - 6,
                     y(ticks.values[k]) + 4) +
             ticks.texts[k] + "</text>\n";
    s += FormatC("<text transform=\"translate(16,%g) rotate(-90)\" text-anchor=\"middle\">",
                 top + h / 2) +
         XmlText(chart.ValueAxisTitle()) + "</text>\n";
    s += FormatC("<text x=\"%g\" y=\"%g\" text-anchor=\"middle\">Time</text>\n", left + w / 2,
                 static_cast<double>(height) - 10);
    std::string points;
    const size_t first = static_cast<size_t>(chart.FirstTaken());
    for (size_t i = first; i < n; ++i) {
        points += FormatC("%.1f,%.1f ", x(i), y(values[i]));
    }
    if (!points.empty()) {
        s += "<polyline fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"1.5\" points=\"" + points +
             "\"/>\n";
        s += FormatC("<text x=\"%g\" y=\"%g\" text-anchor=\"start\">", x(first), top + h + 16) +
             XmlText(labels[first]) + "</text>\n";
        s += FormatC("<text x=\"%g\" y=\"%g\" text-anchor=\"end\">", x(n - 1), top + h + 16) +
             XmlText(labels[n - 1]) + "</text>\n";
    }
    s += "</svg>\n";
    return s;
}

}  // namespace tavrix
