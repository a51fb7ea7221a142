#include "logging/LogFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tavrix {

namespace {
std::string ErrorText(int err) {
    return std::strerror(err);
}

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};
}  // namespace

std::string LogFileWriter::ToDisk(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

bool LogFileWriter::Create(const std::string& path, std::string& error) {
    Fd f;
    f.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (f.fd < 0) {
        error = ErrorText(errno);
        return false;
    }
    if (::fdatasync(f.fd) != 0 && errno != EINVAL) {
        error = ErrorText(errno);
        return false;
    }
    return true;
}

bool LogFileWriter::Append(const std::string& path, const std::string& text, bool sync,
                           std::string& error) {
    Fd f;
    f.fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (f.fd < 0) {
        error = ErrorText(errno);
        return false;
    }
    const std::string bytes = ToDisk(text);
    struct stat st {};
    const off_t before = ::fstat(f.fd, &st) == 0 ? st.st_size : -1;
    ssize_t n;
    do {
        n = ::write(f.fd, bytes.data(), bytes.size());
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(bytes.size())) {
        error = n < 0 ? ErrorText(errno) : ErrorText(ENOSPC);
        if (n > 0 && before >= 0) (void)::ftruncate(f.fd, before);
        return false;
    }
    if (sync && ::fdatasync(f.fd) != 0 && errno != EINVAL) {
        error = ErrorText(errno);
        if (before >= 0) (void)::ftruncate(f.fd, before);
        return false;
    }
    if (::close(f.fd) != 0) {
        f.fd = -1;
        error = ErrorText(errno);
        return false;
    }
    f.fd = -1;
    return true;
}

}  // namespace tavrix
