#pragma once

#include <string>

namespace tavrix {

// printf/scanf with the "C" numeric conventions whatever the process locale is: curve files
// and instrument lines always use a decimal point. Only for the calling thread, for the call.
std::string FormatC(const char* format, ...) __attribute__((format(printf, 1, 2)));
int ScanC(const char* text, const char* format, ...) __attribute__((format(scanf, 2, 3)));

// A dialog's number field read back: the whole text is one finite number in the "C"
// conventions, blanks around it allowed. false (out untouched) for anything else.
bool ParseNumberField(const std::string& text, double& out);

}  // namespace tavrix
