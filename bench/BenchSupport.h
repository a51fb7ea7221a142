#pragma once

// What the benchmarks share: the one form every benchmark reports a figure in, so that
// scripts/bench.sh can gather them:
//   figure <name>: <value> <unit>
//   figure <name>: <value> <unit> | baseline <what>: <value> | ratio <value / baseline>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "base/OperatorInterface.h"

namespace tavrix::bench {

inline void Figure(const std::string& name, double value, const char* unit) {
    std::printf("figure %s: %.6g %s\n", name.c_str(), value, unit);
    std::fflush(stdout);
}

inline void Figure(const std::string& name, double value, const char* unit,
                   const std::string& baselineName, double baseline) {
    if (baseline > 0)
        std::printf("figure %s: %.6g %s | baseline %s: %.6g | ratio %.4g\n", name.c_str(), value,
                    unit, baselineName.c_str(), baseline, value / baseline);
    else
        std::printf("figure %s: %.6g %s | baseline %s: %.6g | ratio -\n", name.c_str(), value, unit,
                    baselineName.c_str(), baseline);
    std::fflush(stdout);
}

// A TCP connection to 127.0.0.1:port with Nagle's delay off; -1 when refused.
inline int ConnectLoopback(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(0x7F000001u);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// User and system CPU of this process so far.
inline double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Resident memory of this process now, in KiB (VmRSS), 0 when unknown.
inline long ResidentKiB() {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

// An operator nobody watches: every question is declined, and messages are counted (and
// printed on stderr unless `print` is off, so that a failing run says why).
class QuietOperator : public OperatorInterface {
public:
    void ShowMessage(const std::string& text, MessageIcon) override {
        ++messages;
        if (print) std::fprintf(stderr, "message: %s\n", text.c_str());
    }
    bool AskYesNo(const std::string&, MessageIcon) override { return false; }
    std::unique_ptr<ProgressWindow> OpenProgress() override {
        return std::make_unique<SilentProgress>();
    }
    void PumpMessages() override {}
    DialogResult<std::string> AskOpenFile(const FileDialogRequest&) override {
        return DialogResult<std::string>::Failed();
    }
    DialogResult<std::string> AskSaveFile(const FileDialogRequest&) override {
        return DialogResult<std::string>::Failed();
    }
    int messages = 0;
    bool print = true;
};

}  // namespace tavrix::bench
