#include "charts/StripChartModel.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "base/CNumeric.h"

namespace tavrix {

StripChartModel::StripChartModel(int points) {
    SetPointCount(points);
}

void StripChartModel::SetPointCount(int n) {
    const size_t count = n > 0 ? static_cast<size_t>(n) : 1;
    values_.assign(count, 0.0f);
    labels_.assign(count, std::string());
}

StripChartModel::Redraw StripChartModel::AddReading(float value, std::string timeLabel) {
    std::rotate(values_.begin(), values_.begin() + 1, values_.end());
    std::rotate(labels_.begin(), labels_.begin() + 1, labels_.end());
    values_.back() = value;
    labels_.back() = std::move(timeLabel);
    if (manual_) return Redraw::AppendPoint;
    if (value > max_) {
        max_ = MaxFrom(value);
        return Redraw::Rebuild;
    }
    if (value < min_) {
        min_ = MinFrom(value);
        return Redraw::Rebuild;
    }
    return Redraw::AppendPoint;
}

double StripChartModel::MaxFrom(double x) {
    if (x > 0) return 1.1 * x;
    if (x < 0) return 0.9 * x;
    return 0.0;
}

double StripChartModel::MinFrom(double x) {
    if (x > 0) return 0.9 * x;
    if (x < 0) return 1.1 * x;
    return 0.0;
}

StripChartModel::Redraw StripChartModel::Auto() {
    manual_ = false;
    const auto [lo, hi] = std::minmax_element(values_.begin(), values_.end());
    if (*hi > max_) max_ = MaxFrom(*hi);
    if (*lo < min_) min_ = MinFrom(*lo);
    return Redraw::Rebuild;
}

StripChartModel::ApplyOutcome StripChartModel::Apply(const std::string& minText,
                                                     const std::string& maxText) {
    ApplyOutcome out;
    double mx = 0.0, mn = 0.0;
    // Max is exchanged before Min, as the members are ordered.
    for (auto [text, value] : {std::pair{&maxText, &mx}, std::pair{&minText, &mn}}) {
        if (!ParseNumberField(*text, *value)) {
            out.message = strip_chart_texts::kEnterANumber;
            return out;
        }
        if (*value < kFieldLow || *value > kFieldHigh) {
            out.message = strip_chart_texts::kEnterNumberInRange;
            return out;
        }
    }
    if (!(mn < mx)) {
        out.message = strip_chart_texts::kMinNotBelowMax;
        return out;
    }
    max_ = mx;
    min_ = mn;
    out.redraw = Redraw::Rebuild;
    return out;
}

StripChartModel::Redraw StripChartModel::Clear() {
    std::fill(values_.begin(), values_.end(), 0.0f);
    std::fill(labels_.begin(), labels_.end(), std::string());
    return Redraw::Rebuild;
}

std::string StripChartModel::FilterFieldText(std::string_view typed) {
    std::string out;
    for (char c : typed) {
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') out.push_back(c);
        if (out.size() == kFieldChars) break;
    }
    return out;
}

std::string StripChartModel::FieldText(double value) {
    return FormatC("%.15g", value).substr(0, kFieldChars);
}

}  // namespace tavrix
