#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "link/DeviceLock.h"

namespace tavrix {

// The RS232 port of the instrument link over POSIX termios. It opens a device path (a real
// port, a USB adapter or the simulator's pseudo-terminal) at 8N1 without flow control and offers
// the link's four operations: clear the queues, write a block, write a byte, read one byte with
// a short time-out. An open port is this process's alone (see DeviceLock): a second opener is
// refused with -4 and BusyText(). Not thread-safe: used only by the holder of SessionMutex.
class CCommPort {
public:
    // Maps a COM port number (1..255) to a device path.
    using DevicePathResolver = std::function<std::string(int portNumber)>;

    explicit CCommPort(DevicePathResolver resolver);
    ~CCommPort();
    CCommPort(const CCommPort&) = delete;
    CCommPort& operator=(const CCommPort&) = delete;

    // A time-out value counts in these units (the link opens with 50, that is 500 ms).
    static constexpr int kTimeoutUnitMs = 10;

    // Opens the port; the status stays inside the object (LastOpenStatus) and the link ignores it.
    // Port numbers outside 1..255 are refused with -3. The fourth argument is not used.
    int Open(int portNumber, int speedSelector, int timeoutValue, int unused);
    int Close();  // 0, or -9 when not open

    int ClearReceiveQueue();   // 0, -9 not open, -6 refused
    int ClearTransmitQueue();  // waits for pending output to go out: 0, -9 not open, -6
    int WriteBlock(int count, const char* bytes);  // count written, -15 time-out, -9, -6
    int WriteByte(unsigned char byte);             // 0, or -1
    int ReadByte();  // 0..255, or -1 on time-out and on every other failure
    // The same, but never waits past `notAfter` (an exchange's overall deadline), and tells a
    // time-out (-1) from a failed or hung-up port (-2).
    int ReadByte(std::chrono::steady_clock::time_point notAfter);

    bool IsOpen() const { return fd_ >= 0; }
    int PortNumber() const { return portNumber_; }
    int BaudRate() const { return baudRate_; }
    int TimeoutValue() const { return timeoutValue_; }
    int LastOpenStatus() const { return lastOpenStatus_; }
    const std::string& DevicePath() const { return devicePath_; }
    // After an open refused because another process uses the device: "Device busy: ..."
    // naming the device and, where known, the holder. Empty otherwise.
    const std::string& BusyText() const { return busyText_; }
    // Why the last open failed, in the system's words (empty after a successful open).
    const std::string& OpenError() const { return openError_; }

    // Baud list index 0..7 -> speed selector 8..1.
    static int SelectorFromBaudIndex(int baudIndex);
    // Selector 1..7 -> 1200..57600; anything else -> 115200.
    static int SpeedFromSelector(int selector);

private:
    DevicePathResolver resolver_;
    int fd_ = -1;
    int portNumber_ = -1;
    int baudRate_ = 9600;
    int timeoutValue_ = 0;
    int lastOpenStatus_ = 0;
    std::string devicePath_;
    std::string busyText_;
    std::string openError_;
    DeviceLock lock_;
    unsigned char readAhead_[256] = {};
    size_t readPos_ = 0, readLen_ = 0;
};

}  // namespace tavrix
