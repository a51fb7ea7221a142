#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <string>

namespace tavrix::files {

// Every file the program reads or writes goes through these: only a regular file is used, so
// a FIFO, a device or a folder of that name is refused at once instead of blocking a run or
// feeding it endless bytes. Opens never block (O_NONBLOCK until the file is known regular).

// The system's text for an errno value.
std::string SystemError(int err);

// Why `path` cannot be used as a file: "not a regular file (a FIFO)" and the like, or empty
// when it is a regular file or does not exist. Follows symlinks unless noFollow.
std::string OddFileReason(const std::string& path, bool noFollow = false);

// Opens an input file: a regular file of at most maxBytes. -1 with `error` set ("No such file
// or directory", "not a regular file (a FIFO)", "larger than 1048576 bytes") otherwise.
int OpenInput(const std::string& path, size_t maxBytes, std::string& error);
// Reads a whole input file as OpenInput allows it.
bool ReadInput(const std::string& path, size_t maxBytes, std::string& text, std::string& error);

enum class OutputMode {
    Truncate,  // create or empty
    Append,    // create if missing, write at the end
    Existing,  // append to a file that must exist already
};
struct OutputOptions {
    OutputMode mode = OutputMode::Truncate;
    mode_t createMode = 0644;
    bool noFollow = false;  // a symlink of that name is refused (O_NOFOLLOW)
};
// Opens an output file: a regular file, or a new one. A FIFO, a device or a folder is
// refused before anything is truncated. -1 with `error` set otherwise.
int OpenOutput(const std::string& path, const OutputOptions& options, std::string& error);

// The same as C streams ("rb" / "wb"), for readers and writers built on them; nullptr with
// `error` set.
std::FILE* OpenInputStream(const std::string& path, size_t maxBytes, std::string& error);
std::FILE* OpenOutputStream(const std::string& path, std::string& error);

// Writes all of `data` (retrying short writes and EINTR); false with `error` set.
bool WriteAll(int fd, const char* data, size_t size, std::string& error);

// "process 1234 (tavrix-cli)", or "process 1234" when its name cannot be read.
std::string DescribeProcess(pid_t pid);
// The process holding an flock() on the file of that device and inode, from /proc/locks;
// 0 when unknown.
pid_t FlockHolder(dev_t device, ino_t inode);

// An exclusive flock() on an open file, held as long as the object lives (and given up by the
// system when the process ends, however it ends).
class ExclusiveLock {
public:
    enum class Result { Locked, Busy, Failed };

    ExclusiveLock() = default;
    ~ExclusiveLock() { Release(); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;
    ExclusiveLock(ExclusiveLock&& other) noexcept;
    ExclusiveLock& operator=(ExclusiveLock&& other) noexcept;

    // Locks the file `fd` refers to without waiting; the object takes `fd` over (closes it on
    // release) when ownFd. Busy: `holder` names the holding process when it can be known.
    Result Take(int fd, bool ownFd, std::string& holder);
    // Opens `path` as an output (OpenOutput's rules, never truncating) and locks it.
    Result TakeFile(const std::string& path, const OutputOptions& options, std::string& holder,
                    std::string& error);
    // Waits for the lock (settings writers queue behind each other).
    bool TakeWaiting(int fd, bool ownFd);

    bool Held() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    void Release();

private:
    int fd_ = -1;
    bool ownFd_ = false;
};

}  // namespace tavrix::files
