// tavrix-cli's logging, monitor and internal-log commands run as an operator runs them.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
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

using tavrix::test::ChildProgram;
using tavrix::test::CrLfLines;
using tavrix::test::Slurp;
using tavrix::test::TempDir;
using namespace std::chrono;

namespace {

// A program in the background with the scratch folder's settings, its output in files there.
class Child : public ChildProgram {
public:
    Child(const TempDir& dir, const std::string& tag, std::vector<std::string> args)
        : ChildProgram(std::move(args), {{"TAVRIX_CONFIG_DIR=" + dir.Str()},
                                         "",
                                         dir.Str() + "/" + tag + ".out",
                                         dir.Str() + "/" + tag + ".err"}) {}
};

// The TCP port a started tavrix-sim announces ("" when it says none within 2 s).
std::string SimTcpPort(const Child& sim) {
    for (int i = 0; i < 100; ++i) {
        std::smatch m;
        const std::string out = sim.Out();
        if (std::regex_search(out, m, std::regex(R"(tcp: (\d+))"))) return m[1];
        std::this_thread::sleep_for(milliseconds(20));
    }
    return {};
}

const std::regex kRow(R"(\d{1,2}:\d{1,2}:\d{1,2},[-0-9.]+,[-0-9.]+,[-0-9.]+,[0-3])");

int CountRows(const std::vector<std::string>& lines) {
    int n = 0;
    for (const auto& l : lines)
        if (std::regex_match(l, kRow)) ++n;
    return n;
}

std::vector<std::string> SplitLf(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t p; (p = text.find('\n', start)) != std::string::npos; start = p + 1)
        out.push_back(text.substr(start, p - start));
    return out;
}

std::vector<std::string> LogArgs(const std::string& out, std::vector<std::string> transport) {
    std::vector<std::string> args = {TAVRIX_CLI_PATH};
    args.insert(args.end(), transport.begin(), transport.end());
    for (const char* a : {"log", "--sources", "A,B,heater1", "--interval", "0.1", "--out"})
        args.push_back(a);
    args.push_back(out);
    return args;
}

int FreePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    ::close(s);
    return ntohs(a.sin_port);
}

// The body of GET /metrics on 127.0.0.1:port ("" when it cannot be had).
std::string MetricsText(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    std::string text;
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const std::string req = "GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        if (::write(s, req.data(), req.size()) == static_cast<ssize_t>(req.size())) {
            char buf[4096];
            for (ssize_t got; (got = ::read(s, buf, sizeof buf)) > 0;)
                text.append(buf, static_cast<size_t>(got));
        }
    }
    ::close(s);
    return text;
}

}  // namespace

TEST(CliLogging, AKilledRunLeavesOnlyWholeRowsAsManyAsItReported) {
    TempDir dir;
    const std::string file = dir.Str() + "/kill.csv";
    Child cli(dir, "cli", LogArgs(file, {"--sim=28"}));
    std::this_thread::sleep_for(milliseconds(2500));
    cli.Signal(SIGKILL);
    EXPECT_EQ(cli.Wait(5000), -1);
    const std::string bytes = Slurp(file);
    ASSERT_FALSE(bytes.empty());
    // Every line ends in CR LF: nothing half written.
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    const auto lines = CrLfLines(file);
    for (size_t i = 6; i < lines.size(); ++i)
        EXPECT_TRUE(std::regex_match(lines[i], kRow)) << lines[i];
    const int onDisk = CountRows(lines);
    const int reported = CountRows(SplitLf(cli.Out()));
    EXPECT_GT(reported, 5);
    // A row reaches the disk before it is reported; the one in flight may be on disk unreported.
    EXPECT_TRUE(onDisk == reported || onDisk == reported + 1) << onDisk << " " << reported;
}

TEST(CliLogging, SigintAndSigtermEndTheRunWithItsClosingLines) {
    for (int sig : {SIGINT, SIGTERM}) {
        TempDir dir;
        const std::string file = dir.Str() + "/run.csv";
        Child cli(dir, "cli", LogArgs(file, {"--sim=28"}));
        std::this_thread::sleep_for(milliseconds(1200));
        cli.Signal(sig);
        EXPECT_EQ(cli.Wait(5000), 0) << cli.Err();
        const auto lines = CrLfLines(file);
        ASSERT_GE(lines.size(), 8u);
        const int rows = CountRows(lines);
        EXPECT_GT(rows, 3);
        EXPECT_EQ(lines[lines.size() - 2], "Number of entries = " + std::to_string(rows));
        EXPECT_EQ(lines.back().rfind("Data logging terminated at ", 0), 0u);
        EXPECT_EQ(lines.back().back(), ' ');
    }
}

TEST(CliLogging, ASourceTheModelLacksIsRefusedBeforeTheRun) {
    TempDir dir;
    const std::string file = dir.Str() + "/none.csv";
    Child cli(dir, "cli",
              {TAVRIX_CLI_PATH, "--sim=31", "log", "--sources", "A,heater1", "--interval", "1",
               "--out", file});
    EXPECT_EQ(cli.Wait(10000), 1);
    EXPECT_NE(cli.Err().find("source heater1 is not available"), std::string::npos) << cli.Err();
    EXPECT_FALSE(std::filesystem::exists(file));
    Child bad(
        dir, "bad",
        {TAVRIX_CLI_PATH, "--sim=28", "log", "--sources", "A,Z", "--interval", "1", "--out", file});
    EXPECT_EQ(bad.Wait(10000), 1);
    EXPECT_NE(bad.Err().find("unknown source \"Z\""), std::string::npos);
}

TEST(CliLogging, ALostInstrumentEndsTheRunWithItsClosingLinesAndFails) {
    TempDir dir;
    Child sim(dir, "sim", {TAVRIX_SIM_PATH, "--tcp", "0"});
    const std::string port = SimTcpPort(sim);
    ASSERT_FALSE(port.empty());
    const std::string file = dir.Str() + "/lost.csv";
    Child cli(dir, "cli", LogArgs(file, {"--lan", "127.0.0.1:" + port}));
    std::this_thread::sleep_for(milliseconds(1500));
    sim.Signal(SIGKILL);
    EXPECT_EQ(cli.Wait(30000), 1) << cli.Err();
    EXPECT_NE(cli.Err().find("Communication Error"), std::string::npos);
    const auto lines = CrLfLines(file);
    ASSERT_GE(lines.size(), 3u);
    const int rows = CountRows(lines);
    EXPECT_GT(rows, 0);
    EXPECT_EQ(lines[lines.size() - 3], "Number of entries = " + std::to_string(rows));
    EXPECT_EQ(lines[lines.size() - 2].rfind("Data logging terminated at ", 0), 0u);
    EXPECT_EQ(lines.back(), "Exit due to Communication Error.");
}

TEST(CliLogging, ACountedRunThatEndsCleanlyExitsZeroEveryTime) {
    TempDir dir;
    Child sim(dir, "sim", {TAVRIX_SIM_PATH, "--tcp", "0"});
    const std::string port = SimTcpPort(sim);
    ASSERT_FALSE(port.empty());
    // The run closes as its last row is written: a main loop that looked at that moment once
    // took the closed run for a failed one.
    for (int run = 0; run < 12; ++run) {
        const std::string file = dir.Str() + "/count" + std::to_string(run) + ".csv";
        Child cli(dir, "cli" + std::to_string(run),
                  {TAVRIX_CLI_PATH, "--lan", "127.0.0.1:" + port, "log", "--sources", "A",
                   "--interval", "0.1", "--count", "2", "--out", file});
        ASSERT_EQ(cli.Wait(30000), 0) << "run " << run << ": " << cli.Err();
        const auto lines = CrLfLines(file);
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], "Number of entries = 2");
    }
}

TEST(CliLogging, RepliesThatDoNotFillTheRowAreReportedOnStderrAndTheRunGoesOn) {
    using tavrix::test::StandInAnswer;
    using tavrix::test::StandInInstrument;
    std::atomic<int> samples{0};
    StandInInstrument instrument(StandInInstrument::Wire::Tcp,
                                 [&](const std::string& line, int) -> std::optional<StandInAnswer> {
                                     auto reply = [](const std::string& text) {
                                         return StandInAnswer{text + "\r\n"};
                                     };
                                     if (line == "*IDN?" || line == "*idn?;")
                                         return reply("Orvella Model 3028,0012328,2.04");
                                     if (line == "SYST:IDEF?") return reply("28,12328,4,4,2,204,2");
                                     if (line == "INP A:NAME?;UNITS?;") return reply("Stage;K");
                                     if (line == "INP A:TEMP?;") {
                                         const int n = samples++;
                                         if (n == 1) return reply("1.5,2");
                                         if (n == 3) return reply("\x1b[31m;9");
                                         return reply("1.5");
                                     }
                                     return std::nullopt;
                                 });
    TempDir dir;
    const std::string file = dir.Str() + "/bad.csv";
    Child cli(dir, "cli",
              {TAVRIX_CLI_PATH, "--lan", "127.0.0.1:" + std::to_string(instrument.Port()), "log",
               "--sources", "A", "--interval", "0.1", "--count", "3", "--out", file});
    ASSERT_EQ(cli.Wait(30000), 0) << cli.Err();
    const std::string err = cli.Err();
    EXPECT_EQ(err.find('\x1b'), std::string::npos);
    int reported = 0;
    for (const auto& l : SplitLf(err))
        if (l.rfind("tavrix-cli: reply not logged at ", 0) == 0) ++reported;
    EXPECT_EQ(reported, 2) << err;
    EXPECT_NE(err.find("2 field(s) for 1 column(s): 1.5,2"), std::string::npos) << err;
    EXPECT_NE(err.find("\\x1b[31m;9"), std::string::npos) << err;
    EXPECT_NE(err.find("2 bad reply(ies) not logged"), std::string::npos) << err;
    const auto lines = CrLfLines(file);
    int rows = 0;
    for (const auto& l : lines)
        if (std::regex_match(l, std::regex(R"(\d{1,2}:\d{1,2}:\d{1,2},1\.5)"))) ++rows;
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(lines[lines.size() - 2], "Number of entries = 3");
}

// A stand-in that drops the connection at the third sample and then serves again (as another
// model when `modelAfterDrop` is set). With --keep-going the run rides through; without it the
// run ends as after any lost link; another model answering after the drop ends it too.
TEST(CliLogging, ALinkDroppedOnceMidRunIsRiddenThroughOnlyWhenAskedAndOnlyForTheSameModel) {
    using tavrix::test::StandInAnswer;
    using tavrix::test::StandInInstrument;
    struct Case {
        const char* name;
        bool keepGoing;
        bool otherModelAfterDrop;
        int exitCode;
    };
    for (const Case& c : {Case{"keep-going", true, false, 0}, Case{"plain", false, false, 1},
                          Case{"other-model", true, true, 1}}) {
        SCOPED_TRACE(c.name);
        std::atomic<int> samples{0};
        std::atomic<bool> dropped{false};
        StandInInstrument instrument(
            StandInInstrument::Wire::Tcp,
            [&](const std::string& line, int) -> std::optional<StandInAnswer> {
                auto reply = [](const std::string& text) { return StandInAnswer{text + "\r\n"}; };
                const bool other = c.otherModelAfterDrop && dropped.load();
                if (line == "*IDN?" || line == "*idn?;")
                    return reply(other ? "Orvella Model 3031,0012399,1.10"
                                       : "Orvella Model 3028,0012328,2.04");
                if (line == "SYST:IDEF?")
                    return reply(other ? "31,12399,4,4,2,110,2" : "28,12328,4,4,2,204,2");
                if (line == "INP A:NAME?;UNITS?;") return reply("Stage;K");
                if (line == "INP A:TEMP?;") {
                    const int n = samples++;
                    if (n == 2) {
                        dropped = true;
                        return StandInAnswer{"", 0, 0, true};
                    }
                    return reply(std::to_string(n) + ".5");
                }
                return std::nullopt;
            });
        TempDir dir;
        const std::string file = dir.Str() + "/drop.csv";
        std::vector<std::string> args = {TAVRIX_CLI_PATH,
                                         "--lan",
                                         "127.0.0.1:" + std::to_string(instrument.Port()),
                                         "log",
                                         "--sources",
                                         "A",
                                         "--interval",
                                         "0.2",
                                         "--count",
                                         c.exitCode == 0 ? "10" : "5",
                                         "--out",
                                         file};
        if (c.keepGoing) args.push_back("--keep-going");
        const int metricsPort = c.exitCode == 0 ? FreePort() : 0;
        if (metricsPort) {
            args.push_back("--metrics");
            args.push_back(std::to_string(metricsPort));
        }
        Child cli(dir, "cli", args);
        if (metricsPort) {
            // The metrics follow the link: down with one loss while it is lost, up again after.
            auto fileHas = [&](const char* text) {
                return Slurp(file).find(text) != std::string::npos;
            };
            auto waitUntil = [](auto done) {
                const auto until = steady_clock::now() + seconds(30);
                while (!done() && steady_clock::now() < until)
                    std::this_thread::sleep_for(milliseconds(20));
                return done();
            };
            ASSERT_TRUE(waitUntil([&] { return fileHas("Communication lost at"); }));
            const std::string down = MetricsText(metricsPort);
            if (!fileHas("Communication restored at")) {
                EXPECT_NE(down.find("\ntavrix_link_up 0"), std::string::npos) << down;
                EXPECT_NE(down.find("\ntavrix_link_losses_total 1"), std::string::npos) << down;
            }
            ASSERT_TRUE(waitUntil([&] { return fileHas("Communication restored at"); }));
            const std::string up = MetricsText(metricsPort);
            EXPECT_NE(up.find("\ntavrix_link_up 1"), std::string::npos) << up;
            EXPECT_NE(up.find("\ntavrix_link_losses_total 1"), std::string::npos) << up;
        }
        ASSERT_EQ(cli.Wait(60000), c.exitCode) << cli.Err();
        const auto lines = CrLfLines(file);
        const std::regex row(R"(\d{1,2}:\d{1,2}:\d{1,2},(\d+)\.5)");
        const std::regex stamp(R"(\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d{1,2}:\d{1,2})");
        int rows = 0, rowsAfterRestore = 0, lost = -1, restored = -1;
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::string& l = lines[i];
            if (std::regex_match(l, row)) {
                ++rows;
                if (restored >= 0) ++rowsAfterRestore;
            }
            if (l.rfind("Communication lost at ", 0) == 0) {
                EXPECT_TRUE(std::regex_match(l.substr(22), stamp)) << l;
                EXPECT_EQ(lost, -1) << "one loss, one line";
                lost = static_cast<int>(i);
            }
            if (l.rfind("Communication restored at ", 0) == 0) {
                EXPECT_TRUE(std::regex_match(l.substr(26), stamp)) << l;
                restored = static_cast<int>(i);
            }
        }
        const std::string err = cli.Err();
        if (c.exitCode == 0) {
            EXPECT_EQ(rows, 10);
            ASSERT_GT(lost, 0);
            EXPECT_EQ(restored, lost + 1) << "no row while the link was down";
            EXPECT_EQ(rowsAfterRestore, 8);
            EXPECT_EQ(lines[lines.size() - 2], "Number of entries = 10");
            EXPECT_EQ(lines.back().rfind("Data logging terminated at ", 0), 0u);
            EXPECT_NE(err.find("10 row(s) written"), std::string::npos) << err;
            EXPECT_NE(err.find("communication lost 1 time(s)"), std::string::npos) << err;
            // The message log (standard output) tells the loss and the return as the file does.
            const std::string out = cli.Out();
            EXPECT_NE(out.find(lines[static_cast<size_t>(lost)]), std::string::npos) << out;
            EXPECT_NE(out.find(lines[static_cast<size_t>(restored)]), std::string::npos) << out;
            EXPECT_EQ(err.find("Communication Error"), std::string::npos) << "no box: " << err;
        } else {
            EXPECT_EQ(rows, 2);
            EXPECT_EQ(restored, -1);
            EXPECT_EQ(lost >= 0, c.keepGoing);
            ASSERT_GE(lines.size(), 3u);
            EXPECT_EQ(lines[lines.size() - 3], "Number of entries = 2");
            EXPECT_EQ(lines.back(), "Exit due to Communication Error.");
            if (c.otherModelAfterDrop)
                EXPECT_NE(cli.Out().find("not the one the run began with"), std::string::npos);
        }
    }
}
