#pragma once

#include <cstdint>
#include <string>

namespace tavrix {

// A forward-only reader over a command file, one byte at a time. The length is taken when the
// file is opened; bytes appended later are not read. Only regular files are read, so a device
// or a pipe cannot feed it without end.
//
// Tags and contents are kept to a bounded length: characters beyond the limit are consumed and
// dropped, and Truncated() tells the caller, so a damaged file cannot exhaust memory.
class CommandFileReader {
public:
    // A tag is a keyword, a group name or an XML declaration: short in any sane file.
    static constexpr size_t kMaxTagLength = 256;
    // Generous beside the 100-character command line and the reply limit of the link.
    static constexpr size_t kMaxContentLength = 4096;

    CommandFileReader() = default;
    ~CommandFileReader();
    CommandFileReader(const CommandFileReader&) = delete;
    CommandFileReader& operator=(const CommandFileReader&) = delete;

    // false when the file cannot be opened or is not a regular file; errno is kept in Error().
    bool Open(const std::string& path);
    bool IsOpen() const { return fd_ >= 0; }
    // No byte is left to read.
    bool AtEnd() const { return remaining_ == 0; }
    int Error() const { return error_; }
    void Close();

    // false at the end (or after a read error).
    bool ReadCharacter(char& c);
    // Skips up to and including the next "<", then returns the characters up to the next ">"
    // (not included). At the end of the file: what was collected so far, empty if nothing.
    std::string NextTag();
    // The characters up to the next "<"; the "<" is consumed and not included.
    std::string ReadContent();
    // The characters between the tag just read and the next "<", which is left for NextTag. Group
    // tags are followed by layout only; anything else there is text a keyword was meant to hold.
    std::string TextBeforeNextTag();
    // Whether the last NextTag or ReadContent dropped characters beyond its limit.
    bool Truncated() const { return truncated_; }

    static bool IsClosingTag(const std::string& tag) { return !tag.empty() && tag[0] == '/'; }
    static bool IsComment(const std::string& tag) { return !tag.empty() && tag[0] == '!'; }

private:
    // Characters up to `stop` (consumed, not included); `stopped` tells whether it was met.
    std::string CollectUntil(char stop, size_t limit, bool* stopped = nullptr);

    int fd_ = -1;
    int error_ = 0;
    uint64_t remaining_ = 0;
    char buffer_[16384];
    size_t bufPos_ = 0;
    size_t bufLen_ = 0;
    bool truncated_ = false;
    // The "<" of the next tag was already consumed by TextBeforeNextTag.
    bool openPending_ = false;
};

}  // namespace tavrix
