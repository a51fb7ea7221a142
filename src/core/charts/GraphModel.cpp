#include "charts/GraphModel.h"

#include <algorithm>

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

GraphModel GraphModel::OneLine(const std::string& title, const std::string& xLabel,
                               const std::string& yLabel, const std::vector<float>& x,
                               const std::vector<float>& y) {
    GraphModel g;
    g.title = title;
    g.xLabel = xLabel;
    g.yLabel = yLabel;
    g.SetLineCapacity(1);
    const size_t n = std::min(x.size(), y.size());
    g.AddLine(x.data(), y.data(), n);
    return g;
}

}  // namespace tavrix
