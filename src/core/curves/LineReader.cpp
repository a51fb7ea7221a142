#include "curves/LineReader.h"

#include "base/FileSafety.h"

namespace tavrix {

LineReader::LineReader(const std::string& path, size_t maxChars) : max_(maxChars) {
    // Only a regular file of a sensible size: a FIFO or a device never ends a read.
    std::string error;
    if (!path.empty()) file_ = files::OpenInputStream(path, kMaxFileBytes, error);
}

LineReader::~LineReader() {
    if (file_) std::fclose(file_);
}

LineReader::Outcome LineReader::Next(std::string& line) {
    line.clear();
    if (!file_) return kError;
    for (;;) {
        const int c = std::getc(file_);
        if (c == EOF) {
            if (std::ferror(file_)) return kError;
            if (line.empty()) return kEnd;
            ++lineNumber_;
            if (line.size() > max_) return kTooLong;
            return kLastLine;
        }
        if (c == '\n') {
            ++lineNumber_;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line.size() > max_ ? kTooLong : kLine;
        }
        line.push_back(static_cast<char>(c));
        // Room for one CR that may still be followed by LF.
        if (line.size() > max_ + 1) {
            ++lineNumber_;
            return kTooLong;
        }
    }
}

}  // namespace tavrix
