#include "ChildProgram.h"

#include "TestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

namespace tavrix::test {

namespace {

using Clock = std::chrono::steady_clock;

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

ChildProgram::ChildProgram(std::vector<std::string> argv, Setup setup) : setup_(std::move(setup)) {
    int out[2] = {-1, -1}, err[2] = {-1, -1}, in[2] = {-1, -1};
    if ((setup_.outFile.empty() && ::pipe2(out, O_CLOEXEC) != 0) ||
        (setup_.errFile.empty() && ::pipe2(err, O_CLOEXEC) != 0) ||
        (setup_.feedStdin && ::pipe2(in, O_CLOEXEC) != 0))
        return;
    pid_ = ::fork();
    if (pid_ == 0) {
        auto target = [](const std::string& file, int pipeEnd) {
            return file.empty() ? pipeEnd : ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        };
        ::dup2(target(setup_.outFile, out[1]), 1);
        ::dup2(target(setup_.errFile, err[1]), 2);
        ::dup2(setup_.feedStdin ? in[0] : ::open("/dev/null", O_RDONLY), 0);
        if (!setup_.workDir.empty() && ::chdir(setup_.workDir.c_str()) != 0) ::_exit(126);
        for (auto& e : setup_.env) ::putenv(e.data());
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    for (int* fd : {&out[1], &err[1], &in[0]}) CloseFd(*fd);
    out_ = out[0];
    err_ = err[0];
    in_ = in[1];
}

ChildProgram::~ChildProgram() {
    CloseStdin();
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    CloseStdout();
    CloseFd(err_);
}

void ChildProgram::Signal(int sig) const {
    if (pid_ > 0) ::kill(pid_, sig);
}

int ChildProgram::Wait(int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (pid_ > 0 && !reaped_ && Clock::now() < deadline) {
        int status = 0;
        if (::wait4(pid_, &status, WNOHANG, &usage) == pid_) {
            reaped_ = true;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -2;
}

int ChildProgram::Finish(int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < deadline && Pump(100)) {
    }
    const bool late = Clock::now() >= deadline;
    if (late) Signal(SIGKILL);
    int status = 0;
    if (pid_ <= 0 || reaped_ || ::wait4(pid_, &status, 0, &usage) != pid_) return -1;
    reaped_ = true;
    if (late) return -1;
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ChildProgram::Pump(int ms) {
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (out_ < 0 && err_ < 0) return false;
    if (::poll(fds, 2, ms) <= 0) return true;
    for (int i = 0; i < 2; ++i) {
        int& fd = i == 0 ? out_ : err_;
        if (fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        char buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) {
            CloseFd(fd);
            continue;
        }
        (i == 0 ? out : err).append(buf, static_cast<size_t>(n));
    }
    return true;
}

bool ChildProgram::WaitFor(const std::function<bool(const std::string&)>& done, int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!done(out) && Clock::now() < deadline)
        if (!Pump(50)) break;
    return done(out);
}

std::string ChildProgram::ReadLines(int lines, int ms) {
    std::string got;
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (out_ >= 0 && std::count(got.begin(), got.end(), '\n') < lines && Clock::now() < end) {
        pollfd p{out_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char c;
        if (::read(out_, &c, 1) != 1) break;
        got.push_back(c);
    }
    return got;
}

std::string ChildProgram::ReadAll() {
    std::string got;
    char buf[4096];
    for (ssize_t n; out_ >= 0 && (n = ::read(out_, buf, sizeof buf)) > 0;)
        got.append(buf, static_cast<size_t>(n));
    return got;
}

void ChildProgram::CloseStdout() { CloseFd(out_); }

bool ChildProgram::Feed(const std::string& bytes) {
    size_t done = 0;
    while (in_ >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(in_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return done == bytes.size();
}

void ChildProgram::CloseStdin() { CloseFd(in_); }

std::string ChildProgram::Out() const {
    return setup_.outFile.empty() ? out : Slurp(setup_.outFile);
}

std::string ChildProgram::Err() const {
    return setup_.errFile.empty() ? err : Slurp(setup_.errFile);
}

}  // namespace tavrix::test
