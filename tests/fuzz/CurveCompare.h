#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "curves/SensorCurve.h"

namespace tavrix::fuzz {

// The points of a curve as bit patterns, in an order of their own (every NaN counts as one
// value: its sign and payload do not survive a trip through a file's text).
inline std::vector<std::pair<uint32_t, uint32_t>> PointBits(const SensorCurve& c) {
    auto bits = [](float f) {
        uint32_t u = 0;
        if (std::isnan(f)) return uint32_t{0x7FC00000};
        std::memcpy(&u, &f, sizeof u);
        return u;
    };
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (const CurvePoint& p : c.points) out.emplace_back(bits(p.sensorValue), bits(p.temperature));
    std::sort(out.begin(), out.end());
    return out;
}

// Holds for results 0 and 4 (a record read to its end): within the record's bounds, every
// line within the line buffer.
inline bool WithinBounds(const SensorCurve& c, size_t lineMax) {
    if (c.points.size() > SensorCurve::kMaxCurvePoints) return false;
    for (const CurvePoint& p : c.points)
        if (p.lineText.size() > lineMax) return false;
    return true;
}

}  // namespace tavrix::fuzz
