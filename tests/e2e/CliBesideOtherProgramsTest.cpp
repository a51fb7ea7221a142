// tavrix-cli among other programs: a pipe reader that leaves, a closed session, an instrument
// whose replies hold terminal control sequences, a script that feeds an endless line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "ChildProgram.h"
#include "StandInInstrument.h"
#include "TestSupport.h"

using tavrix::test::ChildProgram;
using tavrix::test::CrLfLines;
using tavrix::test::StandInAnswer;
using tavrix::test::StandInInstrument;
using tavrix::test::Slurp;
using tavrix::test::TempDir;
using namespace std::chrono;

namespace {

// tavrix-cli in the background: standard input from a pipe the test writes (or /dev/null),
// standard output into a pipe the test reads and may close, standard error into a file.
class Cli : public ChildProgram {
public:
    Cli(const TempDir& dir, std::vector<std::string> args, bool feedStdin = false)
        : ChildProgram(Program(std::move(args)),
                       {{"TAVRIX_CONFIG_DIR=" + dir.Str() + "/config"},
                        dir.Str(),
                        "",
                        dir.Str() + "/" + std::to_string(++count_) + ".err",
                        feedStdin}) {}

private:
    static std::vector<std::string> Program(std::vector<std::string> args) {
        args.insert(args.begin(), TAVRIX_CLI_PATH);
        return args;
    }
    static inline int count_ = 0;
};

const std::regex kRow(R"(\d{1,2}:\d{1,2}:\d{1,2}(,[-0-9.]+)+)");

int CountRows(const std::vector<std::string>& lines) {
    int n = 0;
    for (const auto& l : lines)
        if (std::regex_match(l, kRow)) ++n;
    return n;
}

size_t Occurrences(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

// The closing lines of a run that ended on request, and as many rows as they count.
void ExpectClosingLines(const std::string& file) {
    const auto lines = CrLfLines(file);
    ASSERT_GE(lines.size(), 4u) << Slurp(file);
    const int rows = CountRows(lines);
    EXPECT_GT(rows, 0);
    EXPECT_EQ(lines[lines.size() - 2], "Number of entries = " + std::to_string(rows));
    EXPECT_EQ(lines.back().rfind("Data logging terminated at ", 0), 0u) << lines.back();
}

}  // namespace

TEST(CliBesidePrograms, ALogWhosePipeReaderLeavesGoesOnAndEndsWithItsClosingLines) {
    TempDir dir;
    const std::string file = dir.Str() + "/piped.csv";
    Cli cli(dir, {"--sim=28", "log", "--sources", "A", "--interval", "0.1", "--duration", "3",
                  "--out", file});
    // As `| head -3`: three lines read, then the reader is gone.
    const std::string first = cli.ReadLines(3, 20000);
    EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 3) << first;
    cli.CloseStdout();
    EXPECT_EQ(cli.Wait(30000), 0) << cli.Err();
    ExpectClosingLines(file);
    EXPECT_GT(CountRows(CrLfLines(file)), 5);
    EXPECT_EQ(Occurrences(cli.Err(), "standard output cannot be written"), 1u) << cli.Err();

    // A monitor's lines are all it gives: it ends when nobody reads them.
    Cli monitor(dir, {"--sim=28", "monitor", "A", "--interval", "0.1"});
    EXPECT_FALSE(monitor.ReadLines(1, 20000).empty());
    monitor.CloseStdout();
    EXPECT_EQ(monitor.Wait(20000), 0) << monitor.Err();
}

TEST(CliBesidePrograms, AHangUpEndsALogRunWithItsClosingLines) {
    TempDir dir;
    const std::string file = dir.Str() + "/hup.csv";
    Cli cli(dir, {"--sim=28", "log", "--sources", "A,B", "--interval", "0.1", "--out", file});
    EXPECT_FALSE(cli.ReadLines(4, 20000).empty());
    cli.Signal(SIGHUP);
    EXPECT_EQ(cli.Wait(10000), 0) << cli.Err();
    ExpectClosingLines(file);
}

namespace {

// Replies that would retitle the terminal, clear it, hide text and ring its bell, with a
// carriage return and a NUL among them and a Latin-1 letter that must come through.
const std::string kHostile = std::string("1.5\x1b]0;owned\x07\x1b[2J\r") + '\0' + "\x1b[8m\xe9";

std::optional<StandInAnswer> HostileInstrument(const std::string& line, int) {
    if (line == "*IDN?" || line == "*idn?;")
        return StandInAnswer{"Orvella\x1b]0;owned\x07 Model 28,1,1.0\x1b[2J\n"};
    if (line == "SYST:IDEF?") return StandInAnswer{"28,1,1,1,1,1,1\n"};
    if (line.rfind("CALC?", 0) == 0) return StandInAnswer{"N\x1b[2J\n\x07" + kHostile + "\n;\n"};
    if (line.find(":NAME?;UNITS?;") != std::string::npos)
        return StandInAnswer{"Cold\x1b[8m plate;K\x07\n"};
    if (line.find('?') != std::string::npos) return StandInAnswer{kHostile + "\n"};
    return std::nullopt;
}

// No control byte but LF (and, in a file, the CR of a CR LF line end).
::testing::AssertionResult NoRawControl(const std::string& what, const std::string& bytes,
                                        bool file) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '\n' || (file && c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n'))
            continue;
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0))
            return ::testing::AssertionFailure()
                   << what << ": raw byte " << static_cast<int>(c) << " at " << i << " in \""
                   << bytes.substr(i < 20 ? 0 : i - 20, 40) << "\"";
    }
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST(CliBesidePrograms, RepliesHoldingControlSequencesAreShownVisiblyEverywhere) {
    TempDir dir;
    StandInInstrument instrument(StandInInstrument::Wire::Tcp, HostileInstrument);
    const std::string lan = "127.0.0.1:" + std::to_string(instrument.Port());
    const std::string xml = dir.Str() + "/hostile.xml";
    std::ofstream(xml, std::ios::binary)
        << "<TRANSACTIONS><STEP\x1b[2J><MODEL>28\x1b]0;t\x07</MODEL>"
           "<QUERY>INP A:TEMP?</QUERY><RESPONSE>2.0</RESPONSE>"
           "<QUERY>INP B:TEMP?</QUERY><FLOATRESPONSE>7.0\x1b[8m</FLOATRESPONSE>"
           "</TRANSACTIONS>";
    const std::string csv = dir.Str() + "/hostile.csv";
    struct Case {
        std::vector<std::string> args;
        std::string input;
        std::vector<std::string> files;
    };
    const std::vector<Case> cases = {
        {{"identify"}, "", {}},
        {{"query", "INP A:TEMP?"}, "", {}},
        {{"table", "--lines", "2", "CALC? 1"}, "", {}},
        {{"terminal"}, "INP A:TEMP?\nINP\x1b[2J B:UNIT K\n", {}},
        {{"monitor", "A", "--count", "2", "--interval", "0.2"}, "", {}},
        {{"log", "--sources", "A,heater1", "--interval", "0.1", "--duration", "1", "--out", csv},
         "",
         {csv}},
        {{"run-commands", xml}, "", {dir.Str() + "/ErrorLog.txt"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--lan", lan};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Cli cli(dir, args, true);
        cli.Feed(c.input);
        cli.CloseStdin();
        const std::string out = cli.ReadAll();
        cli.Wait(30000);
        const std::string err = cli.Err();
        SCOPED_TRACE(c.args.front());
        EXPECT_TRUE(NoRawControl("stdout", out, false));
        EXPECT_TRUE(NoRawControl("stderr", err, false));
        // The replies came through, made visible, with the Latin-1 letter as it was.
        EXPECT_NE((out + err).find("\\x1b"), std::string::npos) << out << err;
        for (const std::string& f : c.files) {
            const std::string bytes = Slurp(f);
            EXPECT_FALSE(bytes.empty()) << f;
            EXPECT_TRUE(NoRawControl(f, bytes, true));
            EXPECT_NE(bytes.find("\\x1b"), std::string::npos) << f;
        }
    }
    // Ordinary text is left as it is.
    Cli query(dir, {"--lan", lan, "query", "INP A:TEMP?"});
    EXPECT_EQ(query.ReadAll(), "1.5\\x1b]0;owned\\x07\\x1b[2J\\x1b[8m\xe9\n");
}

TEST(CliBesidePrograms, AnEndlessTerminalLineIsDroppedWithoutBeingHeldInMemory) {
    TempDir dir;
    Cli cli(dir, {"--sim=28", "terminal"}, true);
    std::thread feeder([&] {
        const std::string chunk(1 << 20, 'x');
        for (int i = 0; i < 200 && cli.Feed(chunk); ++i) {
        }
        cli.Feed("\n*IDN?\n");
        cli.CloseStdin();
    });
    const std::string out = cli.ReadAll();
    feeder.join();
    EXPECT_EQ(cli.Wait(60000), 1);
    EXPECT_NE(cli.Err().find("(this one has 209715200): not sent"), std::string::npos) << cli.Err();
    EXPECT_NE(out.find("query:*IDN?\nresponse:Orvella Model"), std::string::npos) << out;
    // The 200 MB line never lived in memory (ru_maxrss is in kilobytes).
    EXPECT_LT(cli.usage.ru_maxrss, 64 * 1024);
}
