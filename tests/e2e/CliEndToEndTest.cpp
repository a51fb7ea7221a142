// The built tavrix-cli against the built tavrix-sim, as an operator would run them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "ChildProgram.h"
#include "StandInInstrument.h"
#include "TestSupport.h"

using tavrix::test::TempDir;

namespace {

struct RunResult {
    int exitCode = -1;
    std::string out, err;
};

// Runs a program with arguments and extra environment; gives up after `timeoutMs`.
RunResult RunProgram(const std::vector<std::string>& args, const std::vector<std::string>& env,
                     int timeoutMs = 20000) {
    tavrix::test::ChildProgram program(args, {env});
    RunResult r;
    r.exitCode = program.Finish(timeoutMs);
    r.out = program.out;
    r.err = program.err;
    return r;
}

// tavrix-sim running in the background for one test.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> extra = {}) {
        int outPipe[2];
        if (pipe(outPipe) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(outPipe[1], 1);
            close(outPipe[0]);
            std::vector<std::string> args = {TAVRIX_SIM_PATH, "--tcp", "0", "--pty"};
            args.insert(args.end(), extra.begin(), extra.end());
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(outPipe[1]);
        out_ = outPipe[0];
        // The first lines say where the simulator listens.
        std::string text;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while ((tcpPort_.empty() || ptyPath_.empty()) &&
               std::chrono::steady_clock::now() < deadline) {
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char buf[256];
            const ssize_t n = read(out_, buf, sizeof buf);
            if (n <= 0) break;
            text.append(buf, static_cast<size_t>(n));
            size_t pos;
            while ((pos = text.find('\n')) != std::string::npos) {
                const std::string line = text.substr(0, pos);
                text.erase(0, pos + 1);
                if (line.rfind("tcp: ", 0) == 0) tcpPort_ = line.substr(5);
                if (line.rfind("pty: ", 0) == 0) ptyPath_ = line.substr(5);
            }
        }
    }
    ~SimProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status;
            waitpid(pid_, &status, 0);
        }
        if (out_ >= 0) close(out_);
    }
    const std::string& TcpPort() const { return tcpPort_; }
    const std::string& PtyPath() const { return ptyPath_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string tcpPort_, ptyPath_;
};

std::string ConfigEnv(const TempDir& dir) {
    return "TAVRIX_CONFIG_DIR=" + dir.Str();
}

}  // namespace

TEST(CliEndToEnd, IdentifiesTheSimulatorOverTcpAndOverThePty) {
    SimProcess sim({"--model", "29"});
    ASSERT_FALSE(sim.TcpPort().empty());
    ASSERT_FALSE(sim.PtyPath().empty());
    TempDir config;
    for (const auto& transport :
         {std::vector<std::string>{"--lan", "127.0.0.1:" + sim.TcpPort()},
          std::vector<std::string>{"--serial", sim.PtyPath(), "--baud", "9600"}}) {
        std::vector<std::string> args = {TAVRIX_CLI_PATH};
        args.insert(args.end(), transport.begin(), transport.end());
        args.push_back("identify");
        const auto r = RunProgram(args, {ConfigEnv(config)});
        SCOPED_TRACE(transport[0]);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find("model: "), std::string::npos);
        EXPECT_NE(r.out.find("model code: 29\n"), std::string::npos);
        EXPECT_NE(r.out.find("family: 1\n"), std::string::npos);
        EXPECT_NE(r.out.find("inputs: 8\n"), std::string::npos);
        EXPECT_NE(r.out.find("loops: 0\n"), std::string::npos);
    }
    // Explicit transports never change the stored settings.
    EXPECT_FALSE(std::filesystem::exists(config.Path() / "Tavrix.INI"));
}

TEST(CliEndToEnd, QueriesCommandsAndTablesOverTcp) {
    SimProcess sim;
    TempDir config;
    const std::string lan = "127.0.0.1:" + sim.TcpPort();
    auto r = RunProgram({TAVRIX_CLI_PATH, "--lan", lan, "command", "INP B:NAME Cold plate"},
                        {ConfigEnv(config)});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    r = RunProgram({TAVRIX_CLI_PATH, "--lan", lan, "query", "INP B:NAME?"}, {ConfigEnv(config)});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Cold plate\n");
    r = RunProgram({TAVRIX_CLI_PATH, "--lan", lan, "table", "--lines", "10", "CALC? 1"},
                   {ConfigEnv(config)});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.substr(r.out.size() - 2), ";\n");
}

TEST(CliEndToEnd, TheStoredSettingsChooseTheTransportWhenNoOptionIsGiven) {
    SimProcess sim({"--model", "31"});
    TempDir config;
    {
        std::FILE* f = std::fopen((config.Path() / "Tavrix.INI").c_str(), "w");
        std::fprintf(f,
                     "[CommunicationSetup]\nPortType=0\nCommPort=2\nBaudrate=4\n"
                     "[SerialDevices]\nCOM3=%s\n",
                     sim.PtyPath().c_str());
        std::fclose(f);
    }
    const auto r = RunProgram({TAVRIX_CLI_PATH, "identify"}, {ConfigEnv(config)});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("model code: 31\n"), std::string::npos);
}

TEST(CliEndToEnd, TheEmbeddedSimulatorNeedsNothingElse) {
    TempDir config;
    auto r = RunProgram({TAVRIX_CLI_PATH, "--sim", "identify"}, {ConfigEnv(config)});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("model code: 28\n"), std::string::npos);
    EXPECT_NE(r.out.find("status: Connected\n"), std::string::npos);
    r = RunProgram({TAVRIX_CLI_PATH, "--sim=32", "--sim-transport", "lan", "query", "SYST:IDEF?"},
                   {ConfigEnv(config)});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("32,", 0), 0u);
}

TEST(CliEndToEnd, FailuresExitNonZeroWithAClearMessage) {
    TempDir config;
    const std::vector<std::string> env = {ConfigEnv(config)};
    auto r = RunProgram({TAVRIX_CLI_PATH, "--lan", "127.0.0.1:1", "identify"}, env);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("Failed to connect to server."), std::string::npos);
    // Nothing was learnt: no counts of the placeholder row.
    EXPECT_EQ(r.out.find("inputs:"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("model code:"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("status: Error\n"), std::string::npos) << r.out;

    r = RunProgram({TAVRIX_CLI_PATH, "--sim", "query", "INP A:TEMP"}, env);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("not a query"), std::string::npos);

    r = RunProgram({TAVRIX_CLI_PATH, "--sim", "command", std::string(101, 'X')}, env);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("longer than 100"), std::string::npos);

    r = RunProgram({TAVRIX_CLI_PATH, "--serial", "/nonexistent/tty", "identify"}, env);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("/nonexistent/tty"), std::string::npos);

    r = RunProgram({TAVRIX_CLI_PATH, "--baud", "12345", "--sim", "identify"}, env);
    EXPECT_NE(r.exitCode, 0);

    // Nothing can reach an instrument: a command must not pass for sent.
    r = RunProgram({TAVRIX_CLI_PATH, "--gpib", "12", "command", "SETP 1,100"},
                   {ConfigEnv(config), "TAVRIX_GPIB_LIBRARY=/nonexistent/libgpib.so"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("/nonexistent/libgpib.so"), std::string::npos) << r.err;
    {
        TempDir stored;
        std::FILE* f = std::fopen((stored.Path() / "Tavrix.INI").c_str(), "w");
        std::fprintf(f,
                     "[CommunicationSetup]\nPortType=0\nCommPort=0\n"
                     "[SerialDevices]\nCOM1=/nonexistent/tty\n");
        std::fclose(f);
        r = RunProgram({TAVRIX_CLI_PATH, "command", "SETP 1,100"}, {ConfigEnv(stored)});
        EXPECT_NE(r.exitCode, 0);
        EXPECT_NE(r.err.find("/nonexistent/tty"), std::string::npos) << r.err;
    }

    r = RunProgram({TAVRIX_CLI_PATH, "table", "--help"}, env);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("--lines"), std::string::npos);
}

namespace {
std::string CurveData(const std::string& name) {
    return std::string(TAVRIX_TEST_DATA_DIR) + "/curves/" + name;
}
}  // namespace

TEST(CliCurves, FileCommandsNeedNoInstrument) {
    TempDir config;
    auto r = RunProgram({TAVRIX_CLI_PATH, "curve", "read", CurveData("one_bad_line.crv")},
                        {ConfigEnv(config)});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("result: 4\n"), std::string::npos);
    EXPECT_NE(r.out.find("1.600000 4.000000\n1.200000 0.000000   **ERROR**\n"), std::string::npos)
        << r.out;
    r = RunProgram({TAVRIX_CLI_PATH, "curve", "check", CurveData("check_line3.crv")},
                   {ConfigEnv(config)});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "points: 3\nheader lines: 2\n");
    r = RunProgram({TAVRIX_CLI_PATH, "curve", "check", CurveData("check_negative.crv")},
                   {ConfigEnv(config)});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("File Syntax Error"), std::string::npos);

    const std::string out = config.Str() + "/conv.crv";
    r = RunProgram({TAVRIX_CLI_PATH, "curve", "convert", CurveData("dt470.340"), out, "--unit",
                    "mVolts", "--type", "acr"},
                   {ConfigEnv(config)});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Converted Sensor Curve saved\r\n");
    r = RunProgram({TAVRIX_CLI_PATH, "curve", "read", out}, {ConfigEnv(config)});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("type: acr\nmultiplier: -1.000000\nunit: mVolts\n"), std::string::npos)
        << r.out;
}

TEST(CliCurves, DownloadAndUploadThroughTheSimulatorOverTcp) {
    SimProcess sim({"--ack"});
    TempDir config;
    const std::vector<std::string> lan = {TAVRIX_CLI_PATH, "--lan", "127.0.0.1:" + sim.TcpPort(),
                                          "--lan-ack"};
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), lan.begin(), lan.end());
        return RunProgram(args, {ConfigEnv(config)});
    };
    auto r = run(
        {"curve", "download", CurveData("descending.crv"), "--user-curve", "5", "--name", "E2E"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("E2E\n"), std::string::npos);
    EXPECT_NE(r.out.find("User Curve 5 is downloaded from "), std::string::npos);
    const std::string up = config.Str() + "/up.crv";
    r = run({"curve", "upload", "--user-curve", "5", up});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = RunProgram({TAVRIX_CLI_PATH, "curve", "read", up}, {ConfigEnv(config)});
    EXPECT_NE(r.out.find("name: E2E\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("points: 4\n0.500000 300.000000\n"), std::string::npos) << r.out;

    const std::string pid = config.Str() + "/t.pid";
    EXPECT_EQ(run({"pid", "download", CurveData("table16.pid"), "--table", "2"}).exitCode, 0);
    r = run({"pid", "upload", "--table", "2", pid});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("PID Table 2 is uploaded to " + pid), std::string::npos);

    // Refused lines are marked and the run fails with the error box text.
    EXPECT_EQ(run({"command", "SIM:FAULT REFUSETABLE 1"}).exitCode, 0);
    r = run({"curve", "download", CurveData("descending.crv"), "--user-curve", "1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("0.500000     300.000000 **ERROR**\n"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("Error detected. Please check"), std::string::npos) << r.err;
    // A PID file that fails its check sends nothing and exits non-zero.
    r = run({"pid", "download", CurveData("table17.pid"), "--table", "2"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("More than 16 entries"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// Downloads whose failure must show as a failure: exit status, messages, and the bytes that
// reached a stand-in instrument.

namespace {

using tavrix::test::PtyInstrument;
using tavrix::test::StandInAnswer;
using tavrix::test::StandInInstrument;

// A stand-in over TCP that acknowledges lines and hangs up when `hangUpAt` says so. It counts
// the lines of a table, so that the count read back after ";" is the one an instrument gives.
StandInInstrument::Script StandIn(std::function<bool(const std::string&)> hangUpAt) {
    struct Table {
        int header = 0, lines = -1, count = 0;  // lines: since "CALC"/"PIDT", -1 when none is open
    };
    auto t = std::make_shared<Table>();
    return [hangUpAt, t](const std::string& line, int) -> std::optional<StandInAnswer> {
        if (hangUpAt && hangUpAt(line)) return StandInAnswer{.hangUp = true};
        if (line.rfind("SENSORIX?", 0) == 0) return tavrix::test::Acknowledged(line, "NAME");
        if (line == "*IDN?") return tavrix::test::Acknowledged(line, "Orvella Model 28,1,1.0");
        if (line.find("NENT") != std::string::npos)
            return tavrix::test::Acknowledged(line, std::to_string(t->count));
        if (line.rfind("CALC ", 0) == 0 || line.rfind("PIDT ", 0) == 0) {
            *t = {line[0] == 'C' ? 4 : 1, 0, 0};
        } else if (line == ";" && t->lines >= 0) {
            t->count = t->lines - t->header;
            t->lines = -1;
        } else if (t->lines >= 0) {
            ++t->lines;
        }
        return tavrix::test::Acknowledged(line);
    };
}

std::vector<std::string> From(const std::vector<std::string>& lines, const std::string& start) {
    return {std::find(lines.begin(), lines.end(), start), lines.end()};
}

bool Says(const RunResult& r, const std::string& text) {
    return r.out.find(text) != std::string::npos || r.err.find(text) != std::string::npos;
}

}  // namespace

TEST(CliDownloads, ALostConnectionEndsTheTransferWithAFailure) {
    TempDir config;
    {
        StandInInstrument instrument(
            StandInInstrument::Wire::Tcp,
            StandIn([](const std::string& l) { return l == "1.000000     100.000000"; }));
        const auto r =
            RunProgram({TAVRIX_CLI_PATH, "--lan", "127.0.0.1:" + std::to_string(instrument.Port()),
                        "--lan-ack", "curve", "download", CurveData("descending.crv"),
                        "--user-curve", "4", "--name", "LOST"},
                       {ConfigEnv(config)});
        EXPECT_NE(r.exitCode, 0);
        EXPECT_FALSE(Says(r, "Download Complete")) << r.err;
        EXPECT_NE(r.err.find("Communication Error"), std::string::npos) << r.err;
        EXPECT_NE(r.out.find("User Curve 4 is not downloaded: the link failed at line 7 of 10"),
                  std::string::npos)
            << r.out;
        const std::vector<std::string> sent = {"CALC 4",
                                               "LOST",
                                               "Diode",
                                               "1.000000",
                                               "mVolts",
                                               "0.500000     300.000000",
                                               "1.000000     100.000000"};
        EXPECT_EQ(From(instrument.Lines(), "CALC 4"), sent);
    }
    {
        StandInInstrument instrument(
            StandInInstrument::Wire::Tcp,
            StandIn([](const std::string& l) { return l.rfind("40.0", 0) == 0; }));
        const auto r =
            RunProgram({TAVRIX_CLI_PATH, "--lan", "127.0.0.1:" + std::to_string(instrument.Port()),
                        "--lan-ack", "pid", "download", CurveData("table3.pid"), "--table", "3"},
                       {ConfigEnv(config)});
        EXPECT_NE(r.exitCode, 0);
        EXPECT_FALSE(Says(r, "Download Complete")) << r.err;
        EXPECT_EQ(From(instrument.Lines(), "PIDT 3:table").size(), 4u);  // up to the lost entry
    }
}

TEST(CliDownloads, HeaderTextThatCannotBeSentIsRefusedBeforeAnythingIsSent) {
    TempDir config;
    // The name line ";" would end the table early and run the type line, a setpoint change.
    const std::string semi = config.Str() + "/semi.crv";
    {
        std::FILE* f = std::fopen(semi.c_str(), "wb");
        std::fputs(
            ";\r\nSETP 1,100\r\n1.0\r\nVolts\r\n0.5 300\r\n1.0 100\r\n1.2 40\r\n1.6 4\r\n;\r\n", f);
        std::fclose(f);
    }
    StandInInstrument instrument(StandInInstrument::Wire::Tcp, StandIn(nullptr));
    const std::vector<std::string> lan = {
        TAVRIX_CLI_PATH, "--lan", "127.0.0.1:" + std::to_string(instrument.Port()), "--lan-ack"};
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), lan.begin(), lan.end());
        return RunProgram(args, {ConfigEnv(config)});
    };
    auto r = run({"curve", "download", semi, "--user-curve", "1"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("Sensor Name cannot be sent to the instrument: it holds \";\""),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("--name"), std::string::npos) << r.err;
    EXPECT_FALSE(Says(r, "Download Complete"));
    r = run({"curve", "download", CurveData("descending.crv"), "--user-curve", "1", "--type",
             std::string("Diode\x1bX")});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("Sensor Type cannot be sent"), std::string::npos) << r.err;
    const std::string pid = config.Str() + "/semi.pid";
    {
        std::FILE* f = std::fopen(pid.c_str(), "wb");
        std::fputs("Title\n10.0 50.0 20.0 0.0 LOW;SETP 1,0\n;\n", f);
        std::fclose(f);
    }
    r = run({"pid", "download", pid, "--table", "1"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("The PID table entry on line 2 cannot be sent"), std::string::npos)
        << r.err;
    EXPECT_TRUE(instrument.Lines().empty());  // nothing at all reached the instrument

    // Mended with the option, the same file goes out whole.
    r = run({"curve", "download", semi, "--user-curve", "1", "--name", "Mended"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(From(instrument.Lines(), "CALC 1"),
              (std::vector<std::string>{"CALC 1", "Mended", "SETP 1,100", "1.000000", "Volts",
                                        "0.500000     300.000000", "1.000000     100.000000",
                                        "1.200000     40.000000", "1.600000     4.000000", ";",
                                        "SENSORIX 61:NENTRY?"}));
}

TEST(CliDownloads, AShortPidTitleArrivesAsTheTitleWithEveryEntry) {
    TempDir config;
    const std::string pid = config.Str() + "/short.pid";
    {
        std::FILE* f = std::fopen(pid.c_str(), "wb");
        std::fputs("T\n\n10.0 50.0 20.0 0.0 LOW\n40.0 80.0 15.0 0.0 MID\n;\n", f);
        std::fclose(f);
    }
    StandInInstrument instrument(StandInInstrument::Wire::Tcp, StandIn(nullptr));
    const auto r =
        RunProgram({TAVRIX_CLI_PATH, "--lan", "127.0.0.1:" + std::to_string(instrument.Port()),
                    "--lan-ack", "pid", "download", pid, "--table", "2"},
                   {ConfigEnv(config)});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(From(instrument.Lines(), "PIDT 2:table"),
              (std::vector<std::string>{"PIDT 2:table", "T", "10.0 50.0 20.0 0.0 LOW",
                                        "40.0 80.0 15.0 0.0 MID", ";", "PIDT 2:NENT?"}));
}

TEST(CliDownloads, WithoutAGpibDriverLibraryNothingSaysComplete) {
    TempDir config;
    const std::vector<std::string> env = {ConfigEnv(config),
                                          "TAVRIX_GPIB_LIBRARY=/nonexistent/libgpib.so"};
    auto r = RunProgram({TAVRIX_CLI_PATH, "--gpib", "12", "curve", "download",
                         CurveData("descending.crv"), "--user-curve", "1"},
                        env);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_FALSE(Says(r, "Download Complete"));
    EXPECT_NE(r.err.find("Communication Error"), std::string::npos) << r.err;
    r = RunProgram({TAVRIX_CLI_PATH, "--gpib", "12", "pid", "download", CurveData("table3.pid"),
                    "--table", "1"},
                   env);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_FALSE(Says(r, "Download Complete"));
}

// The other end of the serial line closes in the middle of the points: every later write fails
// with EIO, and the download must say so.
TEST(CliDownloads, ASerialHangUpEndsTheTransferWithAFailure) {
    TempDir config;
    PtyInstrument instrument(
        [](const std::string& line) -> std::optional<std::string> {
            if (line.rfind("SENSORIX?", 0) == 0) return "NAME";
            if (line == "*IDN?") return "Orvella Model 28,1,1.0";
            return std::nullopt;
        },
        "\r\n", 8 + 1 + 1 + 4 + 2);  // names, *IDN?, CALC, header, two points
    const auto r = RunProgram({TAVRIX_CLI_PATH, "--serial", instrument.SlavePath(), "curve",
                               "download", CurveData("descending.crv"), "--user-curve", "1"},
                              {ConfigEnv(config)});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_FALSE(Says(r, "Download Complete")) << r.err;
    EXPECT_NE(r.err.find("Communication Error"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("Please check the followings for RS232 connection:"), std::string::npos);
}

// A damaged store must not stand in the way of a transport given on the command line.
TEST(CliEndToEnd, ExplicitTransportsWorkWhateverTheStoreHolds) {
    SimProcess sim;
    for (const char* stored : {"CommPort=-5\nBaudRate=255\n", "CommPort=255\nPortType=9\n"}) {
        SCOPED_TRACE(stored);
        TempDir config;
        {
            std::FILE* f = std::fopen((config.Path() / "Tavrix.INI").c_str(), "w");
            std::fprintf(f, "[CommunicationSetup]\n%s", stored);
            std::fclose(f);
        }
        auto r = RunProgram({TAVRIX_CLI_PATH, "--sim", "identify"}, {ConfigEnv(config)});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        r = RunProgram({TAVRIX_CLI_PATH, "--serial", sim.PtyPath(), "identify"},
                       {ConfigEnv(config)});
        EXPECT_EQ(r.exitCode, 0) << r.err;
    }
    // A FIFO in place of the store neither hangs the program nor is replaced.
    TempDir fifo;
    ASSERT_EQ(::mkfifo((fifo.Path() / "Tavrix.INI").c_str(), 0600), 0);
    const auto r = RunProgram({TAVRIX_CLI_PATH, "--sim", "identify"}, {ConfigEnv(fifo)}, 10000);
    EXPECT_EQ(r.exitCode, 0) << r.err;
}

// ---------------------------------------------------------------------------------------------
// Calibration from the command line

namespace {
std::string WriteSecretFile(const TempDir& dir, const char* name, const std::string& text) {
    const std::string path = dir.Str() + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fputs(text.c_str(), f);
    std::fclose(f);
    return path;
}
}  // namespace

TEST(CliCalibration, ReadApplyAndPasswordAgainstTheSimulator) {
    SimProcess sim;
    TempDir config;
    const std::string lan = "127.0.0.1:" + sim.TcpPort();
    const std::string pw = WriteSecretFile(config, "pw", "CALIB\n");
    auto cli = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {TAVRIX_CLI_PATH, "--lan", lan, "calibration"});
        return RunProgram(args, {ConfigEnv(config)});
    };

    // Input B is set to Celsius beforehand; the retrieval works in sensor units.
    ASSERT_EQ(
        RunProgram({TAVRIX_CLI_PATH, "--lan", lan, "command", "INP B:UNIT C"}, {ConfigEnv(config)})
            .exitCode,
        0);
    auto query = [&](const std::string& q) {
        return RunProgram({TAVRIX_CLI_PATH, "--lan", lan, "query", q}, {ConfigEnv(config)}).out;
    };
    const std::string inputsBefore = query("INP A:UNIT?;ISENIX?;VBIAS?;BRANGE?") +
                                     query("INP B:UNIT?;ISENIX?;VBIAS?;BRANGE?") +
                                     query("INST D:TYPE?");
    auto r = cli({"--password-file", pw, "read"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // Each input is as it was, unit and all.
    EXPECT_EQ(query("INP A:UNIT?;ISENIX?;VBIAS?;BRANGE?") +
                  query("INP B:UNIT?;ISENIX?;VBIAS?;BRANGE?") + query("INST D:TYPE?"),
              inputsBefore);
    EXPECT_EQ(inputsBefore.substr(0, 2), "K;");
    EXPECT_NE(inputsBefore.find("\nC;"), std::string::npos) << inputsBefore;
    std::vector<std::string> lines;
    for (size_t a = 0, b; (b = r.out.find('\n', a)) != std::string::npos; a = b + 1)
        lines.push_back(r.out.substr(a, b - a));
    ASSERT_EQ(lines.size(), 40u);
    EXPECT_EQ(lines[0].rfind("1\tSi Diode V\tA\t", 0), 0u) << lines[0];
    EXPECT_EQ(lines[39].rfind("10\t10ohm C-V AC\tD\t", 0), 0u) << lines[39];
    double g = 0, o = 0;
    char letter = 0;
    EXPECT_EQ(std::sscanf(lines[21].c_str(), "6\t10uA DC\t%c\t%lf\t%lf", &letter, &g, &o), 3)
        << lines[21];
    EXPECT_EQ(letter, 'B');
    EXPECT_EQ(lines[21].substr(lines[21].rfind('\t') + 1).size(),
              std::string("0.0000000").size() + (o < 0 ? 1 : 0));

    r = cli({"--password-file", pw, "apply", "--step", "3", "--channel", "b", "--gain", "1.05",
             "--offset", "-0.25"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "3\t1mA AC\tB\t1.050000\t-0.250000\n");  // as sent
    EXPECT_EQ(query("INP B:UNIT?"), "C\n");
    r = cli({"--password-file", pw, "read"});
    EXPECT_NE(r.out.find("\n3\t1mA AC\tB\t1.0500000\t-0.2500000\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n" + lines[8] + "\n"), std::string::npos) << lines[8];  // A unchanged

    struct Refused {
        std::vector<std::string> args;
        const char* said;
    } refused[] = {
        {{"--password-file", pw, "apply", "--step", "3", "--channel", "A", "--gain", "1.25",
          "--offset", "0"},
         "Enter a number between 0.9 and 1.2."},
        {{"--password-file", pw, "apply", "--step", "11", "--channel", "A", "--gain", "1",
          "--offset", "0"},
         "--step must be 1 to 10"},
        {{"--password-file", pw, "apply", "--step", "1", "--channel", "E", "--gain", "1",
          "--offset", "0"},
         "channels A to D"},
        {{"--password-file", config.Str() + "/missing", "read"}, "cannot read the password file"},
    };
    for (const Refused& c : refused) {
        r = cli(c.args);
        EXPECT_EQ(r.exitCode, 1) << c.said;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    }
    // The password is never an option's value.
    r = cli({"--password", "CALIB", "read"});
    EXPECT_NE(r.exitCode, 0);

    // A new password: lower case is pointed out and sent in upper case; the old one stops working.
    const std::string next = WriteSecretFile(config, "next", "s3cret\ns3cret\n");
    r = cli({"--password-file", pw, "password", "--new-password-file", next});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("The calibration password must be in uppercase."), std::string::npos);
    r = cli({"--password-file", pw, "read"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Failed to verify calibration password"), std::string::npos);
    EXPECT_EQ(r.out, "");
    const std::string upper = WriteSecretFile(config, "upper", "S3CRET");  // no line end
    r = cli({"--password-file", upper, "read"});
    EXPECT_EQ(r.exitCode, 0) << r.err;

    const std::string mismatch = WriteSecretFile(config, "mismatch", "ONE\nTWO\n");
    r = cli({"--password-file", upper, "password", "--new-password-file", mismatch});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("New and re-typed passwords do not match"), std::string::npos);
    for (const std::string secret : {"S3CRET", "s3cret", "ONE", "TWO", "CALIB"})
        EXPECT_EQ(r.err.find(secret), std::string::npos) << secret;

    // A model without a step table.
    SimProcess monitor({"--model", "32"});
    r = RunProgram({TAVRIX_CLI_PATH, "--lan", "127.0.0.1:" + monitor.TcpPort(), "calibration",
                    "--password-file", pw, "read"},
                   {ConfigEnv(config)});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("no calibration steps"), std::string::npos) << r.err;
}
