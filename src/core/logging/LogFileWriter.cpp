#include "logging/LogFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/FileSafety.h"

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
    // A FIFO, a device or a folder is refused at once: a run never waits on one.
    f.fd = files::OpenOutput(path, {files::OutputMode::Truncate, 0644, false}, error);
    if (f.fd < 0) return false;
    if (::fdatasync(f.fd) != 0 && errno != EINVAL) {
        error = ErrorText(errno);
        return false;
    }
    return true;
}

bool LogFileWriter::Append(const std::string& path, const std::string& text, bool sync,
                           std::string& error) {
    Fd f;
    f.fd = files::OpenOutput(path, {files::OutputMode::Existing, 0644, false}, error);
    if (f.fd < 0) return false;
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

files::ExclusiveLock::Result LogFileWriter::Lock(const std::string& path,
                                                 files::ExclusiveLock& lock, std::string& message) {
    std::string holder;
    const auto r = lock.TakeFile(path, {files::OutputMode::Append, 0644, false}, holder, message);
    if (r == files::ExclusiveLock::Result::Busy)
        message = "The data log file " + path + " is being written by " +
                  (holder.empty() ? std::string("another run") : holder) + ": choose another file.";
    return r;
}

}  // namespace tavrix
