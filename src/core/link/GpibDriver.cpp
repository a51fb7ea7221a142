#include "link/GpibDriver.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace tavrix {

namespace {

enum Entry { kIbclr, kIbdev, kIbonl, kIbrd, kIbwrt };
constexpr const char* kEntryNames[] = {"ibclr", "ibdev", "ibonl", "ibrd", "ibwrt"};

using IbdevFn = int (*)(int, int, int, int, int, int);
using IbclrFn = int (*)(int);
using IbonlFn = int (*)(int, int);
using IbrdFn = int (*)(int, void*, long);
using IbwrtFn = int (*)(int, const void*, long);

// linux-gpib's name first, then the NI name.
void* FindVariable(void* handle, const char* name, const char* fallback) {
    void* p = ::dlsym(handle, name);
    return p != nullptr ? p : ::dlsym(handle, fallback);
}

}  // namespace

GpibDriver::GpibDriver(std::string libraryPath) : path_(std::move(libraryPath)) {}

GpibDriver::~GpibDriver() {
    if (handle_ != nullptr) ::dlclose(handle_);
}

std::string GpibDriver::ChooseLibrary(const std::string& fromSettings) {
    const char* env = std::getenv("TAVRIX_GPIB_LIBRARY");
    if (env != nullptr && *env != '\0') return env;
    if (!fromSettings.empty()) return fromSettings;
    return "libgpib.so.0";
}

bool GpibDriver::EnsureLoaded() {
    if (handle_ != nullptr) return true;
    // An empty path would hand us the program itself.
    if (path_.empty()) return false;
    void* handle = ::dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return false;
    void* sta = FindVariable(handle, "ibsta", "user_ibsta");
    void* err = FindVariable(handle, "iberr", "user_iberr");
    void* cntl = FindVariable(handle, "ibcntl", "user_ibcntl");
    if (sta == nullptr || err == nullptr || cntl == nullptr) {
        ::dlclose(handle);
        return false;
    }
    handle_ = handle;
    staVar_ = static_cast<volatile int*>(sta);
    errVar_ = static_cast<volatile int*>(err);
    cntlVar_ = static_cast<volatile long*>(cntl);
    std::fill(std::begin(entries_), std::end(entries_), nullptr);
    return true;
}

void* GpibDriver::Entry(int index, const char* name) {
    if (!EnsureLoaded()) return nullptr;
    if (entries_[index] == nullptr) entries_[index] = ::dlsym(handle_, name);
    return entries_[index];
}

void GpibDriver::CopyStatus() {
    ibsta_ = *staVar_;
    iberr_ = *errVar_;
    ibcntl_ = *cntlVar_;
    ibcnt_ = ibcntl_;
}

int GpibDriver::ibdev(int board, int pad, int sad, int tmo, int eot, int eos) {
    auto fn = reinterpret_cast<IbdevFn>(Entry(kIbdev, kEntryNames[kIbdev]));
    if (fn == nullptr) return -1;
    int ud = fn(board, pad, sad, tmo, eot, eos);
    CopyStatus();
    return ud;
}

int GpibDriver::ibclr(int ud) {
    auto fn = reinterpret_cast<IbclrFn>(Entry(kIbclr, kEntryNames[kIbclr]));
    if (fn == nullptr) return ibsta_;
    int r = fn(ud);
    CopyStatus();
    return r;
}

int GpibDriver::ibonl(int ud, int onl) {
    auto fn = reinterpret_cast<IbonlFn>(Entry(kIbonl, kEntryNames[kIbonl]));
    if (fn == nullptr) return ibsta_;
    int r = fn(ud, onl);
    CopyStatus();
    return r;
}

int GpibDriver::ibrd(int ud, void* buf, long count) {
    auto fn = reinterpret_cast<IbrdFn>(Entry(kIbrd, kEntryNames[kIbrd]));
    if (fn == nullptr) return ibsta_;
    int r = fn(ud, buf, count);
    CopyStatus();
    return r;
}

int GpibDriver::ibwrt(int ud, const void* buf, long count) {
    auto fn = reinterpret_cast<IbwrtFn>(Entry(kIbwrt, kEntryNames[kIbwrt]));
    if (fn == nullptr) return ibsta_;
    int r = fn(ud, buf, count);
    CopyStatus();
    return r;
}

int GpibDevice::Open() {
    if (descriptor_ > 0) return 0;
    descriptor_ = driver_.ibdev(0, address_, 0, kTimeoutCode, 1, 0);
    // Without the library the call is skipped and no status says so: no device is there.
    if (descriptor_ < 0 || !driver_.Loaded() || (driver_.Ibsta() & GpibDriver::ERR)) {
        Offline();
        return -6;
    }
    driver_.ibclr(descriptor_);
    if (driver_.Ibsta() & GpibDriver::ERR) {
        Offline();
        return -6;
    }
    return 0;
}

int GpibDevice::Clear() {
    if (descriptor_ < 0) return 0;
    driver_.ibclr(descriptor_);
    if (driver_.Ibsta() & GpibDriver::ERR) {
        Offline();
        return -6;
    }
    return 0;
}

int GpibDevice::Write(const std::string& command) {
    if (Open() != 0) return -6;
    driver_.ibwrt(descriptor_, command.data(), static_cast<long>(command.size()));
    if (driver_.Ibsta() & GpibDriver::ERR) {
        Offline();
        return -6;
    }
    return 0;
}

int GpibDevice::Read(std::string& piece, bool* timedOut, bool* end) {
    piece.clear();
    if (timedOut) *timedOut = false;
    if (end) *end = false;
    if (Open() != 0) return -6;
    char buffer[kPieceSize + 1] = {};
    driver_.ibrd(descriptor_, buffer, kPieceSize);
    const int sta = driver_.Ibsta();
    if (!(sta & GpibDriver::ERR)) {
        const long n = std::clamp(driver_.Ibcntl(), 0L, static_cast<long>(kPieceSize));
        piece.assign(buffer, static_cast<size_t>(n));
        // A reply is text; a NUL could not be carried by it.
        piece.erase(std::remove(piece.begin(), piece.end(), '\0'), piece.end());
        if (end) *end = (sta & GpibDriver::END) != 0;
        return 0;
    }
    if (sta & GpibDriver::TIMO) {
        const bool cutShort = driver_.Ibcntl() > 0;
        // Nothing more within the time-out: the reply is complete. The clear makes sure that
        // nothing the instrument still sends is taken for the next reply.
        if (Clear() != 0) return -6;
        if (cutShort) return -6;  // part of a piece came, the rest never did
        if (timedOut) *timedOut = true;
        return 0;
    }
    Offline();
    return -6;
}

void GpibDevice::Offline() {
    // A 0 descriptor is never kept as open, yet it came from ibdev: release it too.
    if (descriptor_ >= 0) driver_.ibonl(descriptor_, 0);
    descriptor_ = -1;
}

}  // namespace tavrix
