#pragma once

#include <string>

namespace tavrix {

// One calibration step (measuring range). The two commands name channel A; the channel letter
// goes at kTypeLetterIndex of the type command and kInputLetterIndex of the input command.
struct CalibStep {
    const char* title;  // one "%s" for the channel name
    const char* tabName;
    const char* typeCommand;
    const char* inputCommand;
    const char* upperPrompt;
    double upperTarget;
    const char* lowerPrompt;  // empty for a one-point step
    double lowerTarget;
    int calibMethod;  // 2, 3: one-point; anything else: two-point
};

inline constexpr size_t kTypeLetterIndex = 5;
inline constexpr size_t kInputLetterIndex = 6;

// Channels a model code calibrates (0 for an unknown code).
int CalibChannelCount(int modelCode);
// The step table of a model code, ended by a row with an empty title; null when the model has
// none (every code but 27 and 28).
const CalibStep* CalibStepTable(int modelCode);
int CalibStepCount(const CalibStep* table);

// `text` with the character at `index` replaced by `letter` (unchanged when it is too short).
std::string WithLetterAt(const char* text, size_t index, char letter);
inline std::string TypeCommandFor(const CalibStep& s, char letter) {
    return WithLetterAt(s.typeCommand, kTypeLetterIndex, letter);
}
inline std::string InputCommandFor(const CalibStep& s, char letter) {
    return WithLetterAt(s.inputCommand, kInputLetterIndex, letter);
}

}  // namespace tavrix
