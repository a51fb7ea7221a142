#include "logging/GraphModel.h"

#include <algorithm>

#include "curves/SensorCurve.h"

namespace tavrix {

std::string GraphModel::SetLineCapacity(size_t n) {
    if (n == 0) return graph_texts::kAtLeastOneLine;
    lines_.clear();
    longest_ = 0;
    capacity_ = n;
    return {};
}

std::string GraphModel::AddLine(const float* x, const float* y, size_t count) {
    if (capacity_ == 0) return graph_texts::kAtLeastOneLine;
    if (lines_.size() >= capacity_) return graph_texts::kTooManyLines;
    if (count > 0 && (!x || !y)) return graph_texts::kNoDataBuffer;
    Line line;
    if (count > 0) {
        line.x.assign(x, x + count);
        line.y.assign(y, y + count);
    }
    lines_.push_back(std::move(line));
    longest_ = std::max(longest_, count);
    return {};
}

std::string GraphModel::CheckBeforeShow() const {
    return capacity_ == 0 ? graph_texts::kAtLeastOneLine : std::string();
}

GraphModel GraphModel::ForSensorCurve(const std::vector<float>& temperatures,
                                      const std::vector<float>& sensorValues, int unitCode) {
    GraphModel g;
    g.title = graph_texts::kSensorCurveTitle;
    g.xLabel = graph_texts::kTemperatureAxis;
    g.yLabel = std::string(graph_texts::kOutputAxisPrefix) + UnitAxisLabel(unitCode);
    g.SetLineCapacity(1);
    const size_t n = std::min(temperatures.size(), sensorValues.size());
    g.AddLine(temperatures.data(), sensorValues.data(), n);
    return g;
}

}  // namespace tavrix
