#pragma once

#include <sys/types.h>

#include <string>

#include "base/FileSafety.h"

namespace tavrix {

// Exclusive use of a serial device, taken the way serial programs on Linux take it: an flock()
// on the device, the traditional lock file "LCK..<name>" holding the owner's process id in the
// system's lock folder (/var/lock or /run/lock, where one exists and is writable), and the
// terminal's exclusive mode (TIOCEXCL). The flock goes with the process however it ends; a lock
// file left by a process that died is taken over. Pseudo-terminals get no exclusive mode: the
// kernel keeps it set after a crash for as long as the other end stays open, which would
// shut every later opener out.
class DeviceLock {
public:
    enum class Result { Locked, Busy, Failed };

    DeviceLock() = default;
    ~DeviceLock() { Release(); }
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

    // Locks the device open as `fd` (not taken over: the caller closes it after Release).
    Result Take(int fd, const std::string& devicePath);
    void Release();
    bool Held() const { return fd_ >= 0; }

    // "Device busy: /dev/ttyUSB0 is in use by process 1234 (tavrix-cli)", naming the holder
    // where the lock file or the system's lock table tells it.
    static std::string BusyText(const std::string& devicePath);
    // "LCK..ttyUSB0" for /dev/ttyUSB0 (symlinks resolved; "/" below /dev becomes "_").
    static std::string LockFileName(const std::string& devicePath);
    // The folder for lock files: $TAVRIX_LOCK_DIR when set, else the first of /var/lock and
    // /run/lock that is a writable folder; empty when there is none.
    static std::string LockFolder();
    // The live process a lock file names, or 0 (no file, unreadable, or its process is gone).
    static pid_t LockFileOwner(const std::string& lockFilePath);

private:
    // Creates the lock file with our process id; false when another live process holds one.
    Result TakeLockFile(const std::string& devicePath);

    int fd_ = -1;
    files::ExclusiveLock flock_;
    std::string lockFile_;
    bool exclusiveMode_ = false;
};

}  // namespace tavrix
