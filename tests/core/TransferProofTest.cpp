// Downloads that prove their arrival, the record of a table left open, identification that ends
// such a table, and uploads that say "Upload Complete" only for a written file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "StandInInstrument.h"
#include "TestSupport.h"
#include "curves/CurveCommands.h"
#include "curves/CurveTexts.h"
#include "link/InterruptedTransfer.h"

using namespace tavrix;
using tavrix::test::ScriptedOperator;
using tavrix::test::SimLinkBench;
using tavrix::test::StandInAnswer;
using tavrix::test::StandInInstrument;
using tavrix::test::TempDir;
namespace ct = tavrix::curve_texts;
namespace it = tavrix::interrupted_texts;

namespace {

std::string Data(const std::string& name) {
    return std::string(TAVRIX_TEST_DATA_DIR) + "/curves/" + name;
}

bool Contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

// An instrument over TCP that acknowledges every line and answers the count queries with
// `count` (nothing when it gives no value).
struct CountingInstrument {
    explicit CountingInstrument(std::function<std::optional<std::string>(const std::string&)> count)
        : instrument(StandInInstrument::Wire::Tcp,
                     [count](const std::string& line, int) -> std::optional<StandInAnswer> {
                         if (line.rfind("SENSORIX?", 0) == 0)
                             return tavrix::test::Acknowledged(line, "NAME");
                         if (line == "*IDN?")
                             return tavrix::test::Acknowledged(line, "Orvella Model 28,1,1.0");
                         if (line.find("NENT") != std::string::npos) {
                             const auto reply = count(line);
                             if (!reply) return std::nullopt;
                             return tavrix::test::Acknowledged(line, *reply);
                         }
                         return tavrix::test::Acknowledged(line);
                     }),
          settings(dir.Str()) {
        link.SetPortType(kPortLan);
        link.Lan().SetLineAcknowledgement(true);
        link.Lan().SetTimeouts(1000, 1000);
        link.IpAddr() = MyIPAddr(0x7F000001u, static_cast<unsigned long>(instrument.Port()));
        connected = link.LanConnect() == 1;
    }
    void DownloadCurve(const std::string& file, int position) {
        op.openFileAnswers.push_back(DialogResult<std::string>::Accept(file));
        op.headerAnswers.push_back(ScriptedOperator::AcceptHeader());
        op.userCurveAnswers.push_back(DialogResult<int>::Accept(position));
        tavrix::DownloadCurve(ctx);
    }
    void DownloadPid(const std::string& file, int table) {
        op.openFileAnswers.push_back(DialogResult<std::string>::Accept(file));
        op.pidTableAnswers.push_back(DialogResult<int>::Accept(table));
        DownloadPidTable(ctx);
    }
    TempDir dir;
    StandInInstrument instrument;
    SettingsStore settings;
    ScriptedOperator op;
    tavrix::test::CollectingLog log;
    CInstrumentLink link{op, settings};
    SessionMutex mutex;
    ShortcutBarModel bar;
    FeatureManager features{&bar};
    CurveContext ctx{{link, mutex, features, bar, op, log}, op};
    bool connected = false;
};

}  // namespace

// What the instrument reports after the closing ";" decides: the count of the points (entries)
// it took, or the download fails; no answer leaves the record of the open table for the next
// connection.
TEST(DownloadProof, TheCountReadBackDecidesCompletion) {
    struct Case {
        const char* what;
        std::optional<std::string> curveCount, pidCount;
        std::string curveMessage, pidMessage, curveLog, pidLog;
        bool recordKept;
    } cases[] = {
        {"the counts sent", "4", "3", ct::kDownloadComplete, ct::kDownloadComplete,
         "User Curve 3 is downloaded from " + Data("descending.crv") + "\n",
         "PID Table 5 is downloaded from " + Data("table3.pid") + "\n", false},
        {"fewer", "3", "2",
         "User Curve 3 did not arrive whole: the instrument reports 3 points for it instead of 4. "
         "Download it again.",
         "PID Table 5 did not arrive whole: the instrument reports 2 entries for it instead of 3. "
         "Download it again.",
         "User Curve 3 is not downloaded: the instrument reports 3 points instead of 4\n",
         "PID Table 5 is not downloaded: the instrument reports 2 entries instead of 3\n", false},
        {"more (a stale table's points added)", "39", "4",
         "User Curve 3 did not arrive whole: the instrument reports 39 points for it instead of "
         "4. Download it again.",
         "PID Table 5 did not arrive whole: the instrument reports 4 entries for it instead of 3. "
         "Download it again.",
         "User Curve 3 is not downloaded: the instrument reports 39 points instead of 4\n",
         "PID Table 5 is not downloaded: the instrument reports 4 entries instead of 3\n", false},
        {"no number", "4x\x1b", "",
         "User Curve 3 did not arrive whole: the instrument reports 4x? "
         "points for it instead of 4. Download it again.",
         "PID Table 5 did not arrive whole: the instrument reports \"\" entries for it instead of "
         "3. Download it again.",
         "User Curve 3 is not downloaded: the instrument reports 4x? points instead of 4\n",
         "PID Table 5 is not downloaded: the instrument reports \"\" entries instead of 3\n",
         false},
        {"no answer", std::nullopt, std::nullopt, "Communication Error", "Communication Error",
         "User Curve 3 is not downloaded: the instrument did not confirm the curve\n",
         "PID Table 5 is not downloaded: the instrument did not confirm the table\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CountingInstrument b([&c](const std::string& line) {
            return line.rfind("SENSORIX", 0) == 0 ? c.curveCount : c.pidCount;
        });
        ASSERT_TRUE(b.connected);
        b.DownloadCurve(Data("descending.crv"), 2);
        auto messages = b.op.MessageTexts();
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(messages.back(), c.curveMessage);
        EXPECT_EQ(Contains(messages, ct::kDownloadComplete),
                  c.curveMessage == ct::kDownloadComplete);
        EXPECT_EQ(b.log.lines.back(), c.curveLog);
        EXPECT_EQ(b.op.progress.at(0)->closed, 1);
        EXPECT_EQ(OpenTableRecord(b.link).Pending().has_value(), c.recordKept);
        if (c.recordKept) {
            EXPECT_EQ(*OpenTableRecord(b.link).Pending(), "User Curve 3");
            // The table was closed once more, quietly, after the count went unanswered.
            const auto lines = b.instrument.Lines();
            EXPECT_EQ(lines.back(), ";");
            EXPECT_EQ(lines[lines.size() - 2], "SENSORIX 63:NENTRY?");
            OpenTableRecord(b.link).End();
        }

        b.op.messages.clear();
        b.log.lines.clear();
        b.DownloadPid(Data("table3.pid"), 5);
        messages = b.op.MessageTexts();
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(messages.back(), c.pidMessage);
        EXPECT_EQ(b.log.lines.back(), c.pidLog);
        EXPECT_EQ(OpenTableRecord(b.link).Pending().has_value(), c.recordKept);
    }
}

// A record is written before the first table line and names the table; it is kept per
// instrument, and only texts this program writes are taken as a table's name.
TEST(OpenTableRecord, NamesTheTablePerInstrument) {
    TempDir dir;
    SettingsStore settings(dir.Str() + "/not yet made");
    ScriptedOperator op;
    CInstrumentLink link(op, settings);
    link.SetPortType(kPortLan);
    link.IpAddr() = MyIPAddr::FromOctets(10, 0, 0, 7, 7777);
    OpenTableRecord lan(link);
    EXPECT_FALSE(lan.Pending());
    lan.Begin("PID Table 2");
    EXPECT_EQ(lan.Pending(), std::optional<std::string>("PID Table 2"));
    link.SetPortType(kPortGpib);
    EXPECT_FALSE(OpenTableRecord(link).Pending());  // another instrument
    link.SetPortType(kPortLan);
    { std::ofstream(lan.Path(), std::ios::trunc) << "\x1b[2JUser Curve 9\n"; }
    EXPECT_EQ(OpenTableRecord(link).Pending(), std::optional<std::string>(""));
    EXPECT_EQ(InterruptedTransferMessage(false, std::string()),
              std::string(it::kEarlierInterrupted) + it::kUnknownMayBeIncomplete);
    lan.End();
    EXPECT_FALSE(lan.Pending());
    EXPECT_EQ(InterruptedTransferMessage(false, std::nullopt), "");
}

namespace {

// The simulated controller left in the middle of user curve 3 by a download that stopped
// after two points, as a killed download leaves it.
void LeaveHalfATable(sim::SimEngine& engine) {
    for (const char* line : {"CALC 3", "Half", "Diode", "1.000000", "Volts",
                             "0.100000     300.000000", "0.200000     200.000000"})
        engine.Execute(line);
}

void Connect(SimLinkBench& b, bool lan) {
    b.link.StartUp();
    if (lan) {
        b.link.SetPortType(kPortLan);
        b.link.Lan().SetTimeouts(1000, 1000);
        b.op.ipAnswers.push_back(DialogResult<IpAddressChoice>::Accept(
            {0x7F000001u, static_cast<unsigned long>(b.tcp.Port())}));
    } else {
        b.link.SetPortType(kPortRs232);
    }
    ConnectAndIdentify(b.ctx);
}

}  // namespace

// Identification ends a table left open once and tells which table may be incomplete; an
// instrument that answers at once is told about only when a record remains.
TEST(InterruptedTransfer, IdentificationEndsAStaleTableAndNamesIt) {
    const std::string named = " User Curve 3 may be incomplete: download it again.";
    struct Case {
        const char* what;
        bool lan, stale, record;
        std::string message;
        std::vector<std::string> lines;
    } cases[] = {
        {"stale table and record, LAN",
         true,
         true,
         true,
         it::kStaleTableEnded + named,
         {"*IDN?", ";", "*IDN?", "SYST:IDEF?"}},
        {"stale table and record, RS232",
         false,
         true,
         true,
         it::kStaleTableEnded + named,
         {"*IDN?", ";", "*IDN?", "SYST:IDEF?"}},
        {"stale table without a record",
         false,
         true,
         false,
         std::string(it::kStaleTableEnded) + it::kUnknownMayBeIncomplete,
         {"*IDN?", ";", "*IDN?", "SYST:IDEF?"}},
        {"a record only",
         true,
         false,
         true,
         it::kEarlierInterrupted + named,
         {"*IDN?", "SYST:IDEF?"}},
        {"nothing interrupted", false, false, false, "", {"*IDN?", "SYST:IDEF?"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimLinkBench b;
        if (c.stale) LeaveHalfATable(b.engine);
        b.link.SetPortType(c.lan ? kPortLan : kPortRs232);
        b.link.IpAddr() = MyIPAddr(0x7F000001u, static_cast<unsigned long>(b.tcp.Port()));
        if (c.record) OpenTableRecord(b.link).Begin("User Curve 3");
        b.engine.ClearReceivedLines();
        Connect(b, c.lan);

        EXPECT_EQ(b.bar.Get().statusWord, "Connected");
        EXPECT_FALSE(b.engine.InInputMode());
        EXPECT_EQ(b.engine.ReceivedLines(), c.lines);
        if (c.message.empty()) {
            EXPECT_TRUE(b.op.messages.empty());
        } else {
            ASSERT_EQ(b.op.messages.size(), 1u);
            EXPECT_EQ(b.op.messages[0].text, c.message);
            EXPECT_EQ(b.op.messages[0].icon, MessageIcon::Exclamation);
            EXPECT_EQ(b.log.lines.back(), c.message + "\n");
        }
        EXPECT_FALSE(OpenTableRecord(b.link).Pending());
        // The ";" stored what had arrived of the curve.
        if (c.stale) EXPECT_EQ(b.engine.Execute("SENSORIX 63:NENTRY?").lines.at(0), "2");

        // Told once.
        b.op.messages.clear();
        b.engine.ClearReceivedLines();
        Connect(b, c.lan);
        EXPECT_TRUE(b.op.messages.empty());
        EXPECT_EQ(b.engine.ReceivedLines(), (std::vector<std::string>{"*IDN?", "SYST:IDEF?"}));
    }
}

// An instrument that answers nothing at all gets one ";" and the usual failure; the record of
// the open table stays for a later connection.
TEST(InterruptedTransfer, ASilentInstrumentKeepsTheRecord) {
    SimLinkBench b;
    b.link.SetPortType(kPortLan);
    b.link.IpAddr() = MyIPAddr(0x7F000001u, static_cast<unsigned long>(b.tcp.Port()));
    OpenTableRecord(b.link).Begin("PID Table 4");
    b.engine.Execute("SIM:FAULT SILENT 1");
    b.engine.ClearReceivedLines();
    Connect(b, true);
    EXPECT_EQ(b.bar.Get().statusWord, "Error");
    const auto lines = b.engine.ReceivedLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), ";"), 1);
    EXPECT_FALSE(Contains(b.op.MessageTexts(), std::string(it::kEarlierInterrupted) +
                                                   " PID Table 4 may be incomplete: download "
                                                   "it again."));
    EXPECT_EQ(OpenTableRecord(b.link).Pending(), std::optional<std::string>("PID Table 4"));
}

// "Upload Complete" only once the file holds the table; a partly written file is removed.
TEST(UploadProof, UploadCompleteOnlyForAWrittenFile) {
    SimLinkBench b;
    b.link.StartUp();
    b.link.SetPortType(kPortRs232);
    b.ctx.sleep = [](std::chrono::milliseconds) {};
    const std::string out = b.dir.Str() + "/up.crv";
    const std::string pid = b.dir.Str() + "/up.pid";
    { std::ofstream(out) << "an earlier upload\n"; }
    // A file that cannot grow past 32 bytes: the write fails part-way.
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 32;
    setrlimit(RLIMIT_FSIZE, &small);
    b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(out));
    b.op.userCurveAnswers.push_back(DialogResult<int>::Accept(0));
    UploadCurve(b.ctx);
    b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(pid));
    b.op.pidTableAnswers.push_back(DialogResult<int>::Accept(1));
    UploadPidTable(b.ctx);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(b.op.MessageTexts(),
              (std::vector<std::string>{ct::kFailedToCreateFile, ct::kFailedToCreateFile}));
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_FALSE(std::filesystem::exists(pid));

    b.op.messages.clear();
    b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(out));
    b.op.userCurveAnswers.push_back(DialogResult<int>::Accept(0));
    UploadCurve(b.ctx);
    EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{ct::kUploadComplete});
    EXPECT_GT(std::filesystem::file_size(out), 32u);
}
