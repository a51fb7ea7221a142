#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>

#include "TestSupport.h"
#include "logging/DataLogUpload.h"
#include "logging/DataLoggingEngine.h"
#include "logging/DeadlinePacer.h"
#include "logging/MonitorPoller.h"

using namespace tavrix;
using tavrix::test::CrLfLines;
using tavrix::test::Slurp;
using tavrix::test::PtyInstrument;
using tavrix::test::PtyLinkBench;
using tavrix::test::SimLinkBench;

namespace {

struct FakeClock : LogClock {
    LocalTime t{2026, 12, 8, 9, 5, 7};
    LocalTime Now() override { return t; }
};

struct FakeTimer : LogTimer {
    int sets = 0, kills = 0, period = 0;
    int SetTimer(int id, int ms) override {
        ++sets;
        period = ms;
        return id;
    }
    void KillTimer(int) override { ++kills; }
};

// The engine over one of the link benches, with the view's handlers run on the spot.
template <typename Bench>
struct EngineBench {
    template <typename... Args>
    explicit EngineBench(int model, Args&&... args) : b(std::forward<Args>(args)...) {
        b.features.Update(model);
        progress.onStop = [this] { engine.Stop(); };
    }
    Bench b;
    std::atomic<bool> active{false};
    double interval = 30.0;
    HeadlessProgressWindow progress;
    FakeClock clock;
    FakeTimer timer;
    ManualResetEvent sample;
    std::vector<LogReport> sent;
    // Runs before the view's handler of each report.
    std::function<void(LogReport)> onReport;
    DataLoggingEngine engine{
        LoggingContext{b.link, b.mutex, b.features, b.op, b.log, b.settings, active,
                       [this] { return interval; }, [this](double s) { interval = s; },
                       [this](LogReport r) {
                           sent.push_back(r);
                           if (onReport) onReport(r);
                           if (r == LogReport::Sampled) engine.OnSampled();
                           if (r == LogReport::CommError) engine.OnCommError();
                           if (r == LogReport::FileError) engine.OnFileError();
                           if (r == LogReport::BadReply) engine.OnBadReply();
                       }},
        progress, clock};
    std::string Path() const { return b.dir.Str() + "/run.csv"; }
    int Begin(LogSourceMask mask, double seconds = 0.5) {
        return engine.BeginRun(mask, seconds, Path(), timer);
    }
    int Sent(LogReport r) const {
        return static_cast<int>(std::count(sent.begin(), sent.end(), r));
    }
};

struct SimBench : SimLinkBench {
    SimBench() : SimLinkBench(28) { link.StartUp(); }
};

// An instrument that answers every query of a line by the script, replies joined by ";".
std::optional<std::string> Answer(const std::string& line,
                                  const std::function<std::string(const std::string&)>& one) {
    if (line.find('?') == std::string::npos) return std::nullopt;
    std::string out;
    size_t start = 0;
    // Queries end in "?"; the command after ":" or ";" is the next one.
    std::string node;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '?') {
            std::string q = line.substr(start, i - start + 1);
            while (!q.empty() && (q[0] == ':' || q[0] == ';')) q.erase(0, 1);
            if (q.find(':') != std::string::npos)
                node = q.substr(0, q.find(':'));
            else
                q = node + ":" + q;
            if (!out.empty()) out += ";";
            out += one(q);
            start = i + 1;
        }
    }
    return out;
}

std::string Values(const std::string& q) {
    if (q == "*idn;?" || q.rfind("*idn", 0) == 0 || q.find("*idn") != std::string::npos)
        return "Orvella Model 3028,0012328,2.04";
    if (q.find(":NAME?") != std::string::npos) return "Stage";
    if (q.find(":UNITS?") != std::string::npos) return "K";
    if (q.find("TEMP?") != std::string::npos) return std::to_string(q[4] - 'A' + 1);
    if (q.find("OUTP?") != std::string::npos) return "45.00";
    if (q.find("RANGE?") != std::string::npos) return "2";
    if (q.find("SETPT?") != std::string::npos) return "300.000";
    return "0";
}

// The instrument thread starts in PtyLinkBench's constructor and reads these switches, so they
// are built before it (a base listed first) and shared as atomics.
struct ScriptSwitches {
    std::atomic<bool> silent{false};
    std::atomic<bool> fixedA{false};
};

struct ScriptBench : ScriptSwitches, PtyLinkBench {
    ScriptBench()
        : PtyLinkBench([this](const std::string& line) -> std::optional<std::string> {
              if (silent.load()) return std::nullopt;
              if (line.rfind("INP A:TEMP?;", 0) == 0 && line.size() == 12 && fixedA.load())
                  return std::string("23.456");
              return Answer(line, Values);
          }) {}
};

// An instrument whose answer to every sampling batch is set by the test.
struct ReplySwitch {
    std::mutex m;
    std::string reply;
    void Set(std::string r) {
        std::lock_guard lock(m);
        reply = std::move(r);
    }
    std::string Get() {
        std::lock_guard lock(m);
        return reply;
    }
};

struct ReplyBench : ReplySwitch, PtyLinkBench {
    ReplyBench()
        : PtyLinkBench([this](const std::string& line) -> std::optional<std::string> {
              if (line.find("TEMP?") != std::string::npos ||
                  line.find("OUTP?") != std::string::npos)
                  return Get();
              return Answer(line, Values);
          }) {}
};

// The operator of a test that watches what the program holds while it waits for an answer.
class WatchfulOperator : public tavrix::test::ScriptedOperator {
public:
    std::function<void()> whileAsked;  // runs inside every dialog and box
    void ShowMessage(const std::string& text, MessageIcon icon) override {
        Watch();
        ScriptedOperator::ShowMessage(text, icon);
    }
    DialogResult<std::string> AskSaveFile(const FileDialogRequest& request) override {
        Watch();
        return ScriptedOperator::AskSaveFile(request);
    }
    DialogResult<DataLogSetupModel> AskLogSetup(const DataLogSetupModel& preset) override {
        Watch();
        return ScriptedOperator::AskLogSetup(preset);
    }
    int asked = 0;

private:
    void Watch() {
        ++asked;
        if (whileAsked) whileAsked();
    }
};

struct WatchBench {
    explicit WatchBench(PtyInstrument::Responder r)
        : instrument(std::move(r)), settings(dir.Str()) {
        link.SetSerialDeviceOverride(instrument.SlavePath());
        link.StartUp();
    }
    tavrix::test::TempDir dir;
    PtyInstrument instrument;
    SettingsStore settings;
    WatchfulOperator op;
    tavrix::test::CollectingLog log;
    CInstrumentLink link{op, settings};
    SessionMutex mutex;
    ShortcutBarModel bar;
    FeatureManager features{&bar};
};

// Whether another thread gets the lock (within the longest single exchange).
bool LockFreeForOthers(SessionMutex& m) {
    bool got = false;
    std::thread([&] {
        got = m.TryLockFor(2000);
        if (got) m.Unlock();
    }).join();
    return got;
}

bool WaitUntil(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace

TEST(DataLogging, ASimulatorRunWritesHeaderRowsAndClosingLinesInOrder) {
    EngineBench<SimBench> e(28);
    e.b.op.logSetupAnswers.push_back([](DataLogSetupModel m) {
        m.mask = 0x0001 | 0x0002 | 0x0100;
        m.interval = 0.5;
        return DialogResult<DataLogSetupModel>::Accept(m);
    });
    e.b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(e.Path()));
    ASSERT_EQ(e.engine.Start(e.b.op, e.timer), 0);
    // The dialog opened with the stored interval and boxes per the model (4 inputs, 4 loops).
    const auto& presets = e.b.op.logSetupPresets;
    ASSERT_EQ(presets.size(), 1u);
    EXPECT_EQ(presets[0].interval, 30.0);
    EXPECT_EQ(presets[0].enabled,
              (std::array<int, 16>{1, 1, 1, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1}));
    const FileDialogRequest& req = e.b.op.saveFileRequests.at(0);
    EXPECT_EQ(req.filter, "MSExcel Comma Separated Value Files(*.csv)|*.csv||");
    EXPECT_EQ(req.defaultExtension, "csv");
    EXPECT_EQ(req.options, kHideReadOnly | kOverwritePrompt);
    EXPECT_EQ(e.timer.period, 500);
    EXPECT_TRUE(e.active.load());
    EXPECT_TRUE(e.progress.visible);
    EXPECT_EQ(e.progress.Model().labels[0], "Channel A");
    EXPECT_EQ(e.progress.Model().labels[8], "Heater1");
    EXPECT_EQ(e.progress.Model().intervalText, "     0.5");
    EXPECT_EQ(e.b.settings.GetString("LOG", "INTERVAL", ""), "0.500000");

    EXPECT_EQ(e.engine.Cycle(e.sample), 0);
    e.clock.t.second = 9;
    EXPECT_EQ(e.engine.Cycle(e.sample), 0);
    EXPECT_EQ(e.progress.Model().entriesText, "2");
    e.clock.t = {2026, 12, 8, 10, 0, 0};
    e.progress.PressStop();
    EXPECT_FALSE(e.active.load());
    EXPECT_EQ(e.timer.kills, 1);

    const auto lines = CrLfLines(e.Path());
    ASSERT_EQ(lines.size(), 10u) << Slurp(e.Path());
    EXPECT_EQ(lines[0], "INP A name:Input A,unit:K");
    EXPECT_EQ(lines[1], "INP B name:Input B,unit:K");
    EXPECT_EQ(lines[2], "LOOP 1 name:Heater 1");
    EXPECT_EQ(lines[3], "Sampling interval:     0.5 seconds");
    EXPECT_EQ(lines[4], "Entry Number,Channel A,Channel B,Heater 1,RANGE");
    EXPECT_EQ(lines[5], "Data logging started at 12/8/2026 9:5:7");
    const std::regex row(R"(9:5:(7|9),\d+\.\d+,\d+\.\d+,\d+\.\d+,[0-3])");
    EXPECT_TRUE(std::regex_match(lines[6], row)) << lines[6];
    EXPECT_TRUE(std::regex_match(lines[7], row)) << lines[7];
    EXPECT_EQ(lines[7].substr(0, 6), "9:5:9,");
    EXPECT_EQ(lines[8], "Number of entries = 2");
    EXPECT_EQ(lines[9], "Data logging terminated at 12/8/2026 10:0:0 ");
    EXPECT_EQ(e.b.log.lines,
              (std::vector<std::string>{"Data logging started at 12/8/2026 9:5:7\n",
                                        "Data logging terminated at 12/8/2026 10:0:0 \n"}));
}

TEST(DataLogging, RowsCarryTheInstrumentsRepliesAsTheyCame) {
    struct Case {
        LogSourceMask mask;
        int model;
        std::vector<std::string> batches;
        std::string row;
    };
    const std::vector<Case> cases = {
        {0x0001, 28, {"INP A:TEMP?;"}, "9:5:7,23.456"},
        // Heater 1 gives output and range from one query.
        {0x0100, 28, {"LOOP 1:OUTP?;RANGE?;"}, "9:5:7,45.00,2"},
        {0x0007, 29, {"INP A:TEMP?;:INP B:TEMP?;:INP C:TEMP?;"}, "9:5:7,1,2,3"},
        // Past 50 characters the walk sends what it has; the row reads as from one batch.
        {0x00FF,
         29,
         {"INP A:TEMP?;:INP B:TEMP?;:INP C:TEMP?;:INP D:TEMP?;",
          "INP E:TEMP?;:INP F:TEMP?;:INP G:TEMP?;:INP H:TEMP?;"},
         "9:5:7,1,2,3,4,5,6,7,8"},
        {0xF30F,
         28,
         {"INP A:TEMP?;:INP B:TEMP?;:INP C:TEMP?;:INP D:TEMP?;",
          "LOOP 1:OUTP?;RANGE?;:LOOP 2:OUTP?;RANGE?;:LOOP 1:SETPT?;",
          "LOOP 2:SETPT?;:LOOP 3:SETPT?;:LOOP 4:SETPT?;"},
         "9:5:7,1,2,3,4,45.00,2,45.00,2,300.000,300.000,300.000,300.000"},
    };
    for (const Case& c : cases) {
        EngineBench<ScriptBench> e(c.model);
        e.b.fixedA = true;
        ASSERT_EQ(e.Begin(c.mask), 0);
        const size_t before = e.b.instrument.Lines().size();
        ASSERT_EQ(e.engine.Cycle(e.sample), 0);
        auto lines = e.b.instrument.Lines();
        lines.erase(lines.begin(), lines.begin() + static_cast<long>(before));
        lines.erase(std::remove(lines.begin(), lines.end(), ""), lines.end());
        EXPECT_EQ(lines, c.batches) << c.mask;
        for (const auto& b : lines) EXPECT_LE(b.size(), 71u);
        const auto file = CrLfLines(e.Path());
        // The header has one line per input or output, the interval, columns and start.
        EXPECT_EQ(file.back(), c.row) << c.mask;
    }
}

TEST(DataLogging, StoppingBeforeTheFirstTickLeavesHeaderAndClosingLines) {
    EngineBench<ScriptBench> e(28);
    ASSERT_EQ(e.Begin(0x0003, 0.1), 0);
    EXPECT_EQ(e.timer.period, 100);
    e.progress.PressStop();
    // A second stop (the window pressed again) writes nothing more.
    e.engine.Stop();
    EXPECT_EQ(CrLfLines(e.Path()),
              (std::vector<std::string>{
                  "INP A name:Stage,unit:K", "INP B name:Stage,unit:K",
                  "Sampling interval:     0.1 seconds", "Entry Number,Channel A,Channel B",
                  "Data logging started at 12/8/2026 9:5:7", "Number of entries = 0",
                  "Data logging terminated at 12/8/2026 9:5:7 "}));
}

TEST(DataLogging, ARunThatFailsMidWayEndsOnceWhateverTicksCameMeanwhile) {
    EngineBench<ScriptBench> e(28);
    e.b.fixedA = true;
    // Ticks keep coming while the exchange hangs and while "Communication Error" is up.
    e.onReport = [&](LogReport r) {
        if (r == LogReport::CommError) {
            e.engine.OnTick(e.sample);
            e.engine.OnTick(e.sample);
        }
    };
    ASSERT_EQ(e.Begin(0x0001), 0);
    ASSERT_EQ(e.engine.Cycle(e.sample), DataLoggingEngine::kRowMade);
    e.b.silent = true;
    EXPECT_EQ(e.engine.Cycle(e.sample), DataLoggingEngine::kCommFailure);
    EXPECT_FALSE(e.active.load());
    EXPECT_FALSE(e.sample.IsSet());  // the stop took the pending ticks with it
    EXPECT_EQ(e.engine.EntryCount(), 1);
    EXPECT_GE(e.Sent(LogReport::LinkLost), 1);
    EXPECT_EQ(e.Sent(LogReport::CommError), 1);
    // One box from the link's last attempt, one from the view's handler: none for the ticks.
    const auto texts = e.b.op.MessageTexts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Communication Error"), 2);
    auto lines = CrLfLines(e.Path());
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
              (std::vector<std::string>{"9:5:7,23.456", "Number of entries = 1",
                                        "Data logging terminated at 12/8/2026 9:5:7 ",
                                        "Exit due to Communication Error."}));
    // A tick that still reaches the thread finds no run: nothing is sent, written or shown.
    e.b.silent = false;
    e.engine.OnTick(e.sample);
    const size_t sent = e.b.instrument.Lines().size();
    const size_t reports = e.sent.size();
    EXPECT_EQ(e.engine.Cycle(e.sample), DataLoggingEngine::kNoRun);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(e.b.instrument.Lines().size(), sent);
    EXPECT_EQ(e.sent.size(), reports);
    EXPECT_EQ(CrLfLines(e.Path()), lines);
    EXPECT_EQ(e.engine.EntryCount(), 1);
}

TEST(DataLogging, TheIntervalIsStoredOnEveryWayOutOfTheStart) {
    struct Case {
        const char* name;
        DialogOutcome outcome;
        bool saveChosen;
        const char* stored;
    };
    for (const Case c : {Case{"cancel after apply", DialogOutcome::Cancel, false, "12.500000"},
                         Case{"save dialog cancelled", DialogOutcome::Ok, false, "12.500000"}}) {
        EngineBench<ScriptBench> e(28);
        e.b.op.logSetupAnswers.push_back([&](DataLogSetupModel m) {
            m.interval = 12.5;
            m.mask = 1;
            return DialogResult<DataLogSetupModel>{c.outcome, m};
        });
        EXPECT_NE(e.engine.Start(e.b.op, e.timer), 0) << c.name;
        EXPECT_EQ(e.b.settings.GetString("LOG", "INTERVAL", ""), c.stored) << c.name;
        EXPECT_EQ(e.interval, 12.5);
        EXPECT_EQ(e.timer.sets, 0);
        EXPECT_FALSE(std::filesystem::exists(e.Path()));
    }
}

TEST(DataLogging, ATooLongIdentificationStartsNoRun) {
    EngineBench<PtyLinkBench> e(28, [](const std::string& line) -> std::optional<std::string> {
        if (line == "*idn?;") return std::string(65, 'M');
        return std::nullopt;
    });
    EXPECT_NE(e.Begin(0x0001), 0);
    EXPECT_EQ(e.b.op.MessageTexts(),
              std::vector<std::string>{
                  "ID response is too long.\n \t\t\t            The unit is not functioning "
                  "correctly."});
    EXPECT_FALSE(std::filesystem::exists(e.Path()));
    EXPECT_FALSE(e.active.load());
}

TEST(DataLogging, AnUnwritableFileIsReportedOnceAndStopsTheRun) {
    // A folder that is not there: nothing starts.
    {
        EngineBench<ScriptBench> e(28);
        const std::string path = e.b.dir.Str() + "/gone/run.csv";
        EXPECT_NE(e.engine.BeginRun(1, 0.5, path, e.timer), 0);
        ASSERT_EQ(e.b.op.messages.size(), 1u);
        EXPECT_NE(e.b.op.messages[0].text.find(path), std::string::npos);
        EXPECT_EQ(e.b.op.messages[0].icon, MessageIcon::Stop);
        EXPECT_EQ(e.b.log.lines.size(), 1u);
        EXPECT_FALSE(e.active.load());
        EXPECT_EQ(e.timer.sets, 0);
    }
    // The folder removed during the run: the row is not written, the run stops, once.
    {
        EngineBench<ScriptBench> e(28);
        const std::string dir = e.b.dir.Str() + "/logs";
        std::filesystem::create_directory(dir);
        ASSERT_EQ(e.engine.BeginRun(1, 0.5, dir + "/run.csv", e.timer), 0);
        ASSERT_EQ(e.engine.Cycle(e.sample), 0);
        std::filesystem::remove_all(dir);
        EXPECT_EQ(e.engine.Cycle(e.sample), DataLoggingEngine::kWriteFailure);
        EXPECT_FALSE(e.active.load());
        EXPECT_EQ(e.timer.kills, 1);
        EXPECT_EQ(e.engine.Cycle(e.sample), DataLoggingEngine::kNoRun);
        EXPECT_EQ(e.b.op.messages.size(), 1u);
        EXPECT_FALSE(std::filesystem::exists(dir));
    }
    // A full disk.
    {
        EngineBench<ScriptBench> e(28);
        EXPECT_NE(e.engine.BeginRun(1, 0.5, "/dev/full", e.timer), 0);
        ASSERT_EQ(e.b.op.messages.size(), 1u);
        EXPECT_NE(e.b.op.messages[0].text.find("/dev/full"), std::string::npos);
        EXPECT_FALSE(e.active.load());
        EXPECT_EQ(e.timer.sets, 0);
    }
}

TEST(DataLogging, TicksDuringACycleCoalesceIntoOneFurtherCycleAndAreCounted) {
    EngineBench<ScriptBench> e(28);
    ASSERT_EQ(e.Begin(1), 0);
    e.engine.OnTick(e.sample);
    e.engine.OnTick(e.sample);
    e.engine.OnTick(e.sample);
    EXPECT_EQ(e.engine.ticks.load(), 3);
    EXPECT_EQ(e.engine.coalescedTicks.load(), 2);
    ManualResetEvent quit;
    std::thread t([&] { e.engine.RunSamplingThread(quit, e.sample); });
    for (int i = 0; i < 200 && e.engine.cyclesMade.load() < 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    quit.Set();
    t.join();
    EXPECT_EQ(e.engine.cyclesMade.load(), 1);
    EXPECT_EQ(e.engine.rowsWritten.load(), 1);
}

TEST(DeadlinePacer, TicksKeepToAbsoluteDeadlinesAndCountSkippedOnes) {
    std::atomic<int> ticks{0};
    std::atomic<bool> slow{false};
    DeadlinePacer pacer([&] {
        ++ticks;
        if (slow.exchange(false)) std::this_thread::sleep_for(std::chrono::milliseconds(75));
    });
    slow = true;
    pacer.SetTimer(100, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(210));
    pacer.KillTimer(100);
    const int n = ticks.load();
    // The slow first tick costs its missed deadlines, not a shift of all later ones.
    EXPECT_GE(n + pacer.Skipped(), 8);
    EXPECT_LE(n + pacer.Skipped(), 11);
    EXPECT_GE(pacer.Skipped(), 2);
}

TEST(DataLogging, AReplyThatDoesNotFillTheColumnsIsCountedNotWritten) {
    struct Case {
        LogSourceMask mask;
        int model;
        std::string reply;
        std::string row;  // empty: a bad reply
    };
    const std::vector<Case> cases = {
        {0x0003, 28, "", ""},
        {0x0003, 28, "1.5", ""},
        {0x0003, 28, "1.5;9;9", ""},
        {0x0003, 28, "1.5,9,9,9;2.5", ""},
        {0x0001, 28, "", ""},
        {0x0100, 28, "45.00", ""},  // heater 1 fills two columns
        {0x0003, 28, "1.5\x1b[2J", ""},
        // Both batches of eight inputs are checked, each against its own columns.
        {0x00FF, 29, "1;2;3", ""},
        // Instrument words stay as they came.
        {0x0003, 28, "OVER;1.5", "9:5:7,OVER,1.5"},
        {0x0100, 28, "45.00;2", "9:5:7,45.00,2"},
        {0x00FF, 29, "1;2;3;4", "9:5:7,1,2,3,4,1,2,3,4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        EngineBench<ReplyBench> e(c.model);
        ASSERT_EQ(e.Begin(c.mask), 0);
        const size_t header = CrLfLines(e.Path()).size();
        e.b.Set(c.reply);
        if (!c.row.empty()) {
            EXPECT_EQ(e.engine.Cycle(e.sample), DataLoggingEngine::kRowMade);
            EXPECT_EQ(CrLfLines(e.Path()).back(), c.row);
            EXPECT_EQ(e.engine.badReplies.load(), 0);
            continue;
        }
        EXPECT_EQ(e.engine.Cycle(e.sample), DataLoggingEngine::kBadReply);
        EXPECT_EQ(CrLfLines(e.Path()).size(), header);
        EXPECT_TRUE(e.active.load());  // the run goes on
        EXPECT_EQ(e.Sent(LogReport::BadReply), 1);
        EXPECT_EQ(e.Sent(LogReport::CommError), 0);
        EXPECT_TRUE(e.b.op.messages.empty());
        ASSERT_EQ(e.b.log.lines.size(), 2u);
        EXPECT_EQ(e.b.log.lines[1].rfind("Reply not logged at 9:5:7, ", 0), 0u) << e.b.log.lines[1];
        for (char ch : e.b.log.lines[1].substr(0, e.b.log.lines[1].size() - 1))
            EXPECT_TRUE(ch >= 0x20 && ch < 0x7F) << e.b.log.lines[1];
        // A good reply next: one row, and the counts say what happened.
        std::string good;
        for (int i = 0; i < kLogSourceCount; ++i)
            if (c.mask & kLogSources[static_cast<size_t>(i)].maskBit)
                good += std::string(good.empty() ? "" : ";") + (i == 8 ? "45.00;2" : "7");
        if (c.mask == 0x00FF) good = "1;2;3;4";
        e.b.Set(good);
        EXPECT_EQ(e.engine.Cycle(e.sample), DataLoggingEngine::kRowMade);
        EXPECT_EQ(e.progress.Model().entriesText, "1");
        e.progress.PressStop();
        const auto lines = CrLfLines(e.Path());
        EXPECT_EQ(lines.size(), header + 3);
        EXPECT_EQ(lines[lines.size() - 2], "Number of entries = 1");
        EXPECT_EQ(e.b.log.lines.back(), "Bad replies not logged as rows: 1\n");
    }
}

TEST(DataLogging, ASampleThatFindsTheInstrumentBusyIsSkippedAndTheRunGoesOn) {
    EngineBench<ScriptBench> e(28);
    e.b.fixedA = true;
    ASSERT_EQ(e.Begin(0x0001), 0);
    std::atomic<bool> held{false};
    std::thread other([&] {
        SessionLock lock(e.b.mutex, 0);
        held = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    });
    while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(e.engine.Cycle(e.sample), DataLoggingEngine::kBusy);
    // A monitor's poll meets the same busy instrument: skipped, not a lost link.
    MonitorPoller::OpenFlags open{};
    open[1] = 1;
    int lost = 0;
    MonitorPoller poller(
        e.b.link, e.b.mutex, open, [] { return 1.0; }, [](int, const MonitorReading&) {},
        [&] { ++lost; });
    EXPECT_EQ(poller.Step(), 1);
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(poller.busySkips.load(), 1);
    other.join();
    EXPECT_TRUE(e.active.load());
    EXPECT_TRUE(e.sent.empty());
    EXPECT_TRUE(e.b.op.messages.empty());
    EXPECT_EQ(e.engine.Cycle(e.sample), DataLoggingEngine::kRowMade);
    e.progress.PressStop();
    const auto lines = CrLfLines(e.Path());
    EXPECT_EQ(lines[lines.size() - 2], "Number of entries = 1");
    EXPECT_EQ(e.b.log.lines.back(), "Samples skipped, instrument busy: 1\n");
}

TEST(DataLogging, StartAndUploadLeaveTheInstrumentToOthersWhileTheOperatorIsAsked) {
    std::atomic<bool> longId{false};
    EngineBench<WatchBench> e(28, [&](const std::string& line) -> std::optional<std::string> {
        if (line.empty()) return std::nullopt;
        if (line == "*idn?;" && longId) return std::string(65, 'M');
        if (line == "DLog:State?") return std::string("ON");
        if (line == "DLog:Count?") return std::string("2");
        if (line == "DLog:Read?") return std::string("1,a\r\n2,b\r\n;");
        if (line.rfind("DLog:State ", 0) == 0) return std::nullopt;
        return Answer(line, Values);
    });
    // Monitors A and B poll on their own thread, one every 0.1 s.
    MonitorPoller::OpenFlags open{};
    open[0] = open[1] = 1;
    std::atomic<int> polls{0}, lost{0};
    MonitorPoller poller(
        e.b.link, e.b.mutex, open, [] { return 0.2; }, [&](int, const MonitorReading&) { ++polls; },
        [&] { ++lost; });
    ManualResetEvent quit;
    std::thread monitors([&] { poller.Run(quit); });
    // Inside every dialog and box the lock is free, and the monitors (and the run, once it is
    // on) go on before the operator answers.
    std::atomic<bool> runOn{false};
    int heldWhileAsked = 0, stalled = 0;
    e.b.op.whileAsked = [&] {
        if (!LockFreeForOthers(e.b.mutex)) ++heldWhileAsked;
        const int p = polls;
        const long r = e.engine.rowsWritten;
        if (!WaitUntil([&] { return polls > p && (!runOn || e.engine.rowsWritten > r); }))
            ++stalled;
    };
    auto setup = [&] {
        e.b.op.logSetupAnswers.push_back([](DataLogSetupModel m) {
            m.mask = 0x0001;
            m.interval = 0.1;
            return DialogResult<DataLogSetupModel>::Accept(m);
        });
        e.b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(e.Path()));
    };
    DeadlinePacer pacer([&] { e.engine.OnTick(e.sample); });

    // A start that ends in a box: the setup, the file and the box.
    longId = true;
    setup();
    EXPECT_NE(e.engine.Start(e.b.op, pacer), 0);
    EXPECT_EQ(e.b.op.asked, 3);
    // A run, and the internal log's upload while it is on.
    longId = false;
    setup();
    ASSERT_EQ(e.engine.Start(e.b.op, pacer), 0);
    ManualResetEvent stopSampling;
    std::thread sampler([&] { e.engine.RunSamplingThread(stopSampling, e.sample); });
    runOn = true;
    const std::string upload = e.b.dir.Str() + "/internal.csv";
    e.b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(upload));
    DataLogUploadContext ctx{e.b.link, e.b.mutex, e.b.op, e.b.log, nullptr};
    EXPECT_EQ(UploadInternalDataLog(ctx), 0);
    EXPECT_TRUE(e.engine.RunOpen());
    runOn = false;
    pacer.KillTimer(DataLoggingEngine::kTimerId);
    stopSampling.Set();
    sampler.join();
    quit.Set();
    monitors.join();
    e.progress.PressStop();

    EXPECT_EQ(heldWhileAsked, 0);
    EXPECT_EQ(stalled, 0);
    EXPECT_EQ(lost.load(), 0);
    EXPECT_EQ(e.engine.failedCycles.load(), 0);
    EXPECT_EQ(e.Sent(LogReport::CommError), 0);
    EXPECT_EQ(e.b.op.MessageTexts(),
              (std::vector<std::string>{logging_texts::kIdTooLong, "Upload Complete"}));
    EXPECT_EQ(Slurp(upload), "1,a\n2,b\n;\n\n");
    EXPECT_GE(e.engine.rowsWritten.load(), 2);
}
