#include "base/FileSafety.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace tavrix::files {

namespace {

const char* KindOf(mode_t mode) {
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISLNK(mode)) return "a symbolic link";
    return "not a plain file";
}

std::string NotRegular(mode_t mode) {
    return std::string("not a regular file (") + KindOf(mode) + ")";
}

// Back to blocking writes once the file is known to be a regular file (reads and writes of a
// regular file never wait anyway, but short writes must not turn into EAGAIN).
void ClearNonBlock(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

}  // namespace

std::string SystemError(int err) {
    return std::strerror(err);
}

std::string OddFileReason(const std::string& path, bool noFollow) {
    struct stat st {};
    const int r = noFollow ? ::lstat(path.c_str(), &st) : ::stat(path.c_str(), &st);
    if (r != 0 || S_ISREG(st.st_mode)) return {};
    return NotRegular(st.st_mode);
}

int OpenInput(const std::string& path, size_t maxBytes, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = SystemError(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = SystemError(errno);
    } else if (!S_ISREG(st.st_mode)) {
        error = NotRegular(st.st_mode);
    } else if (static_cast<unsigned long long>(st.st_size) > maxBytes) {
        error = "larger than " + std::to_string(maxBytes) + " bytes";
    } else {
        ClearNonBlock(fd);
        return fd;
    }
    ::close(fd);
    return -1;
}

bool ReadInput(const std::string& path, size_t maxBytes, std::string& text, std::string& error) {
    text.clear();
    const int fd = OpenInput(path, maxBytes, error);
    if (fd < 0) return false;
    char buf[8192];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            text.append(buf, static_cast<size_t>(n));
            // The file may grow while it is read.
            if (text.size() > maxBytes) {
                error = "larger than " + std::to_string(maxBytes) + " bytes";
                ok = false;
                break;
            }
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = SystemError(errno);
            ok = false;
        }
        break;
    }
    ::close(fd);
    if (!ok) text.clear();
    return ok;
}

int OpenOutput(const std::string& path, const OutputOptions& options, std::string& error) {
    // No O_TRUNC here: the file is emptied only once it is known to be a regular file.
    int flags = O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    if (options.mode != OutputMode::Existing) flags |= O_CREAT;
    if (options.mode != OutputMode::Truncate) flags |= O_APPEND;
    if (options.noFollow) flags |= O_NOFOLLOW;
    const int fd = ::open(path.c_str(), flags, options.createMode);
    if (fd < 0) {
        const int err = errno;
        // A FIFO without a reader refuses a non-blocking open with ENXIO, a symlink under
        // O_NOFOLLOW gives ELOOP: say what is there rather than the bare system text.
        const std::string odd = OddFileReason(path, options.noFollow);
        error = odd.empty() ? SystemError(err) : odd;
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = SystemError(errno);
    } else if (!S_ISREG(st.st_mode)) {
        error = NotRegular(st.st_mode);
    } else if (options.mode == OutputMode::Truncate && st.st_size > 0 && ::ftruncate(fd, 0) != 0) {
        error = SystemError(errno);
    } else {
        ClearNonBlock(fd);
        return fd;
    }
    ::close(fd);
    return -1;
}

std::FILE* OpenInputStream(const std::string& path, size_t maxBytes, std::string& error) {
    const int fd = OpenInput(path, maxBytes, error);
    if (fd < 0) return nullptr;
    std::FILE* f = ::fdopen(fd, "rb");
    if (!f) {
        error = SystemError(errno);
        ::close(fd);
    }
    return f;
}

std::FILE* OpenOutputStream(const std::string& path, std::string& error) {
    const int fd = OpenOutput(path, {}, error);
    if (fd < 0) return nullptr;
    std::FILE* f = ::fdopen(fd, "wb");
    if (!f) {
        error = SystemError(errno);
        ::close(fd);
    }
    return f;
}

bool WriteAll(int fd, const char* data, size_t size, std::string& error) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = SystemError(n < 0 ? errno : ENOSPC);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string DescribeProcess(pid_t pid) {
    std::string out = "process " + std::to_string(pid);
    const std::string commPath = "/proc/" + std::to_string(pid) + "/comm";
    if (std::FILE* f = std::fopen(commPath.c_str(), "re")) {
        char name[64] = {};
        if (std::fgets(name, sizeof name, f)) {
            std::string n(name);
            while (!n.empty() && (n.back() == '\n' || n.back() == '\r')) n.pop_back();
            // A process may call itself anything: keep only printable characters.
            std::string clean;
            for (char c : n)
                if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) clean += c;
            if (!clean.empty()) out += " (" + clean + ")";
        }
        std::fclose(f);
    }
    return out;
}

pid_t FlockHolder(dev_t device, ino_t inode) {
    std::FILE* f = std::fopen("/proc/locks", "re");
    if (!f) return 0;
    char line[256];
    pid_t found = 0;
    while (!found && std::fgets(line, sizeof line, f)) {
        // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; waiters carry "->" and are skipped.
        char kind[16] = {}, mode[16] = {}, access[16] = {};
        unsigned long pid = 0, maj = 0, min = 0, ino = 0;
        int id = 0;
        if (std::sscanf(line, "%d: %15s %15s %15s %lu %lx:%lx:%lu", &id, kind, mode, access, &pid,
                        &maj, &min, &ino) != 8)
            continue;
        if (std::strcmp(kind, "FLOCK") != 0) continue;
        if (maj == major(device) && min == minor(device) && ino == inode)
            found = static_cast<pid_t>(pid);
    }
    std::fclose(f);
    return found;
}

ExclusiveLock::ExclusiveLock(ExclusiveLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), ownFd_(other.ownFd_) {}

ExclusiveLock& ExclusiveLock::operator=(ExclusiveLock&& other) noexcept {
    if (this != &other) {
        Release();
        fd_ = std::exchange(other.fd_, -1);
        ownFd_ = other.ownFd_;
    }
    return *this;
}

ExclusiveLock::Result ExclusiveLock::Take(int fd, bool ownFd, std::string& holder) {
    Release();
    holder.clear();
    int r;
    do {
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    if (r == 0) {
        fd_ = fd;
        ownFd_ = ownFd;
        return Result::Locked;
    }
    const int err = errno;
    const bool busy = err == EWOULDBLOCK;
    if (busy) {
        struct stat st {};
        if (::fstat(fd, &st) == 0) {
            if (const pid_t pid = FlockHolder(st.st_dev, st.st_ino); pid > 0)
                holder = DescribeProcess(pid);
        }
    }
    if (ownFd) ::close(fd);
    errno = err;
    return busy ? Result::Busy : Result::Failed;
}

ExclusiveLock::Result ExclusiveLock::TakeFile(const std::string& path, const OutputOptions& options,
                                              std::string& holder, std::string& error) {
    OutputOptions o = options;
    if (o.mode == OutputMode::Truncate) o.mode = OutputMode::Append;
    const int fd = OpenOutput(path, o, error);
    if (fd < 0) return Result::Failed;
    const Result r = Take(fd, true, holder);
    if (r == Result::Failed) error = SystemError(errno);
    return r;
}

bool ExclusiveLock::TakeWaiting(int fd, bool ownFd) {
    Release();
    int r;
    do {
        r = ::flock(fd, LOCK_EX);
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
        if (ownFd) ::close(fd);
        return false;
    }
    fd_ = fd;
    ownFd_ = ownFd;
    return true;
}

void ExclusiveLock::Release() {
    if (fd_ < 0) return;
    ::flock(fd_, LOCK_UN);
    if (ownFd_) ::close(fd_);
    fd_ = -1;
}

}  // namespace tavrix::files
