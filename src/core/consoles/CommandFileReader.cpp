#include "consoles/CommandFileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tavrix {

CommandFileReader::~CommandFileReader() {
    Close();
}

bool CommandFileReader::Open(const std::string& path) {
    Close();
    error_ = 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error_ = errno;
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error_ = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return false;
    }
    fd_ = fd;
    remaining_ = static_cast<uint64_t>(st.st_size);
    bufPos_ = bufLen_ = 0;
    return true;
}

void CommandFileReader::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    remaining_ = 0;
    bufPos_ = bufLen_ = 0;
    openPending_ = false;
}

bool CommandFileReader::ReadCharacter(char& c) {
    if (fd_ < 0 || remaining_ == 0) return false;
    if (bufPos_ == bufLen_) {
        const size_t want =
            remaining_ < sizeof buffer_ ? static_cast<size_t>(remaining_) : sizeof buffer_;
        ssize_t n;
        do {
            n = ::read(fd_, buffer_, want);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) {
            // A file that shrank or failed to read simply ends here.
            error_ = n < 0 ? errno : 0;
            remaining_ = 0;
            return false;
        }
        bufPos_ = 0;
        bufLen_ = static_cast<size_t>(n);
    }
    c = buffer_[bufPos_++];
    --remaining_;
    return true;
}

std::string CommandFileReader::CollectUntil(char stop, size_t limit, bool* stopped) {
    std::string out;
    truncated_ = false;
    if (stopped) *stopped = false;
    char c;
    while (ReadCharacter(c)) {
        if (c == stop) {
            if (stopped) *stopped = true;
            break;
        }
        if (out.size() < limit)
            out.push_back(c);
        else
            truncated_ = true;
    }
    return out;
}

std::string CommandFileReader::NextTag() {
    char c;
    truncated_ = false;
    bool opened = openPending_;
    openPending_ = false;
    while (!opened && ReadCharacter(c)) {
        if (c == '<') {
            opened = true;
            break;
        }
    }
    if (!opened) return {};
    return CollectUntil('>', kMaxTagLength);
}

std::string CommandFileReader::ReadContent() {
    if (openPending_) {
        // The next "<" has been met already: nothing lies before it.
        openPending_ = false;
        truncated_ = false;
        return {};
    }
    return CollectUntil('<', kMaxContentLength);
}

std::string CommandFileReader::TextBeforeNextTag() {
    if (openPending_) {
        truncated_ = false;
        return {};
    }
    bool stopped = false;
    std::string text = CollectUntil('<', kMaxContentLength, &stopped);
    openPending_ = stopped;
    return text;
}

}  // namespace tavrix
