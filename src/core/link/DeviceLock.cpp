#include "link/DeviceLock.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace tavrix {

namespace {

bool IsPseudoTerminal(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    // Unix98 pseudo-terminal slaves: majors 136..143.
    const unsigned m = major(st.st_rdev);
    return m >= 136 && m <= 143;
}

// Whether process `pid` may have written a lock file last changed at `written`: it exists, is no
// zombie, and did not start after the file was written (a process id that the system has given
// again since the writer ended). True when /proc cannot tell.
bool MayHaveWritten(pid_t pid, const struct timespec& written) {
    std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "re");
    if (!f) return true;
    char line[1024] = {};
    const bool got = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    const char* close = got ? std::strrchr(line, ')') : nullptr;
    if (!close) return true;
    // After the name: state (3rd field) ... start time in clock ticks since boot (22nd field).
    char state = 0;
    unsigned long long startTicks = 0;
    if (std::sscanf(close + 1,
                    " %c %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s "
                    "%*s %llu",
                    &state, &startTicks) != 2)
        return true;
    if (state == 'Z' || state == 'X') return false;
    long long bootSeconds = -1;
    if (std::FILE* s = std::fopen("/proc/stat", "re")) {
        char text[256];
        while (std::fgets(text, sizeof text, s))
            if (std::sscanf(text, "btime %lld", &bootSeconds) == 1) break;
        std::fclose(s);
    }
    const long ticks = ::sysconf(_SC_CLK_TCK);
    if (bootSeconds < 0 || ticks <= 0) return true;
    const long long started = bootSeconds + static_cast<long long>(startTicks / ticks);
    // Boot time is known to the second: a process that started two seconds or more after the
    // file was written is not its writer.
    return started < static_cast<long long>(written.tv_sec) + 2;
}

bool WritableFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           ::access(path.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

std::string DeviceLock::LockFolder() {
    if (const char* dir = std::getenv("TAVRIX_LOCK_DIR"); dir && *dir)
        return WritableFolder(dir) ? dir : std::string();
    for (const char* candidate : {"/var/lock", "/run/lock"})
        if (WritableFolder(candidate)) return candidate;
    return {};
}

std::string DeviceLock::LockFileName(const std::string& devicePath) {
    std::string real = devicePath;
    if (char* r = ::realpath(devicePath.c_str(), nullptr)) {
        real = r;
        std::free(r);
    }
    std::string name = real.rfind("/dev/", 0) == 0 ? real.substr(5) : real;
    while (!name.empty() && name.front() == '/') name.erase(0, 1);
    for (char& c : name)
        if (c == '/') c = '_';
    return "LCK.." + name;
}

pid_t DeviceLock::LockFileOwner(const std::string& lockFilePath) {
    const int fd = ::open(lockFilePath.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return 0;
    char buf[32] = {};
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    struct stat st {};
    const bool stated = ::fstat(fd, &st) == 0;
    ::close(fd);
    if (n <= 0) return 0;
    // The process id in ASCII, right-aligned in ten characters and ended by LF.
    char* end = nullptr;
    const long pid = std::strtol(buf, &end, 10);
    if (end == buf || pid <= 0 || pid > INT_MAX) return 0;
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return 0;
    // A process that ended unreaped, or one that got the writer's id later, holds nothing.
    if (stated && !MayHaveWritten(static_cast<pid_t>(pid), st.st_mtim)) return 0;
    return static_cast<pid_t>(pid);
}

std::string DeviceLock::BusyText(const std::string& devicePath) {
    pid_t holder = 0;
    if (const std::string folder = LockFolder(); !folder.empty())
        holder = LockFileOwner(folder + "/" + LockFileName(devicePath));
    if (holder <= 0) {
        struct stat st {};
        if (::stat(devicePath.c_str(), &st) == 0) holder = files::FlockHolder(st.st_dev, st.st_ino);
    }
    return "Device busy: " + devicePath + " is in use by " +
           (holder > 0 ? files::DescribeProcess(holder) : std::string("another program"));
}

DeviceLock::Result DeviceLock::TakeLockFile(const std::string& devicePath) {
    const std::string folder = LockFolder();
    if (folder.empty()) return Result::Locked;  // no lock folder on this system
    const std::string path = folder + "/" + LockFileName(devicePath);
    const pid_t self = ::getpid();
    // Written whole under another name first, so that a reader never sees an empty lock file.
    const std::string tmp = folder + "/LTMP." + std::to_string(self);
    ::unlink(tmp.c_str());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return Result::Locked;  // the folder takes no file of ours: flock alone
    char text[16];
    const int len = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(self));
    std::string error;
    const bool written = files::WriteAll(fd, text, static_cast<size_t>(len), error);
    ::close(fd);
    Result result = Result::Locked;
    if (written) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (::link(tmp.c_str(), path.c_str()) == 0) {
                lockFile_ = path;
                break;
            }
            if (errno != EEXIST) break;
            const pid_t owner = LockFileOwner(path);
            if (owner > 0 && owner != self) {
                result = Result::Busy;
                break;
            }
            // Left by a process that is gone (or by this one): stale, taken over.
            ::unlink(path.c_str());
        }
    }
    ::unlink(tmp.c_str());
    return result;
}

DeviceLock::Result DeviceLock::Take(int fd, const std::string& devicePath) {
    Release();
    std::string holder;
    const files::ExclusiveLock::Result r = flock_.Take(fd, false, holder);
    if (r == files::ExclusiveLock::Result::Busy) return Result::Busy;
    if (TakeLockFile(devicePath) == Result::Busy) {
        flock_.Release();
        return Result::Busy;
    }
    if (!IsPseudoTerminal(fd) && ::ioctl(fd, TIOCEXCL) == 0) exclusiveMode_ = true;
    fd_ = fd;
    return Result::Locked;
}

void DeviceLock::Release() {
    if (fd_ >= 0 && exclusiveMode_) ::ioctl(fd_, TIOCNXCL);
    exclusiveMode_ = false;
    if (!lockFile_.empty()) {
        // Only our own: a file another process made after a takeover stays.
        if (LockFileOwner(lockFile_) == ::getpid()) ::unlink(lockFile_.c_str());
        lockFile_.clear();
    }
    flock_.Release();
    fd_ = -1;
}

}  // namespace tavrix
