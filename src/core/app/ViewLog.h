#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "base/LogSink.h"

namespace tavrix {

// The view's message log: a ring of 2048 lines of at most 80 characters. Text is broken into
// lines as it arrives: at 80 characters, and at each CR or LF (which is not stored; the
// character right after it goes into the new line as it is). Appends from any thread are safe.
class ViewLog : public LogSink {
public:
    static constexpr int kLines = 2048;
    static constexpr int kColumns = 80;

    void Append(const std::string& text) override;

    // The lines in use, oldest first; once the ring has wrapped, the last 2048 lines in order.
    std::vector<std::string> Lines() const;
    // Index of the line being written (0..2047).
    int CurrentLine() const;
    // Lines begun since the start (grows past 2048 when the ring wraps).
    uint64_t LinesBegun() const;
    // Changes with every append; a window redraws when it differs from what it drew.
    uint64_t Generation() const;
    // Empties the log ("Clear" of its context menu).
    void Clear();

    // Writes `lines` to `path` as text, one CR LF line each, as the program's other text files.
    // false when the file could not be written completely.
    static bool SaveText(const std::string& path, const std::vector<std::string>& lines);

private:
    void NewLine();
    void Store(char c);

    mutable std::mutex mutex_;
    std::array<std::string, kLines> lines_{};
    int current_ = 0;
    int used_ = 1;
    int column_ = 0;
    uint64_t begun_ = 0;
    uint64_t generation_ = 0;
};

}  // namespace tavrix
