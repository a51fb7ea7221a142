#pragma once

#include <string>

namespace tavrix {

// Run-time binding of the GPIB driver library (linux-gpib's libgpib.so.0 by default). The
// library is loaded on the first wrapped call; when it is missing, or lacks its status
// variables, the call is skipped and a later call tries again. After every call made, the
// library's status variables are copied.
class GpibDriver {
public:
    static constexpr int ERR = 0x8000;
    static constexpr int TIMO = 0x4000;
    static constexpr int END = 0x2000;  // EOI came with the last byte read

    explicit GpibDriver(std::string libraryPath);
    ~GpibDriver();
    GpibDriver(const GpibDriver&) = delete;
    GpibDriver& operator=(const GpibDriver&) = delete;

    // $TAVRIX_GPIB_LIBRARY, else the given setting when not empty, else "libgpib.so.0".
    static std::string ChooseLibrary(const std::string& fromSettings);

    // Skipped calls return -1 for ibdev and the current ibsta copy for the others.
    int ibdev(int board, int pad, int sad, int tmo, int eot, int eos);
    int ibclr(int ud);
    int ibonl(int ud, int onl);
    int ibrd(int ud, void* buf, long count);
    int ibwrt(int ud, const void* buf, long count);

    int Ibsta() const { return ibsta_; }
    int Iberr() const { return iberr_; }
    long Ibcnt() const { return ibcnt_; }
    long Ibcntl() const { return ibcntl_; }
    bool Loaded() const { return handle_ != nullptr; }
    const std::string& LibraryPath() const { return path_; }

private:
    bool EnsureLoaded();
    void* Entry(int index, const char* name);
    void CopyStatus();

    std::string path_;
    void* handle_ = nullptr;
    volatile int* staVar_ = nullptr;
    volatile int* errVar_ = nullptr;
    volatile long* cntlVar_ = nullptr;
    void* entries_[5] = {};
    int ibsta_ = 0;
    int iberr_ = 0;
    long ibcnt_ = 0;
    long ibcntl_ = 0;
};

// The instrument as a GPIB device: opened lazily, taken offline after every error.
class GpibDevice {
public:
    static constexpr int kPieceSize = 100;
    static constexpr int kTimeoutCode = 11;  // T1s

    explicit GpibDevice(GpibDriver& driver) : driver_(driver) {}

    int Open();                             // 0, or -6
    int Write(const std::string& command);  // 0, or -6
    // 0 with up to 100 bytes (empty: nothing more), or -6. `timedOut` tells whether an empty
    // piece came from a time-out (nothing arrived) rather than from an empty message. A time-out
    // in the middle of a piece is a failed read: the device is cleared and -6 returned.
    // `end`: the piece came with END (EOI on its last byte).
    int Read(std::string& piece, bool* timedOut = nullptr, bool* end = nullptr);
    // Device clear: whatever the instrument still holds for us is dropped. 0, or -6 (offline).
    int Clear();
    void Offline();  // ibonl 0 unless there is no descriptor; descriptor back to -1

    bool IsOpen() const { return descriptor_ > 0; }
    int Descriptor() const { return descriptor_; }
    int Address() const { return address_; }
    void SetAddress(int address) { address_ = address; }
    GpibDriver& Driver() { return driver_; }

private:
    GpibDriver& driver_;
    int descriptor_ = -1;
    int address_ = 12;
};

}  // namespace tavrix
