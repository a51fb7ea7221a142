#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

#include "StandInInstrument.h"
#include "TestSupport.h"
#include "charts/ChartExport.h"
#include "logging/DataLogUpload.h"
#include "logging/LoggingDialogs.h"
#include "logging/MonitorPoller.h"

using namespace tavrix;
using tavrix::test::CollectingLog;
using tavrix::test::PtyLinkBench;
using tavrix::test::ScriptedOperator;
using tavrix::test::SimLinkBench;
using tavrix::test::Slurp;
using tavrix::test::TempDir;

TEST(DataLogSetup, SelectAllChecksOnlyWhatTheModelOffers) {
    struct Case {
        int model;
        LogSourceMask expected;
    };
    // 28: four inputs, four loops; 32: two inputs, four loops; 29: eight inputs, no loops;
    // 27: four inputs, three loops.
    for (const Case c : {Case{28, 0xFF0F}, Case{32, 0xFF03}, Case{29, 0x00FF}, Case{27, 0x770F}}) {
        FeatureManager f;
        f.Update(c.model);
        DataLogSetupModel m;
        m.EnableFrom(f);
        m.SelectAll();
        EXPECT_EQ(m.mask, c.expected) << c.model;
    }
    // Select All clears nothing and leaves disabled boxes alone.
    FeatureManager f;
    f.Update(32);
    DataLogSetupModel m;
    m.EnableFrom(f);
    m.mask = 0x0010;
    m.SelectAll();
    EXPECT_EQ(m.mask, 0xFF13);
    m.Toggle(8);
    m.Toggle(8);
    EXPECT_TRUE(m.Checked(8));
    DataLogSetupModel fresh;
    fresh.Toggle(3);
    fresh.Toggle(3);
    EXPECT_EQ(fresh.mask, 0);
}

TEST(DataLogSetup, TheIntervalFieldTakesPointOneTo120000AndStartNeedsASource) {
    struct Case {
        const char* text;
        const char* message;
    };
    for (const Case c :
         {Case{"0.05", logging_texts::kIntervalRange},
          Case{"200000", logging_texts::kIntervalRange}, Case{"0.1", ""}, Case{"120000", ""},
          Case{" 2.5 ", ""}, Case{"abc", logging_texts::kEnterANumber},
          Case{"", logging_texts::kEnterANumber}, Case{"1e400", logging_texts::kEnterANumber}}) {
        DataLogSetupModel m;
        m.interval = 30.0;
        EXPECT_EQ(m.Apply(c.text), c.message) << c.text;
        if (*c.message) EXPECT_EQ(m.interval, 30.0) << c.text;
    }
    DataLogSetupModel m;
    EXPECT_EQ(m.Start("5"), "Please make channel selection as data source.");
    EXPECT_EQ(m.interval, 30.0);
    m.mask = 1;
    EXPECT_EQ(m.Start("5"), "");
    EXPECT_EQ(m.interval, 5.0);
    // The field opens with every digit of the interval: Start with it untouched keeps it.
    for (double v : {1234.5678, 0.1, 30.0, 119999.99999, 0.123456789012}) {
        m.interval = v;
        const std::string shown = m.IntervalText();
        EXPECT_EQ(m.Start(shown), "") << shown;
        EXPECT_EQ(m.interval, v) << shown;
    }
}

TEST(LoggingProgress, LabelsArePackedPerGroupAndTheFileTextIsChecked) {
    LoggingProgressModel m;
    for (int i : {1, 3, 9, 14}) EXPECT_TRUE(m.AddLabel(i));
    EXPECT_EQ(m.labels[0], "Channel B");
    EXPECT_EQ(m.labels[1], "Channel D");
    EXPECT_EQ(m.labels[8], "Heater2");
    EXPECT_EQ(m.labels[12], "Loop3 Setpoint");
    EXPECT_EQ(m.labels[2], "");
    EXPECT_EQ(m.labels[9], "");

    HeadlessProgressWindow w;
    int stops = 0;
    std::vector<std::string> shown;
    w.onStop = [&] { ++stops; };
    w.showMessage = [&](const std::string& s) { shown.push_back(s); };
    w.visible = true;
    w.Model().fileText = std::string(100, 'p');
    w.PressStop();
    EXPECT_FALSE(w.visible);
    w.visible = true;
    w.Model().fileText = std::string(101, 'p');
    w.PressStop();
    // Too long: the window stays open with the message, but the run still stops.
    EXPECT_TRUE(w.visible);
    EXPECT_EQ(shown, std::vector<std::string>{"Enter no more than 100 characters."});
    EXPECT_EQ(stops, 2);
}

TEST(Monitors, RepliesSplitIntoValueUnitAndName) {
    struct Case {
        int index;
        const char* reply;
        MonitorReading r;
    };
    const Case cases[] = {
        {0, "77.300;K;Sample stage", {"77.300", "K", "Sample stage"}},
        {3, "12.5;C;", {"12.5", "C", ""}},
        {8, "45.20;Heater 1", {"45.20", "%", "Heater 1"}},
        {11, "0.00;", {"0.00", "%", ""}},
        // A missing ";" leaves the whole text for what follows.
        {0, "garbage", {"", "", "garbage"}},
        {10, "garbage", {"", "%", "garbage"}},
        {1, "", {"", "", ""}},
    };
    for (const Case& c : cases) {
        const MonitorReading r = ParseMonitorReply(c.index, c.reply);
        EXPECT_EQ(r.value, c.r.value) << c.reply;
        EXPECT_EQ(r.unit, c.r.unit) << c.reply;
        EXPECT_EQ(r.name, c.r.name) << c.reply;
    }
}

TEST(Monitors, AUnitChangeStartsAFreshChartAndANameChangeKeepsTheSamples) {
    StripChartModel chart(100);
    EXPECT_EQ(ApplyMonitorReading(chart, {"77.3", "K", "Stage"}, "09:00:00"),
              StripChartModel::Redraw::Rebuild);
    ApplyMonitorReading(chart, {"77.4", "K", "Stage"}, "09:00:01");
    EXPECT_EQ(chart.Labels()[98], "09:00:00");
    ApplyMonitorReading(chart, {"77.5", "K", "Cold plate"}, "09:00:02");
    EXPECT_EQ(chart.Labels()[97], "09:00:00");
    EXPECT_EQ(chart.Name(), "Cold plate");
    ApplyMonitorReading(chart, {"-195.6", "C", "Cold plate"}, "09:00:03");
    EXPECT_EQ(chart.Unit(), "C");
    EXPECT_EQ(chart.Labels()[98], "");
    EXPECT_EQ(chart.Labels()[99], "09:00:03");
    EXPECT_FLOAT_EQ(chart.Values()[99], -195.6f);
    // Copy Data: the filled places only, oldest first.
    EXPECT_EQ(ChartDataCsv(chart), "Time,Cold plate (C)\n09:00:03,-195.6\n");
    const std::string svg = ChartSvg(chart);
    EXPECT_EQ(svg.rfind("<svg", 0), 0u);
    EXPECT_NE(svg.find("<polyline"), std::string::npos);
    StripChartModel hostile(3);
    hostile.SetName("<b>\"x\"</b>,y");
    EXPECT_EQ(ChartSvg(hostile).find("<b>"), std::string::npos);
    EXPECT_EQ(ChartDataCsv(hostile).substr(0, 26), "Time,\"<b>\"\"x\"\"</b>,y ()\"\n");
}

TEST(Monitors, PollsAreSpreadOverTheIntervalAndSkipClosedMonitors) {
    PtyLinkBench b([&](const std::string& line) -> std::optional<std::string> {
        if (line.empty()) return std::nullopt;
        if (line.rfind("INP", 0) == 0) return std::string("1.5;K;Name");
        return std::string("20.0;Out");
    });
    MonitorPoller::OpenFlags open{};
    double interval = 30.0;
    std::vector<int> reported;
    int lost = 0;
    MonitorPoller p(
        b.link, b.mutex, open, [&] { return interval; },
        [&](int i, const MonitorReading&) { reported.push_back(i); }, [&] { ++lost; });
    EXPECT_EQ(p.WaitMs(), 30000);
    open[0] = open[1] = open[8] = 1;
    EXPECT_EQ(p.WaitMs(), 10000);
    interval = 0.1;
    EXPECT_EQ(p.WaitMs(), 33);
    // The first poll is monitor 1; then 8, then 0 after wrapping.
    std::vector<int> polled;
    for (int k = 0; k < 12; ++k) polled.push_back(p.Step());
    EXPECT_EQ(polled, (std::vector<int>{1, -1, -1, -1, -1, -1, -1, 8, -1, -1, -1, 0}));
    EXPECT_EQ(reported, (std::vector<int>{1, 8, 0}));
    std::vector<std::string> lines;
    for (const auto& l : b.instrument.Lines())
        if (!l.empty()) lines.push_back(l);
    EXPECT_EQ(lines, (std::vector<std::string>{"INP B:TEMP?;UNIT?;NAME?;", "LOOP 1:HTRR?NAME?;",
                                               "INP A:TEMP?;UNIT?;NAME?;"}));
    // A closed monitor is no longer polled.
    open[1] = 0;
    for (int k = 0; k < 12; ++k) p.Step();
    EXPECT_EQ(reported, (std::vector<int>{1, 8, 0, 8, 0}));
    EXPECT_EQ(lost, 0);
}

TEST(Monitors, AnIntervalOutsideTheSetupsRangeNeverMakesThePollerSpin) {
    std::atomic<int> queries{0};
    PtyLinkBench b([&](const std::string& line) -> std::optional<std::string> {
        if (line.empty()) return std::nullopt;
        ++queries;
        return std::string("1.5;K;Name");
    });
    MonitorPoller::OpenFlags open{};
    open[0] = 1;
    std::atomic<double> interval{0.0};
    MonitorPoller p(
        b.link, b.mutex, open, [&] { return interval.load(); }, [](int, const MonitorReading&) {},
        [] {});
    for (double bad : {0.0, -1.0, 0.05, 1e9, std::nan(""), HUGE_VAL}) {
        interval = bad;
        EXPECT_EQ(p.WaitMs(), 30000) << bad;
    }
    interval = 0.0;
    ManualResetEvent quit;
    std::thread t([&] { p.Run(quit); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    quit.Set();
    t.join();
    EXPECT_EQ(queries.load(), 0);
}

TEST(DataLogUpload, TheFileHoldsTheRecordsAndTheLogStateIsRestored) {
    SimLinkBench b(28);
    b.link.StartUp();
    DataLogUploadContext ctx{b.link, b.mutex, b.op, b.log, [](std::chrono::milliseconds) {}};
    std::string count;
    ASSERT_EQ(b.link.Query("DLog:Count?", count), 0);
    const std::string path = b.dir.Str() + "/internal.csv";
    b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(path));
    ASSERT_EQ(UploadInternalDataLog(ctx), 0);
    EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{"Upload Complete"});
    const std::string bytes = Slurp(path);
    EXPECT_EQ(bytes.find('\r'), std::string::npos);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\n\n");
    EXPECT_EQ(bytes.rfind("1,", 0), 0u) << bytes.substr(0, 40);
    EXPECT_EQ(b.log.lines.back(), "Internal DataLog is uploaded to " + path + "\n");
    std::string state;
    ASSERT_EQ(b.link.Query("DLog:State?", state), 0);
    EXPECT_EQ(state, "ON");
}

TEST(DataLogUpload, PausesTheLogAndPutsBackTheEarlierWordOverRs232) {
    std::atomic<bool> dropTable{false};
    PtyLinkBench b([&](const std::string& line) -> std::optional<std::string> {
        if (line.empty()) return std::nullopt;
        if (line == "*IDN?") return std::string("Orvella Model 3028,1,2.04");
        if (line == "DLog:State?") return std::string("LOGGING");
        if (line == "DLog:Count?") return std::string("2");
        if (line == "DLog:Read?") {
            if (dropTable) return std::nullopt;
            return std::string("1,a\r\n2,b\r\n;");
        }
        return std::nullopt;
    });
    DataLogUploadContext ctx{b.link, b.mutex, b.op, b.log, [](std::chrono::milliseconds) {}};
    const std::string path = b.dir.Str() + "/up.csv";
    b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(path));
    // The lines the instrument got since `from` (a command's line may still be on its way).
    size_t from = 0;
    auto sent = [&](size_t expected) {
        std::vector<std::string> out;
        for (int i = 0; i < 100; ++i) {
            out.clear();
            const auto all = b.instrument.Lines();
            for (size_t k = from; k < all.size(); ++k)
                if (!all[k].empty()) out.push_back(all[k]);
            if (out.size() >= expected) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        from = b.instrument.Lines().size();
        return out;
    };
    ASSERT_EQ(UploadInternalDataLog(ctx), 0);
    EXPECT_EQ(sent(7),
              (std::vector<std::string>{"*IDN?", "DLog:State?", "DLog:State off", "DLog:Count?",
                                        "DLog:Read?", "DLog:State LOGGING", "DLog:State?"}));
    EXPECT_EQ(Slurp(path), "1,a\n2,b\n;\n\n");

    // The transfer fails: the state is still put back and the earlier file stays as it was.
    b.op.messages.clear();
    dropTable = true;
    b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(path));
    EXPECT_NE(UploadInternalDataLog(ctx), 0);
    EXPECT_EQ(b.op.MessageTexts(),
              (std::vector<std::string>{"Communication Error", "Communication connection failed"}));
    EXPECT_EQ(Slurp(path), "1,a\n2,b\n;\n\n");
    const auto lines = sent(7);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "DLog:State LOGGING");
    for (const auto& entry : std::filesystem::directory_iterator(b.dir.Path()))
        EXPECT_NE(entry.path().filename().string().rfind(".up.csv", 0), 0u) << entry.path();
}

TEST(DataLogUpload, EveryWayOutRestoresTheLogAndKeepsAnEarlierFile) {
    using tavrix::test::StandInAnswer;
    using tavrix::test::StandInInstrument;
    enum class Fault { None, CancelFile, NoFolder, LostAtCount, LostAtRead, LostForGood, NotTaken };
    struct Case {
        const char* name;
        Fault fault;
        std::vector<std::string> messages;
        bool restored;  // "DLog:State ON" reached the instrument and was read back
        bool leftOff;   // the operator is told the log was left off
    };
    const std::string kLeftOff =
        "The instrument's internal data log was left off: it could not be set back to \"ON\". "
        "Send \"DLog:State ON\" when the instrument answers again.";
    const std::vector<Case> cases = {
        {"complete", Fault::None, {"Upload Complete"}, true, false},
        {"file dialog cancelled", Fault::CancelFile, {}, false, false},
        {"file cannot be made", Fault::NoFolder, {"Failed to create file."}, false, false},
        {"link lost at the count",
         Fault::LostAtCount,
         {"Communication Error", "Communication Error"},
         true,
         false},
        {"link lost in the table",
         Fault::LostAtRead,
         {"Communication connection failed"},
         true,
         false},
        {"link lost for good", Fault::LostForGood, {}, false, true},
        {"restore not taken", Fault::NotTaken, {"Upload Complete", kLeftOff}, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<bool> dead{false}, hungUp{false}, on{true};
        StandInInstrument in(
            StandInInstrument::Wire::Tcp,
            [&](const std::string& line, int) -> std::optional<StandInAnswer> {
                if (dead) return StandInAnswer{.hangUp = true};
                auto reply = [](std::string text) { return StandInAnswer{text + "\r\n"}; };
                if (line == "*IDN?") return reply("Orvella Model 3028,1,2.04");
                if (line == "DLog:State?") return reply(on ? "ON" : "OFF");
                if (line == "DLog:State off") on = false;
                if (line == "DLog:State ON" && c.fault != Fault::NotTaken) on = true;
                if (line == "DLog:Count?") {
                    if (c.fault == Fault::LostAtCount && !hungUp.exchange(true))
                        return StandInAnswer{.hangUp = true};
                    return reply("2");
                }
                if (line == "DLog:Read?") {
                    if (c.fault == Fault::LostForGood) dead = true;
                    if (c.fault == Fault::LostAtRead || c.fault == Fault::LostForGood)
                        return StandInAnswer{"1,a\r\n", 0, 0, true};
                    return StandInAnswer{"1,a\r\n2,b\r\n;\r\n"};
                }
                return std::nullopt;
            });
        TempDir dir;
        SettingsStore settings(dir.Str());
        ScriptedOperator op;
        CollectingLog log;
        CInstrumentLink link(op, settings);
        link.SetSerialDeviceOverride("/nonexistent/tty");
        link.StartUp();
        link.SetPortType(kPortLan);
        link.SetTableFloor(std::chrono::milliseconds(1000));
        link.Lan().SetTimeouts(1000, 600);
        link.IpAddr() = MyIPAddr(0x7F000001u, in.Port());
        ASSERT_EQ(link.LanConnect(), 1);
        SessionMutex mutex;
        DataLogUploadContext ctx{link, mutex, op, log, [](std::chrono::milliseconds) {}};
        const std::string path = dir.Str() + "/internal.csv";
        {
            std::ofstream earlier(path, std::ios::binary);
            earlier << "EARLIER\n";
        }
        if (c.fault == Fault::NoFolder)
            op.saveFileAnswers.push_back(
                DialogResult<std::string>::Accept(dir.Str() + "/gone/internal.csv"));
        else if (c.fault != Fault::CancelFile)
            op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(path));

        const int result = UploadInternalDataLog(ctx);
        EXPECT_EQ(result == 0, c.fault == Fault::None);
        auto texts = op.MessageTexts();
        if (c.fault == Fault::LostForGood) {
            // However many boxes the link shows on its way, the last one says what was left.
            ASSERT_FALSE(texts.empty());
            EXPECT_EQ(texts.back(), kLeftOff);
        } else {
            EXPECT_EQ(texts, c.messages);
        }
        const bool toldLeftOff =
            std::find(log.lines.begin(), log.lines.end(), kLeftOff + "\n") != log.lines.end();
        EXPECT_EQ(toldLeftOff, c.leftOff);
        const auto lines = in.Lines();
        const auto restore = std::find(lines.begin(), lines.end(), "DLog:State ON");
        if (c.restored) {
            EXPECT_TRUE(on.load());
            ASSERT_NE(restore, lines.end());
            ASSERT_NE(restore + 1, lines.end());
            EXPECT_EQ(*(restore + 1), "DLog:State?");  // read back
        }
        // Nothing was touched before the file could be made.
        if (c.fault == Fault::CancelFile || c.fault == Fault::NoFolder) {
            EXPECT_EQ(lines, std::vector<std::string>{"*IDN?"});
        }
        // A lost link is made again once to put the state back.
        if (c.fault == Fault::LostAtCount || c.fault == Fault::LostAtRead) {
            EXPECT_EQ(in.Connections(), 2);
        }
        EXPECT_EQ(Slurp(path), c.fault == Fault::None || c.fault == Fault::NotTaken
                                   ? "1,a\n2,b\n;\n\n"
                                   : "EARLIER\n");
        // No temporary file is left behind.
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
            EXPECT_NE(entry.path().filename().string().rfind(".internal.csv", 0), 0u)
                << entry.path();
    }
}
