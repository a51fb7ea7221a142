// A program the test runs as a child process: its output in files or pipes, its standard input
// from a pipe or /dev/null, its end waited for with a bound.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace tavrix::test {

class ChildProgram {
public:
    struct Setup {
        std::vector<std::string> env;  // "NAME=value", added to the test's environment
        std::string workDir;           // the folder it starts in ("" = the test's)
        std::string outFile, errFile;  // output into these files; "" = into a pipe
        bool feedStdin = false;        // standard input from a pipe (Feed), else /dev/null
    };

    ChildProgram(std::vector<std::string> argv, Setup setup);
    // A program still running is killed (SIGKILL) and reaped.
    ~ChildProgram();
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    pid_t Pid() const { return pid_; }
    void Signal(int sig) const;
    // The exit code, -1 when a signal ended it, -2 when it has not ended within `ms`. The
    // output pipes are not read meanwhile: a program may block on a pipe the test leaves.
    int Wait(int ms);
    // Reads both output pipes until they close, then reaps: the exit code, or 128 + the
    // signal that ended it; -1 when `ms` passed (the program is then killed).
    int Finish(int ms);
    // Reads what the pipes hold into out and err, waiting up to `ms`; false once both closed.
    bool Pump(int ms);
    // Pumps until `done` holds for out, the pipes close or `ms` passes; whether `done` held.
    bool WaitFor(const std::function<bool(const std::string&)>& done, int ms);

    // Standard output's pipe read directly (not into out): until `lines` line feeds came or
    // `ms` passed, or to its end.
    std::string ReadLines(int lines, int ms);
    std::string ReadAll();
    void CloseStdout();
    // Writes to standard input; false once the program stopped reading.
    bool Feed(const std::string& bytes);
    void CloseStdin();

    // The output so far: the file's content, or what Pump() has read from the pipe.
    std::string Out() const;
    std::string Err() const;

    std::string out, err;
    rusage usage{};

private:
    Setup setup_;
    pid_t pid_ = -1;
    int out_ = -1, err_ = -1, in_ = -1;
    bool reaped_ = false;
};

}  // namespace tavrix::test
