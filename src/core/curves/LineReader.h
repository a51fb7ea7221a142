#pragma once

#include <cstdio>
#include <string>

namespace tavrix {

// Reads a text file line by line with a bound on the line length, so that no input can grow
// a line without limit. Lines end at LF; one CR right before the LF is dropped. Owns its file.
class LineReader {
public:
    enum Outcome {
        kLine,      // a line ended by LF
        kLastLine,  // the final line of the file, not ended by LF (not empty)
        kEnd,       // nothing more
        kError,     // the file could not be read
        kTooLong,   // a line longer than the bound; reading should stop
    };

    // A file larger than this is no curve or table file: it is not opened.
    static constexpr size_t kMaxFileBytes = 16u << 20;

    LineReader(const std::string& path, size_t maxChars);
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    bool IsOpen() const { return file_ != nullptr; }
    Outcome Next(std::string& line);
    // Lines handed out so far (the one just read included).
    int LineNumber() const { return lineNumber_; }

private:
    std::FILE* file_ = nullptr;
    size_t max_;
    int lineNumber_ = 0;
};

}  // namespace tavrix
