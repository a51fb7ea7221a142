// The data log reader: what the logging engine writes reads back in time order, across
// midnight, gaps and cut-off runs; files that are not logs are refused with a reason.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

#include "TestSupport.h"
#include "logging/DataLogExport.h"
#include "logging/DataLogFile.h"
#include "logging/DataLoggingEngine.h"

using namespace tavrix;
using tavrix::test::SimLinkBench;
using tavrix::test::TempDir;

namespace {

// The tests place local times in a fixed zone with summer time.
struct ZoneGuard {
    ZoneGuard() {
        setenv("TZ", "Europe/Berlin", 1);
        tzset();
    }
    ~ZoneGuard() {
        unsetenv("TZ");
        tzset();
    }
};

std::string Write(const TempDir& dir, const std::string& name, const std::string& text) {
    const std::string path = dir.Str() + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// Text as the writer puts it on disk: CR LF line ends.
std::string CrLf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

const char* kHeader =
    "INP A name:Sample,unit:K\n"
    "INP B name:Stage, cold,unit:S\n"
    "LOOP 1 name:Main\n"
    "Sampling interval:    30.0 seconds\n"
    "Entry Number,Channel A,Channel B,Heater 1,RANGE,Loop1 Setpoint\n";

struct Read {
    bool ok = false;
    std::string error;
    DataLogFile file;
};

std::unique_ptr<Read> Open(const std::string& path) {
    auto r = std::make_unique<Read>();
    r->ok = r->file.Open(path, r->error);
    return r;
}

std::string Iso(double seconds) {
    return FormatIsoTime(InstantFromEpochMs(static_cast<int64_t>(std::llround(seconds * 1000))));
}

}  // namespace

TEST(DataLogFile, HeaderNamesUnitsAndRowsReadBack) {
    ZoneGuard zone;
    TempDir dir;
    const std::string path =
        Write(dir, "run.csv",
              CrLf(std::string(kHeader) + "Data logging started at 12/8/2026 9:5:7\n"
                                          "9:5:37,+23.456,+1.2E+03,+45.0,2,+25.000\n"
                                          "9:6:7,+23.460,T_OVER,+45.5,2,+25.000\n"
                                          "Number of entries = 2\n"
                                          "Data logging terminated at 12/8/2026 9:6:30 \n"));
    auto r = Open(path);
    ASSERT_TRUE(r->ok) << r->error;
    const DataLogInfo& info = r->file.Info();
    EXPECT_EQ(info.kind, DataLogKind::DataLog);
    EXPECT_EQ(info.interval, 30.0);
    ASSERT_EQ(info.columns.size(), 5u);
    EXPECT_EQ(info.columns[0].TidyName(), "A_Sample_K");
    // A name with a comma keeps it: the unit follows the last ",unit:".
    EXPECT_EQ(info.columns[1].name, "Stage, cold");
    EXPECT_EQ(info.columns[1].TidyName(), "B_Stage_cold_S");
    EXPECT_EQ(info.columns[2].TidyName(), "heater1_Main_pct");
    EXPECT_EQ(info.columns[3].TidyName(), "heater1_range");
    EXPECT_EQ(info.columns[4].TidyName(), "setpoint1_K");
    EXPECT_EQ(info.entriesLine, 2);
    EXPECT_TRUE(info.Closed());
    EXPECT_FALSE(info.exitCommError);
    ASSERT_EQ(r->file.RowCount(), 2u);
    EXPECT_EQ(Iso(r->file.Times()[0]), "2026-12-08T09:05:37.000+01:00");
    EXPECT_FLOAT_EQ(r->file.Values(0)[1], 23.46f);
    EXPECT_FLOAT_EQ(r->file.Values(1)[0], 1200.0f);
    EXPECT_TRUE(std::isnan(r->file.Values(1)[1]));  // the instrument's overload text
    EXPECT_EQ(r->file.ProblemCount(), 0u);
}

TEST(DataLogFile, RowsCrossMidnightAndTheClockGoingBackIsReported) {
    ZoneGuard zone;
    TempDir dir;
    const std::string path =
        Write(dir, "days.csv",
              CrLf(std::string(kHeader) +
                   "Data logging started at 12/31/2026 23:59:20\n"
                   "23:59:50,1,2,3,0,4\n"
                   "0:0:20,1,2,3,0,4\n"     // a new day, and a new year
                   "23:59:59,1,2,3,0,4\n"   // same day, later
                   "0:0:29,1,2,3,0,4\n"     // the next midnight
                   "0:0:10,1,2,3,0,4\n"     // the clock set back 19 s: same day, reported
                   "0:0:x,1,2,3,0,4\n"      // a time that cannot be placed: left out, reported
                   "0:1:10,1,2,3,0,4\n"));  // a run cut off: no closing lines
    auto r = Open(path);
    ASSERT_TRUE(r->ok) << r->error;
    ASSERT_EQ(r->file.RowCount(), 6u);
    const std::vector<std::string> want = {
        "2026-12-31T23:59:50.000+01:00", "2027-01-01T00:00:20.000+01:00",
        "2027-01-01T23:59:59.000+01:00", "2027-01-02T00:00:29.000+01:00",
        "2027-01-02T00:00:10.000+01:00", "2027-01-02T00:01:10.000+01:00"};
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(Iso(r->file.Times()[i]), want[i]) << i;
    ASSERT_EQ(r->file.ProblemCount(), 2u);
    EXPECT_EQ(r->file.Problems()[0].line, 11u);
    EXPECT_NE(r->file.Problems()[0].what.find("clock went back from 0:0:29 to 0:0:10"),
              std::string::npos);
    EXPECT_EQ(r->file.Problems()[1].line, 12u);
    EXPECT_NE(r->file.Problems()[1].what.find("cannot be placed"), std::string::npos);
    EXPECT_FALSE(r->file.Info().Closed());
}

TEST(DataLogFile, SummerTimeGivesEachRowItsOwnOffset) {
    ZoneGuard zone;
    TempDir dir;
    const std::string path =
        Write(dir, "dst.csv",
              CrLf(std::string(kHeader) + "Data logging started at 3/29/2026 1:59:0\n"
                                          "1:59:30,1,2,3,0,4\n"
                                          "3:0:0,1,2,3,0,4\n"));
    auto r = Open(path);
    ASSERT_TRUE(r->ok) << r->error;
    ASSERT_EQ(r->file.RowCount(), 2u);
    // 1:59:30 CET and 3:00:00 CEST are 30 s apart.
    EXPECT_DOUBLE_EQ(r->file.Times()[1] - r->file.Times()[0], 30.0);
    EXPECT_EQ(Iso(r->file.Times()[1]), "2026-03-29T03:00:00.000+02:00");
}

TEST(DataLogFile, CommunicationLossesAreGapsAndReanchorTheDate) {
    ZoneGuard zone;
    TempDir dir;
    const std::string path =
        Write(dir, "gap.csv",
              CrLf(std::string(kHeader) + "Data logging started at 12/8/2026 22:0:0\n"
                                          "22:0:30,1,2,3,0,4\n"
                                          "Communication lost at 12/8/2026 22:0:45\n"
                                          // Away for more than a day: the stamps carry the date.
                                          "Communication restored at 12/10/2026 1:0:0\n"
                                          "1:0:30,1,2,3,0,4\n"
                                          "Communication lost at 12/10/2026 1:0:40\n"
                                          "Number of entries = 2\n"
                                          "Data logging terminated at 12/10/2026 1:0:41 \n"
                                          "Exit due to Communication Error.\n"));
    auto r = Open(path);
    ASSERT_TRUE(r->ok) << r->error;
    ASSERT_EQ(r->file.RowCount(), 2u);
    EXPECT_EQ(Iso(r->file.Times()[1]), "2026-12-10T01:00:30.000+01:00");
    ASSERT_EQ(r->file.Gaps().size(), 2u);
    EXPECT_EQ(r->file.Gaps()[0].beforeRow, 1u);
    EXPECT_EQ(FormatIsoTime(r->file.Gaps()[0].from), "2026-12-08T22:00:45.000+01:00");
    EXPECT_EQ(r->file.Gaps()[0].toMs, LocalInstant({2026, 12, 10, 1, 0, 0}).epochMs);
    EXPECT_EQ(r->file.Gaps()[1].toMs, -1);  // never restored
    EXPECT_TRUE(r->file.Info().exitCommError);
    EXPECT_EQ(r->file.ProblemCount(), 0u);
}

TEST(DataLogFile, IsoRowsCarryTheirOwnDateAndOffset) {
    ZoneGuard zone;
    TempDir dir;
    const std::string path =
        Write(dir, "iso.csv",
              CrLf(std::string(kHeader) + "Data logging started at 12/8/2026 23:59:59\n"
                                          "2026-12-08T23:59:59.950+01:00,1,2,3,0,4\n"
                                          "2026-12-09T00:00:00.050+01:00,1,2,3,0,4\n"
                                          "2026-12-08T23:00:00.150Z,1,2,3,0,4\n"));
    auto r = Open(path);
    ASSERT_TRUE(r->ok) << r->error;
    EXPECT_TRUE(r->file.Info().isoTimes);
    ASSERT_EQ(r->file.RowCount(), 3u);
    EXPECT_NEAR(r->file.Times()[1] - r->file.Times()[0], 0.1, 1e-6);
    EXPECT_NEAR(r->file.Times()[2] - r->file.Times()[1], 0.1, 1e-6);
}

TEST(DataLogFile, FilesThatAreNotLogsOrHaveDamagedHeadersAreRefused) {
    TempDir dir;
    struct Case {
        const char* text;
        const char* says;
    } cases[] = {
        {"", "not a data log: the file is empty"},
        {"Number,Name\r\n1,2\r\n", "not a data log: its first line \"Number,Name\""},
        {"\x89PNG\r\n\x1a\n", "not a data log"},
        {"INP A name:x,unit:K\r\nSampling interval:    30.0 seconds\r\n",
         "ends before the \"Data logging started at\" line"},
        {"INP A name:x,unit:K\r\nSampling interval:    30.0 seconds\r\n"
         "Data logging started at 12/8/2026 9:5:7\r\n",
         "line 3 starts the run before the column header"},
        {"INP A name:x,unit:K\r\nEntry Number,Channel A\r\n9:5:7,1\r\n",
         "line 3 is a row before the \"Data logging started at\" line"},
        {"INP A name:x,unit:K\r\nEntry Number,Channel A\r\n"
         "Data logging started at 13/40/2026 9:5:7\r\n",
         "line 3 has no valid start date"},
        {"INP A name:x,unit:K\r\nINP A garbage here\r\n", "line 2 \"INP A garbage here\" is not"},
        {"INP Q name:x,unit:K\r\n", "names an input that does not exist"},
    };
    for (const Case& c : cases) {
        const std::string path = Write(dir, "bad.csv", c.text);
        auto r = Open(path);
        EXPECT_FALSE(r->ok) << c.text;
        EXPECT_NE(r->error.find(c.says), std::string::npos) << r->error;
        EXPECT_EQ(r->error.rfind(path, 0), 0u) << "the message names the file: " << r->error;
    }
    std::string error;
    DataLogFile f;
    EXPECT_FALSE(f.Open(dir.Str(), error));  // a folder
    EXPECT_FALSE(f.Open(dir.Str() + "/missing.csv", error));
    EXPECT_NE(error.find("No such file"), std::string::npos);
}

TEST(DataLogFile, ARunStoppedBeforeItsHeaderWasCompleteReadsAsClosedAndEmpty) {
    TempDir dir;
    // A name query failed: the header so far, then the closing lines.
    const std::string path = Write(dir, "cut.csv",
                                   "INP A name:x,unit:K\r\nNumber of entries = 0\r\n"
                                   "Data logging terminated at 12/8/2026 9:5:7 \r\n");
    auto r = Open(path);
    ASSERT_TRUE(r->ok) << r->error;
    EXPECT_EQ(r->file.RowCount(), 0u);
    EXPECT_TRUE(r->file.Info().Closed());
}

TEST(DataLogFile, AGrowingFileIsFollowedLineByLineWhateverTheLineEnds) {
    ZoneGuard zone;
    TempDir dir;
    const std::string path = Write(
        dir, "grow.csv", CrLf(std::string(kHeader) + "Data logging started at 12/8/2026 9:0:0\n"));
    auto r = Open(path);
    ASSERT_TRUE(r->ok) << r->error;
    EXPECT_EQ(r->file.RowCount(), 0u);
    std::string error;
    auto append = [&](const std::string& text) {
        std::ofstream(path, std::ios::binary | std::ios::app) << text;
    };
    append("9:0:30,1,2,3,0,4\r");  // the CR arrives first, the LF later
    EXPECT_EQ(r->file.Refresh(error), 1);
    append("\n9:1:0,1,2,3,0,");  // half a row: not read yet
    EXPECT_EQ(r->file.Refresh(error), 0);
    append("4\r\n9:1:30,5,2,3,0,4\r");  // a reply that ended in CR: a CR-only row end
    EXPECT_EQ(r->file.Refresh(error), 2);
    append("9:2:0,6,2,3,0,4\r\n");
    EXPECT_EQ(r->file.Refresh(error), 1);
    ASSERT_EQ(r->file.RowCount(), 4u);
    EXPECT_FLOAT_EQ(r->file.Values(0)[3], 6.0f);
    EXPECT_EQ(r->file.ProblemCount(), 0u) << r->file.Problems()[0].what;

    // A file replaced or cut back under the viewer is said so.
    Write(dir, "grow.csv", CrLf(kHeader));
    EXPECT_EQ(r->file.Refresh(error), -1);
    EXPECT_NE(error.find("replaced or cut back"), std::string::npos) << error;
}

TEST(DataLogFile, AnUploadedInternalLogIsDatedFromItsFileTime) {
    ZoneGuard zone;
    TempDir dir;
    const std::string path = Write(dir, "internal.csv",
                                   "1,23:59:00,4.2000,77.1000\n"
                                   "2,23:59:30,4.2100,77.1100\n"
                                   "3,00:00:00,4.2200,77.1200\n"
                                   "4,00:00:30,4.2300,77.1300\n\n");
    // Uploaded on 12/9/2026 at 8:00: the last record is of that morning.
    utimbuf times{};
    times.modtime = static_cast<time_t>(LocalInstant({2026, 12, 9, 8, 0, 0}).epochMs / 1000);
    times.actime = times.modtime;
    ASSERT_EQ(utime(path.c_str(), &times), 0);
    auto r = Open(path);
    ASSERT_TRUE(r->ok) << r->error;
    EXPECT_EQ(r->file.Info().kind, DataLogKind::InternalLog);
    ASSERT_EQ(r->file.Info().columns.size(), 2u);
    EXPECT_EQ(r->file.Info().columns[1].TidyName(), "col2");
    ASSERT_EQ(r->file.RowCount(), 4u);
    EXPECT_EQ(Iso(r->file.Times()[0]), "2026-12-08T23:59:00.000+01:00");
    EXPECT_EQ(Iso(r->file.Times()[3]), "2026-12-09T00:00:30.000+01:00");
    EXPECT_FLOAT_EQ(r->file.Values(1)[2], 77.12f);
}

TEST(DataLogFile, ThreeDaysWrittenByTheEngineReadBackInOrder) {
    ZoneGuard zone;
    struct StepClock : LogClock {
        LocalTime t{2026, 12, 8, 18, 0, 0};
        LocalTime Now() override { return t; }
    } clock;
    struct NoTimer : LogTimer {
        int SetTimer(int id, int) override { return id; }
        void KillTimer(int) override {}
    } timer;
    SimLinkBench b(28);
    b.link.StartUp();
    b.features.Update(28);
    std::atomic<bool> active{false};
    HeadlessProgressWindow progress;
    ManualResetEvent sample;
    DataLoggingEngine* enginePtr = nullptr;
    DataLoggingEngine engine(LoggingContext{b.link, b.mutex, b.features, b.op, b.log, b.settings,
                                            active, [] { return 1200.0; }, [](double) {},
                                            [&](LogReport r) {
                                                if (r == LogReport::CommError)
                                                    enginePtr->OnCommError();
                                            }},
                             progress, clock);
    enginePtr = &engine;
    progress.onStop = [&] { engine.Stop(); };
    const std::string path = b.dir.Str() + "/three-days.csv";
    ASSERT_EQ(engine.BeginRun(0x0001 | 0x0002 | 0x0100, 1200.0, path, timer), 0);
    // Every twenty minutes for three days.
    const int64_t start = LocalInstant({2026, 12, 8, 18, 0, 0}).epochMs / 1000;
    const int cycles = 3 * 24 * 3;
    for (int i = 1; i <= cycles; ++i) {
        const LogInstant at = InstantFromEpochMs((start + i * 1200) * 1000);
        clock.t = {at.local.year, at.local.month,  at.local.day,
                   at.local.hour, at.local.minute, at.local.second};
        ASSERT_EQ(engine.Cycle(sample), 0);
    }
    progress.PressStop();

    auto r = Open(path);
    ASSERT_TRUE(r->ok) << r->error;
    EXPECT_EQ(r->file.Info().interval, 1200.0);
    EXPECT_EQ(r->file.Info().columns.size(), 4u);
    EXPECT_EQ(r->file.Info().entriesLine, cycles);
    EXPECT_TRUE(r->file.Info().Closed());
    ASSERT_EQ(r->file.RowCount(), static_cast<size_t>(cycles));
    for (size_t i = 0; i < r->file.RowCount(); ++i)
        ASSERT_DOUBLE_EQ(r->file.Times()[i], static_cast<double>(start + (i + 1) * 1200)) << i;
    EXPECT_EQ(r->file.ProblemCount(), 0u);
    for (size_t c = 0; c < 4; ++c) EXPECT_FALSE(std::isnan(r->file.Values(c).back())) << c;
}

TEST(DataLogFile, TheIsoTimeFormatGoesThroughARunAndBack) {
    ZoneGuard zone;
    struct StepClock : LogClock {
        LocalTime t{2026, 12, 8, 23, 59, 59, 900, 60};
        LocalTime Now() override { return t; }
    } clock;
    struct NoTimer : LogTimer {
        int SetTimer(int id, int) override { return id; }
        void KillTimer(int) override {}
    } timer;
    SimLinkBench b(28);
    b.link.StartUp();
    b.features.Update(28);
    ASSERT_TRUE(b.settings.WriteString("LOG", "TIMEFORMAT", "iso"));
    std::atomic<bool> active{false};
    HeadlessProgressWindow progress;
    ManualResetEvent sample;
    DataLoggingEngine engine(
        LoggingContext{b.link, b.mutex, b.features, b.op, b.log, b.settings, active,
                       [] { return 0.1; }, [](double) {}, [](LogReport) {}},
        progress, clock);
    progress.onStop = [&] { engine.Stop(); };
    const std::string path = b.dir.Str() + "/iso.csv";
    ASSERT_EQ(engine.BeginRun(0x0001, 0.1, path, timer), 0);
    ASSERT_EQ(engine.Cycle(sample), 0);
    clock.t = {2026, 12, 9, 0, 0, 0, 0, 60};
    ASSERT_EQ(engine.Cycle(sample), 0);
    clock.t = {2026, 12, 9, 0, 0, 0, 100, 60};
    ASSERT_EQ(engine.Cycle(sample), 0);
    progress.PressStop();
    const auto lines = test::CrLfLines(path);
    ASSERT_EQ(lines.size(), 9u);
    // Only the rows' times change; every other line is as always.
    EXPECT_EQ(lines[3], "Data logging started at 12/8/2026 23:59:59");
    EXPECT_EQ(lines[4].substr(0, 30), "2026-12-08T23:59:59.900+01:00,");
    EXPECT_EQ(lines[6].substr(0, 30), "2026-12-09T00:00:00.100+01:00,");
    EXPECT_EQ(lines[7], "Number of entries = 3");

    auto r = Open(path);
    ASSERT_TRUE(r->ok) << r->error;
    ASSERT_EQ(r->file.RowCount(), 3u);
    EXPECT_NEAR(r->file.Times()[2] - r->file.Times()[0], 0.2, 1e-6);
    EXPECT_EQ(Iso(r->file.Times()[2]), "2026-12-09T00:00:00.100+01:00");
}

TEST(DataLogFile, DecimationKeepsEachPixelColumnsExtremesInTimeOrder) {
    std::vector<double> t;
    std::vector<float> v;
    for (int i = 0; i < 100000; ++i) {
        t.push_back(i);
        v.push_back(static_cast<float>(std::sin(i * 0.01)));
    }
    v[50000] = 9.0f;  // one spike among thousands in its column
    v[50001] = std::nanf("");
    std::vector<size_t> out;
    DecimateMinMax(t, v, 0, t.size(), 0, 99999, 100, out);
    EXPECT_LE(out.size(), 4u * 100 + 2);
    EXPECT_TRUE(std::is_sorted(out.begin(), out.end()));
    EXPECT_NE(std::find(out.begin(), out.end(), 50000u), out.end());
    EXPECT_EQ(std::find(out.begin(), out.end(), 50001u), out.end());
    EXPECT_EQ(out.front(), 0u);
    EXPECT_EQ(out.back(), 99999u);
    // Zoomed in far enough, every row in the range (and one beyond each end) is drawn.
    DecimateMinMax(t, v, 0, t.size(), 1000, 1100, 100, out);
    ASSERT_EQ(out.size(), 103u);
    EXPECT_EQ(out.front(), 999u);
    EXPECT_EQ(out.back(), 1101u);
    // A stretch that ends before the range draws nothing, not even its last row.
    DecimateMinMax(t, v, 0, 500, 1000, 1100, 100, out);
    EXPECT_TRUE(out.empty());
    // A stretch between gaps keeps to its rows.
    DecimateMinMax(t, v, 2000, 2010, 0, 99999, 100, out);
    ASSERT_EQ(out.size(), 10u);
    EXPECT_EQ(out.front(), 2000u);
}

// Time marks fall on round steps where the span is a whole number of them.
TEST(DataLogFile, TimeMarksFallOnRoundSteps) {
    const std::pair<double, int> cases[] = {
        {4, 5},        // a mark each second
        {8, 9},        // still each second
        {30, 7},       // every 5 s
        {3600, 7},     // every 10 min
        {86400, 9},    // every 3 h
        {13, 7},       // no round step: the fallback
        {4.5, 7},      // not whole seconds
        {0, 7},        // nothing to mark
    };
    for (const auto& [span, marks] : cases) EXPECT_EQ(TimeMarkCount(span), marks) << span;
}

TEST(DataLogExport, TidyCsvHasOneHeaderIsoTimesExactValuesAndEmptyGapRows) {
    ZoneGuard zone;
    TempDir dir;
    const std::string log =
        Write(dir, "run.csv",
              CrLf(std::string(kHeader) + "Data logging started at 12/8/2026 9:5:7\n"
                                          "9:5:37,+23.456,+0.1234567,+45.0,2,+25.000\n"
                                          "Communication lost at 12/8/2026 9:5:50\n"
                                          "Communication restored at 12/8/2026 9:7:0\n"
                                          "9:7:7,+23.460,OVER,+45.5,2,+25.000\n"));
    const std::string out = dir.Str() + "/tidy.csv";
    TidyExportResult r;
    std::string error;
    ASSERT_EQ(ExportTidyCsv(log, out, {}, r, error), 0) << error;
    std::ifstream in(out, std::ios::binary);
    const std::string text(std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(text,
              "time,A_Sample_K,B_Stage_cold_S,heater1_Main_pct,heater1_range,setpoint1_K\n"
              "2026-12-08T09:05:37.000+01:00,23.456,0.1234567,45.0,2,25.000\n"
              "2026-12-08T09:05:50.000+01:00,,,,,\n"
              "2026-12-08T09:07:07.000+01:00,23.460,,45.5,2,25.000\n");
    EXPECT_EQ(r.rows, 2u);
    EXPECT_EQ(r.gaps, 1u);

    // A refused log leaves neither the target nor a partial file.
    const std::string bad = Write(dir, "bad.csv", "hello\n");
    EXPECT_EQ(ExportTidyCsv(bad, dir.Str() + "/never.csv", {}, r, error), -1);
    EXPECT_FALSE(std::ifstream(dir.Str() + "/never.csv").good());
    EXPECT_FALSE(std::ifstream(dir.Str() + "/never.csv.part").good());
}

TEST(DataLogExport, ColumnsAreChosenByNameAndTimesByRange) {
    ZoneGuard zone;
    DataLogInfo info;
    std::vector<DataLogColumn> cols = {{"Channel A", "A", "Sample", "K"},
                                       {"Heater 1", "heater1", "", "%"},
                                       {"RANGE", "heater1_range", "", ""}};
    std::vector<size_t> out;
    std::string error;
    ASSERT_TRUE(SelectColumns(cols, "heater1_range, a_sample_k", out, error)) << error;
    EXPECT_EQ(out, (std::vector<size_t>{2, 0}));
    EXPECT_FALSE(SelectColumns(cols, "A,Z", out, error));
    EXPECT_NE(error.find("no column \"z\" (it has A, heater1, heater1_range)"), std::string::npos);

    int64_t ms = 0;
    ASSERT_TRUE(ParseTimeArgument("2026-12-08T09:05:37", ms));
    EXPECT_EQ(ms, LocalInstant({2026, 12, 8, 9, 5, 37}).epochMs);
    ASSERT_TRUE(ParseTimeArgument("2026-12-08T08:05:37.5Z", ms));
    EXPECT_EQ(ms, LocalInstant({2026, 12, 8, 9, 5, 37}).epochMs + 500);
    ASSERT_TRUE(ParseTimeArgument("12/8/2026 9:5:37", ms));
    EXPECT_FALSE(ParseTimeArgument("yesterday", ms));
    EXPECT_FALSE(ParseTimeArgument("2026-02-30T00:00:00", ms));
}
