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
    taken_ = 0;
}

StripChartModel::Redraw StripChartModel::AddReading(float value, std::string timeLabel) {
    std::rotate(values_.begin(), values_.begin() + 1, values_.end());
    std::rotate(labels_.begin(), labels_.begin() + 1, labels_.end());
    values_.back() = value;
    labels_.back() = std::move(timeLabel);
    const bool first = taken_ == 0;
    if (taken_ < PointCount()) ++taken_;
    if (manual_) return Redraw::AppendPoint;
    if (first) {
        max_ = MaxFrom(value);
        min_ = MinFrom(value);
        return Redraw::Rebuild;
    }
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
    if (taken_ == 0) return Redraw::Rebuild;
    const auto [lo, hi] = std::minmax_element(values_.begin() + FirstTaken(), values_.end());
    // A scale that never had a width (manual before any reading) starts from the readings.
    const bool fresh = !(max_ > min_);
    if (fresh || *hi > max_) max_ = MaxFrom(*hi);
    if (fresh || *lo < min_) min_ = MinFrom(*lo);
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
    taken_ = 0;
    return Redraw::Rebuild;
}

std::string StripChartModel::ValueAxisTitle() const {
    if (unit_ == "K" || unit_ == "C" || unit_ == "F") return "Temperature (" + unit_ + ")";
    const std::string what = name_.empty() ? std::string("Reading") : Title();
    return unit_.empty() ? what : what + " (" + unit_ + ")";
}

StripChartModel::AxisRange StripChartModel::ShownRange() const {
    if (max_ > min_) return {min_, max_};
    // No width yet: 10 % either side of the value, or -1..1 around 0.
    const double pad = min_ == 0.0 ? 1.0 : std::abs(min_) * 0.1;
    return {min_ - pad, min_ + pad};
}

StripChartModel::Ticks StripChartModel::NiceTicks(double low, double high, int maxIntervals) {
    Ticks t;
    if (!(high > low) || !std::isfinite(low) || !std::isfinite(high)) return t;
    if (maxIntervals < 1) maxIntervals = 1;
    const double raw = (high - low) / maxIntervals;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    // The smallest of 1, 2, 2.5, 5, 10 times the power that is not below the raw step.
    static constexpr double kMantissas[] = {1.0, 2.0, 2.5, 5.0, 10.0};
    double step = 10.0 * power;
    int mantissaDecimals = 0;
    for (double m : kMantissas) {
        if (m * power >= raw * (1 - 1e-9)) {
            step = m * power;
            mantissaDecimals = m == 2.5 ? 1 : 0;
            break;
        }
    }
    // A range too narrow for its magnitude has no marks a number could tell apart.
    if (std::max(std::abs(low), std::abs(high)) / step > 1e12) return t;
    t.step = step;
    // Decimals: those of the power of ten (a step of 0.05 needs 2), one more for 2.5.
    const int powerDecimals = static_cast<int>(std::max(0.0, -std::floor(std::log10(step) + 1e-9)));
    t.decimals = powerDecimals + (step < 10.0 ? mantissaDecimals : 0);
    // Whole multiples of the step inside the range; computed from the index, not summed, so
    // that no rounding error creeps in from mark to mark.
    const double slack = step * 1e-9;
    const long long firstIndex = static_cast<long long>(std::ceil((low - slack) / step));
    const long long lastIndex = static_cast<long long>(std::floor((high + slack) / step));
    for (long long i = firstIndex; i <= lastIndex; ++i) {
        double v = static_cast<double>(i) * step;
        if (v == 0.0) v = 0.0;  // no "-0"
        t.values.push_back(v);
        t.texts.push_back(FormatC("%.*f", t.decimals, v));
    }
    return t;
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
