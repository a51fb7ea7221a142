// Logging that rides through a lost serial link: the device goes away and comes back.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "TestSupport.h"
#include "logging/DataLogFile.h"
#include "logging/DataLoggingEngine.h"

using namespace tavrix;
using namespace std::chrono;
using tavrix::test::PtyInstrument;

namespace {

std::optional<std::string> Answers(const std::string& line) {
    if (line == "*idn?;") return std::string("Orvella Model 3028,0012328,2.04");
    if (line == "INP A:NAME?;UNITS?;") return std::string("Stage;K");
    if (line == "INP A:TEMP?;") return std::string("4.215");
    return std::nullopt;
}

struct FixedClock : LogClock {
    LocalTime Now() override { return {2026, 12, 8, 9, 5, 7}; }
};

struct NoTimer : LogTimer {
    int SetTimer(int id, int) override { return id; }
    void KillTimer(int) override {}
};

// A serial link whose device is reached through `name` in a by-id folder of the test, and
// the engine over it, riding through lost links with short pauses.
struct RideBench {
    // `openByNode`: the link is set to the node the name leads to, not to the name.
    RideBench(std::unique_ptr<PtyInstrument> first, bool openByNode)
        : instrument(std::move(first)), settings(dir.Str()) {
        std::filesystem::create_directory(byId);
        Point(*instrument);
        link.SetSerialByIdFolder(byId);
        link.SetSerialDeviceOverride(openByNode ? instrument->SlavePath() : name);
        link.StartUp();
        features.Update(28);
        engine.keepGoing = 1;
        engine.firstRetry = milliseconds(100);
        engine.longestRetry = milliseconds(400);
    }
    void Point(const PtyInstrument& to) {
        std::filesystem::remove(name);
        std::filesystem::create_symlink(to.SlavePath(), name);
    }
    std::string Path() const { return dir.Str() + "/run.csv"; }

    tavrix::test::TempDir dir;
    std::string byId = dir.Str() + "/by-id";
    std::string name = byId + "/usb-Stand_In_Adapter_A1B2C3-if00-port0";
    std::unique_ptr<PtyInstrument> instrument;
    SettingsStore settings;
    tavrix::test::ScriptedOperator op;
    tavrix::test::CollectingLog log;
    CInstrumentLink link{op, settings};
    SessionMutex mutex;
    ShortcutBarModel bar;
    FeatureManager features{&bar};
    std::atomic<bool> active{false};
    double interval = 0.5;
    HeadlessProgressWindow progress;
    FixedClock clock;
    NoTimer timer;
    ManualResetEvent sample;
    std::vector<LogReport> sent;
    DataLoggingEngine engine{
        LoggingContext{link, mutex, features, op, log, settings, active,
                       [this] { return interval; }, [this](double s) { interval = s; },
                       [this](LogReport r) {
                           sent.push_back(r);
                           if (r == LogReport::CommError) engine.OnCommError();
                       }},
        progress, clock};
};

bool Logged(const tavrix::test::CollectingLog& log, const std::string& start) {
    for (const auto& l : log.lines)
        if (l.rfind(start, 0) == 0) return true;
    return false;
}

}  // namespace

// Whether the link was set to the stable name or to the node it led to, the device that comes
// back under that name is opened again and the run goes on; the file reads back with one gap.
TEST(KeepGoing, ASerialDeviceThatComesBackUnderItsNameIsReopenedAndTheRunResumes) {
    for (bool openByNode : {false, true}) {
        SCOPED_TRACE(openByNode ? "link set to the node" : "link set to the stable name");
        // Lines: identification, names, one sample; the second sample finds the device gone.
        RideBench b(std::make_unique<PtyInstrument>(Answers, "\r\n", 4), openByNode);
        EXPECT_EQ(b.link.SerialStableName(), b.name);
        ASSERT_EQ(b.engine.BeginRun(0x0001, 0.5, b.Path(), b.timer), 0);
        ASSERT_EQ(b.engine.Cycle(b.sample), DataLoggingEngine::kRowMade);

        std::unique_ptr<PtyInstrument> squatter, second;
        std::thread comesBack([&] {
            // The outage begins when the run has found the device gone, however long a loaded
            // machine takes to notice it.
            const auto until = steady_clock::now() + seconds(20);
            while (!b.engine.LinkDown() && steady_clock::now() < until)
                std::this_thread::sleep_for(milliseconds(10));
            std::this_thread::sleep_for(milliseconds(500));
            b.engine.OnTick(b.sample);  // a deadline passes while the device is away
            // Another device that answers nothing takes the freed node first, as another
            // adapter plugged in meanwhile would.
            squatter = std::make_unique<PtyInstrument>(
                [](const std::string&) { return std::optional<std::string>(); });
            second = std::make_unique<PtyInstrument>(Answers);
            b.Point(*second);
        });
        // A device never found again would keep the cycle reconnecting: the stop ends it.
        ManualResetEvent rode;
        std::thread watchdog([&] {
            if (!rode.WaitFor(seconds(30))) b.engine.Stop();
        });
        const auto lostAt = steady_clock::now();
        const int ride = b.engine.Cycle(b.sample);
        rode.Set();
        watchdog.join();
        comesBack.join();
        ASSERT_EQ(ride, DataLoggingEngine::kRodeThrough);
        EXPECT_LT(steady_clock::now() - lostAt, seconds(30));
        EXPECT_FALSE(b.sample.IsSet()) << "a tick of the outage would make a row off its deadline";
        ASSERT_EQ(b.engine.Cycle(b.sample), DataLoggingEngine::kRowMade);
        b.engine.Stop();

        EXPECT_TRUE(b.op.messages.empty()) << b.op.messages.front().text;
        EXPECT_EQ(std::count(b.sent.begin(), b.sent.end(), LogReport::LinkDown), 1);
        EXPECT_EQ(std::count(b.sent.begin(), b.sent.end(), LogReport::LinkRestored), 1);
        EXPECT_TRUE(Logged(b.log, "Communication lost at 12/8/2026 9:5:7"));
        EXPECT_TRUE(Logged(b.log, "Communication restored at 12/8/2026 9:5:7"));
        EXPECT_TRUE(Logged(b.log, "Communication lost 1 time(s)"));
        const auto losses = b.engine.Losses();
        EXPECT_EQ(losses.losses, 1);
        EXPECT_EQ(losses.missedTicks, 2);  // the failed sample and the one of the outage
        EXPECT_GE(losses.lostMs, 400);

        DataLogFile file;
        std::string error;
        ASSERT_TRUE(file.Open(b.Path(), error)) << error;
        EXPECT_TRUE(file.Problems().empty()) << file.Problems().front().what;
        ASSERT_EQ(file.Gaps().size(), 1u);
        EXPECT_EQ(file.Gaps()[0].beforeRow, 1u);
        EXPECT_GE(file.Gaps()[0].toMs, file.Gaps()[0].from.epochMs);
        EXPECT_EQ(file.RowCount(), 2u);
        EXPECT_EQ(file.Info().entriesLine, 2);
    }
}

// A device that never comes back: the stop ends the reconnecting at once, the closing lines
// count the rows written, the outage up to the stop is in the summary, and no "restored" line
// follows the closing lines.
TEST(KeepGoing, AStopWhileReconnectingEndsTheRunWithItsClosingLines) {
    RideBench b(std::make_unique<PtyInstrument>(Answers, "\r\n", 4), false);
    b.engine.longestRetry = milliseconds(200);
    ASSERT_EQ(b.engine.BeginRun(0x0001, 0.5, b.Path(), b.timer), 0);
    ASSERT_EQ(b.engine.Cycle(b.sample), DataLoggingEngine::kRowMade);
    // Unplugged: its stable name goes with it. (The node it led to is soon another pty's.)
    std::filesystem::remove(b.name);
    std::atomic<int> ride{-100};
    std::thread cycle([&] { ride = b.engine.Cycle(b.sample); });
    const auto until = steady_clock::now() + seconds(20);
    while (!b.engine.LinkDown() && steady_clock::now() < until)
        std::this_thread::sleep_for(milliseconds(10));
    ASSERT_TRUE(b.engine.LinkDown());
    std::this_thread::sleep_for(milliseconds(600));
    b.engine.Stop();
    const auto stopped = steady_clock::now();
    cycle.join();
    EXPECT_LT(steady_clock::now() - stopped, seconds(5)) << "the reconnecting outlived the stop";
    EXPECT_EQ(ride.load(), DataLoggingEngine::kNoRun);
    EXPECT_FALSE(b.engine.LinkDown());

    const auto lines = tavrix::test::CrLfLines(b.Path());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], "Communication lost at 12/8/2026 9:5:7");
    EXPECT_EQ(lines[lines.size() - 2], "Number of entries = 1");
    EXPECT_EQ(lines.back(), "Data logging terminated at 12/8/2026 9:5:7 ");
    EXPECT_TRUE(Logged(b.log, "Communication lost 1 time(s)"));
    EXPECT_GE(b.engine.Losses().lostMs, 600);
    EXPECT_TRUE(b.op.messages.empty());
}
