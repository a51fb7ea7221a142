#pragma once

#include <string>

namespace tavrix {

// The values of the reference-point dialogs of curve generation. A command fills them, the
// dialog opens with them, and on OK gives them back with what the operator entered.

// COnePoint: one reading (volts, 0..3) at one temperature (kelvin, 0..500).
struct OnePointValues {
    static constexpr float kReadingLow = 0.0f, kReadingHigh = 3.0f;
    static constexpr float kTemperatureLow = 0.0f, kTemperatureHigh = 500.0f;
    float reading = 0.0f;
    float temperature = 0.0f;
    std::string prompt;  // at most 50 characters
};

// CTWOPOINTS: the first pair is the upper row (low reference), the second pair the lower row
// (high reference). The command sets every limit and text.
struct TwoPointsValues {
    // Lower and upper limit of: second temperature, second reading, first temperature, first
    // reading, in that order.
    float limits[8] = {};
    float secondTemperature = 0.0f;
    float secondReading = 0.0f;
    float firstTemperature = 0.0f;
    float firstReading = 0.0f;
    std::string secondPrompt;  // at most 50 characters
    std::string firstPrompt;   // at most 50
    std::string firstUnit;     // at most 4
    std::string secondUnit;    // at most 4
    std::string firstLabel;    // at most 20
    std::string secondLabel;   // at most 20
};

// CThreePoints: fixed limits and row texts.
struct ThreePointsValues {
    static constexpr float kLowTemperatureLow = 0.0f, kLowTemperatureHigh = 15.0f;
    static constexpr float kMiddleTemperatureLow = 15.0f, kMiddleTemperatureHigh = 177.0f;
    static constexpr float kHighTemperatureLow = 177.0f, kHighTemperatureHigh = 475.0f;
    static constexpr float kReadingLow = 0.0f, kReadingHigh = 3.0f;
    float lowTemperature = 0.0f;
    float lowReading = 0.0f;
    float middleTemperature = 0.0f;
    float middleReading = 0.0f;
    float highTemperature = 0.0f;
    float highReading = 0.0f;
};

}  // namespace tavrix
