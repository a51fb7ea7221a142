// Two copies of tavrix-cli on one serial device or one data log file, and files that are no
// files: the second owner is refused with who holds it, odd files are refused without waiting.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "ChildProgram.h"
#include "StandInInstrument.h"
#include "TestSupport.h"
#include "base/FileSafety.h"

using tavrix::test::ChildProgram;
using tavrix::test::CrLfLines;
using tavrix::test::StandInAnswer;
using tavrix::test::StandInInstrument;
using tavrix::test::Slurp;
using tavrix::test::TempDir;
using namespace std::chrono;

namespace {

// Generous: the machine may be loaded; a program that waits on a file never ends at all.
constexpr int kEndsWithinMs = 15000;

// tavrix-cli in the background; its standard input is a pipe the test writes and closes.
class Cli : public ChildProgram {
public:
    Cli(const TempDir& dir, const std::string& tag, std::vector<std::string> args)
        : ChildProgram(Program(std::move(args)), {{"TAVRIX_CONFIG_DIR=" + dir.Str() + "/config"},
                                                  "",
                                                  dir.Str() + "/" + tag + ".out",
                                                  dir.Str() + "/" + tag + ".err",
                                                  true}) {}
    int Wait(int ms = kEndsWithinMs) { return ChildProgram::Wait(ms); }

private:
    static std::vector<std::string> Program(std::vector<std::string> args) {
        args.insert(args.begin(), TAVRIX_CLI_PATH);
        return args;
    }
};

bool WaitUntil(const std::function<bool()>& done, int ms = kEndsWithinMs) {
    const auto deadline = steady_clock::now() + milliseconds(ms);
    while (steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(milliseconds(20));
    }
    return done();
}

// "Device busy: PATH is in use by process PID (tavrix-cli)".
std::string BusyText(const std::string& device, pid_t holder) {
    return "Device busy: " + device + " is in use by process " + std::to_string(holder) +
           " (tavrix-cli)";
}

// One copy holds the port in `terminal`; a second is refused naming it; once the first has
// gone (by its own end, or killed), the port opens again.
void CheckOneOwner(const std::string& device, bool alsoKill) {
    TempDir dir;
    Cli first(dir, "first", {"--serial", device, "terminal"});
    first.Feed("*IDN?\n");
    ASSERT_TRUE(WaitUntil([&] { return first.Out().find("response:") != std::string::npos; }))
        << first.Err();

    Cli second(dir, "second", {"--serial", device, "query", "*IDN?"});
    EXPECT_EQ(second.Wait(), 1);
    EXPECT_NE(second.Err().find(BusyText(device, first.Pid())), std::string::npos) << second.Err();
    EXPECT_EQ(second.Out(), "");

    first.CloseStdin();
    EXPECT_EQ(first.Wait(), 0) << first.Err();
    Cli third(dir, "third", {"--serial", device, "query", "*IDN?"});
    EXPECT_EQ(third.Wait(), 0) << third.Err();
    EXPECT_NE(third.Out().find("Model"), std::string::npos);

    if (!alsoKill) return;
    // A crash gives the port up too: the lock goes with the process.
    Cli crashing(dir, "crashing", {"--serial", device, "terminal"});
    crashing.Feed("*IDN?\n");
    ASSERT_TRUE(WaitUntil([&] { return crashing.Out().find("response:") != std::string::npos; }));
    crashing.Signal(SIGKILL);
    EXPECT_EQ(crashing.Wait(), -1);
    Cli after(dir, "after", {"--serial", device, "query", "*IDN?"});
    EXPECT_EQ(after.Wait(), 0) << after.Err();
}

const std::regex kRow(R"(\d{1,2}:\d{1,2}:\d{1,2},[-0-9.]+,[-0-9.]+)");

int CountRows(const std::vector<std::string>& lines) {
    int n = 0;
    for (const auto& l : lines)
        if (std::regex_match(l, kRow)) ++n;
    return n;
}

}  // namespace

TEST(OneOwner, TheSimulatorsPseudoTerminalServesOneProcessAtATime) {
    TempDir dir;
    // The simulator runs as its own program, its pty path on its standard output.
    const std::string out = dir.Str() + "/tavrix-sim.out";
    const pid_t pid = fork();
    if (pid == 0) {
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(o, 1);
        execl(TAVRIX_SIM_PATH, TAVRIX_SIM_PATH, "--pty", static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string device;
    WaitUntil([&] {
        std::smatch m;
        const std::string text = Slurp(out);
        if (std::regex_search(text, m, std::regex(R"(pty: (\S+))"))) device = m[1];
        return !device.empty();
    });
    ASSERT_FALSE(device.empty());
    CheckOneOwner(device, false);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

TEST(OneOwner, AStandInsPseudoTerminalServesOneProcessAtATimeAndIsFreedByACrash) {
    StandInInstrument instrument(StandInInstrument::Wire::Pty,
                                 [](const std::string& line, int) -> std::optional<StandInAnswer> {
                                     if (line == "*IDN?")
                                         return StandInAnswer{"Stand-in,Model 1,0,1.0\r\n"};
                                     return std::nullopt;
                                 });
    CheckOneOwner(instrument.SlavePath(), true);
}

TEST(OneOwner, ASecondLoggingRunOnTheSameFileIsRefusedWithoutTouchingIt) {
    TempDir dir;
    const std::string file = dir.Str() + "/shared.csv";
    const std::vector<std::string> args = {"--sim=28",   "log", "--sources", "A,B",
                                           "--interval", "0.1", "--out",     file};
    Cli first(dir, "first", args);
    ASSERT_TRUE(WaitUntil([&] { return CountRows(CrLfLines(file)) >= 3; })) << first.Err();

    Cli second(dir, "second", args);
    EXPECT_EQ(second.Wait(), 1);
    EXPECT_NE(second.Err().find("The data log file " + file + " is being written by process " +
                                std::to_string(first.Pid()) + " (tavrix-cli)"),
              std::string::npos)
        << second.Err();

    // The first run's file is whole: one header, its rows, its closing lines.
    std::this_thread::sleep_for(milliseconds(500));
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(), 0) << first.Err();
    const auto lines = CrLfLines(file);
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(lines[0].rfind("INP A name:", 0), 0u);
    int started = 0;
    for (const auto& l : lines) started += l.rfind("Data logging started at", 0) == 0;
    EXPECT_EQ(started, 1);
    EXPECT_EQ(lines[lines.size() - 2], "Number of entries = " + std::to_string(CountRows(lines)));

    // Once the first run has ended the file is free again.
    std::vector<std::string> again = args;
    again.insert(again.end(), {"--count", "2"});
    Cli third(dir, "third", again);
    EXPECT_EQ(third.Wait(), 0) << third.Err();
}

TEST(OneOwner, AFifoOrADeviceAsOutputOrPasswordFileIsRefusedAtOnce) {
    TempDir dir;
    const std::string fifo = dir.Str() + "/out.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    Cli log(
        dir, "log",
        {"--sim=28", "log", "--sources", "A", "--interval", "0.1", "--count", "2", "--out", fifo});
    const int logCode = log.Wait();
    EXPECT_NE(logCode, -2);
    EXPECT_NE(logCode, 0);
    EXPECT_NE(log.Err().find(fifo + ": not a regular file (a FIFO)"), std::string::npos)
        << log.Err();

    const std::vector<std::pair<std::string, std::string>> passwordFiles = {
        {fifo, "not a regular file (a FIFO)"},
        {"/dev/zero", "not a regular file (a character device)"}};
    for (const auto& [path, why] : passwordFiles) {
        Cli cal(dir, "cal", {"--sim=28", "calibration", "--password-file", path, "read"});
        const int code = cal.Wait();
        EXPECT_NE(code, -2) << path;
        EXPECT_NE(code, 0) << path;
        EXPECT_NE(cal.Err().find("cannot read the password file " + path + ": " + why),
                  std::string::npos)
            << cal.Err();
    }
    // The FIFO is still there, unopened by anyone.
    struct stat st {};
    ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}
