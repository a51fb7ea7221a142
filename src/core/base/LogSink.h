#pragma once

#include <string>

namespace tavrix {

// Receives the lines an operation adds to the view's message log (each ends in "\n").
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void Append(const std::string& text) = 0;
};

}  // namespace tavrix
