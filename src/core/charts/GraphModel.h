#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tavrix {

// What the x-y graph window (CGraph) shows: a title, axis texts and up to a fixed number of
// lines. The window draws it; the rules and their messages (all with the error icon) are here.
class GraphModel {
public:
    static constexpr size_t kTextMax = 50;

    struct Line {
        std::vector<float> x, y;
    };

    std::string title, xLabel, yLabel;

    // "" on success, else the message to show. n = 0 changes nothing.
    std::string SetLineCapacity(size_t n);
    // "" when the line was added, else the message to show.
    std::string AddLine(const float* x, const float* y, size_t count);
    // Before the window is built: "" or the message to show instead of the chart.
    std::string CheckBeforeShow() const;

    size_t Capacity() const { return capacity_; }
    const std::vector<Line>& Lines() const { return lines_; }
    size_t LongestLine() const { return longest_; }
    // Title and axis texts cut to 50 characters, as the chart takes them.
    std::string ShownTitle() const { return title.substr(0, kTextMax); }
    std::string ShownXLabel() const { return xLabel.substr(0, kTextMax); }
    std::string ShownYLabel() const { return yLabel.substr(0, kTextMax); }

    // A graph of one line through the points of x and y (as many as the shorter holds).
    static GraphModel OneLine(const std::string& title, const std::string& xLabel,
                              const std::string& yLabel, const std::vector<float>& x,
                              const std::vector<float>& y);

private:
    size_t capacity_ = 0;
    size_t longest_ = 0;
    std::vector<Line> lines_;
};

namespace graph_texts {
inline constexpr const char* kAtLeastOneLine = "The graph must be set up with at least 1 line";
inline constexpr const char* kTooManyLines = "The number of lines exceeded the maximum.";
inline constexpr const char* kNoPointerSets = "Faile to create pointer sets";
inline constexpr const char* kNoDataBuffer = "Unable to create new data buffer";
inline constexpr const char* kFailedToCreateGraph = "Failed to create graph";
}  // namespace graph_texts

}  // namespace tavrix
