// The curve and PID table commands against the simulated controller and scripted instruments.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "StandInInstrument.h"
#include "TestSupport.h"
#include "base/SettingsStore.h"
#include "curves/CurveCommands.h"
#include "curves/CurveTexts.h"
#include "engine/SimEngine.h"
#include "engine/SimFrontEnds.h"

using namespace tavrix;
using tavrix::test::CollectingLog;
using tavrix::test::PtyLinkBench;
using tavrix::test::ScriptedOperator;
using tavrix::test::Slurp;
using tavrix::test::TempDir;
namespace ct = tavrix::curve_texts;

namespace {

std::string Data(const std::string& name) {
    return std::string(TAVRIX_TEST_DATA_DIR) + "/curves/" + name;
}

// The view's objects around a link to the simulated controller over RS232, LAN or GPIB.
struct SimCurveBench : tavrix::test::SimLinkBench {
    explicit SimCurveBench(int portType)
        : SimLinkBench(28, portType == kPortGpib ? TAVRIX_GPIB_SIM_PATH : nullptr) {
        link.StartUp();
        link.SetPortType(portType);
        if (portType == kPortLan) {
            tcp.SetLineAcknowledgement(true);
            link.Lan().SetLineAcknowledgement(true);
            link.Lan().SetTimeouts(1000, 1000);
            link.IpAddr() = MyIPAddr(0x7F000001u, static_cast<unsigned long>(tcp.Port()));
            connected = link.LanConnect() == 1;
        } else {
            connected = true;
        }
        ctx.sleep = [this](std::chrono::milliseconds d) { sleeps.push_back(d); };
    }
    // Lines the instrument received (GPIB: the library's own engine is not reachable here).
    std::vector<std::string> Received() const { return engine.ReceivedLines(); }

    std::vector<std::chrono::milliseconds> sleeps;
    bool connected = false;
};

// Runs a download of `file` into user curve `position + 1`, the header accepted as is.
void Download(SimCurveBench& b, const std::string& file, int position) {
    b.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(file));
    b.op.headerAnswers.push_back(ScriptedOperator::AcceptHeader());
    b.op.userCurveAnswers.push_back(DialogResult<int>::Accept(position));
    DownloadCurve(b.ctx);
}

std::string Upload(SimCurveBench& b, int position) {
    const std::string out = b.dir.Str() + "/up" + std::to_string(position) + ".crv";
    b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(out));
    b.op.userCurveAnswers.push_back(DialogResult<int>::Accept(position));
    UploadCurve(b.ctx);
    return out;
}

// Lines after "CALC n" up to and including ";".
std::vector<std::string> TableLines(const std::vector<std::string>& received,
                                    const std::string& start) {
    auto it = std::find(received.begin(), received.end(), start);
    if (it == received.end()) return {};
    auto end = std::find(it, received.end(), ";");
    return {it + 1, end == received.end() ? end : end + 1};
}

bool LockIsFree(SessionMutex& m) {
    return std::async(std::launch::async,
                      [&m] {
                          const bool got = m.TryLockFor(0);
                          if (got) m.Unlock();
                          return got;
                      })
        .get();
}

}  // namespace

TEST(CurveDownload, SendsTheEditedCurveAndLogsEveryLine) {
    SimCurveBench b(kPortLan);
    ASSERT_TRUE(b.connected);
    b.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(Data("descending.crv")));
    b.op.headerAnswers.push_back([](CurveHeaderEdit h) {
        h.name = "Edited";
        h.unitIndex = 3;
        return DialogResult<CurveHeaderEdit>::Accept(h);
    });
    b.op.userCurveAnswers.push_back(DialogResult<int>::Accept(2));
    DownloadCurve(b.ctx);

    ASSERT_EQ(b.op.openFileRequests.size(), 1u);
    EXPECT_EQ(b.op.openFileRequests[0].filter, ct::kDownloadFilter);
    EXPECT_EQ(b.op.openFileRequests[0].options, kFileMustExist | kHideReadOnly);
    ASSERT_EQ(b.op.headerPresets.size(), 1u);
    const CurveHeaderEdit& h = b.op.headerPresets[0];
    EXPECT_TRUE(h.sourceIsCrv);
    EXPECT_FALSE(h.SaveBoxEnabled());
    EXPECT_EQ(h.unitIndex, 1);
    EXPECT_EQ(h.pointCount, 4u);
    EXPECT_EQ(h.graph.yLabel, "Output ( mVolts )");
    EXPECT_EQ(h.graph.Lines().at(0).x.front(), 300.0f);  // record order: ascending values
    EXPECT_EQ(b.op.userCurvePresets.at(0).names[0], "USER CURVE 1");

    const std::vector<std::string> expected = {"Edited",
                                               "Diode",
                                               "1.000000",
                                               "LogOhm",
                                               "0.500000     300.000000",
                                               "1.000000     100.000000",
                                               "1.200000     40.000000",
                                               "1.600000     4.000000",
                                               ";"};
    EXPECT_EQ(TableLines(b.Received(), "CALC 3"), expected);
    std::vector<std::string> logged;
    for (const auto& l : expected) logged.push_back(l + "\n");
    logged.push_back("User Curve 3 is downloaded from " + Data("descending.crv") + "\n");
    EXPECT_EQ(b.log.lines, logged);
    EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{"Download Complete"});
    ASSERT_EQ(b.op.progress.size(), 1u);
    EXPECT_EQ(b.op.progress[0]->messages,
              std::vector<std::string>{"Downloading to User Curve 3. Please wait..."});
    // Per point, then full before "Download Complete".
    EXPECT_EQ(b.op.progress[0]->positions, (std::vector<int>{0, 25, 50, 75, 100}));
    EXPECT_EQ(b.op.progress[0]->closed, 1);
    EXPECT_TRUE(LockIsFree(b.mutex));
}

TEST(CurveDownload, RefusedLinesAreMarkedAndTheTableIsStillClosed) {
    SimCurveBench b(kPortLan);
    ASSERT_TRUE(b.connected);
    ASSERT_EQ(b.link.Command("SIM:FAULT REFUSETABLE 1"), 0);
    Download(b, Data("dt470.340"), 0);
    // Header and point lines marked; "CALC 1" and ";" are sent but never logged as marked.
    ASSERT_EQ(b.log.lines.size(), 4u + 5u + 2u);
    for (size_t i = 0; i < 9; ++i) {
        EXPECT_NE(b.log.lines[i].find(" **ERROR**\n"), std::string::npos) << b.log.lines[i];
    }
    EXPECT_EQ(b.log.lines[2], "-1.000000 **ERROR**\n");  // "Negative" multiplier
    EXPECT_EQ(b.log.lines[9], ";\n");
    EXPECT_EQ(b.op.MessageTexts(),
              (std::vector<std::string>{"Download Complete", ct::kErrorsDisplayed}));
    EXPECT_EQ(b.op.messages[1].icon, MessageIcon::Stop);
    // The table is closed, and the count read back is that of the points taken: none.
    const auto received = b.Received();
    EXPECT_EQ(received[received.size() - 2], ";");
    EXPECT_EQ(received.back(), "SENSORIX 61:NENTRY?");
}

TEST(CurveDownload, FileProblemsEndBeforeAnythingIsSent) {
    struct Case {
        const char* file;
        std::vector<std::string> messages;
        std::vector<std::string> log;
    };
    const std::string three = Data("three_points.crv");
    const Case cases[] = {
        {"unknown_model.340",
         {ct::kFormatError},
         {"U1\n", "XYZ   **ERROR**\n", "1 (Negative)\n", "2      (Volts/Kelvin)\n", "1 0.5 300\n",
          "2 1.0 100\n", "3 1.2 40\n", "4 1.6 4\n"}},
        {"three_points.crv", {ct::kNotEnoughPoints}, {"Not enough points in " + three + " file\n"}},
        {"missing.crv", {}, {"Cannot open input file\n"}},
        {"too_many_points.crv", {}, {"More than 200 curve points in file: line 205\n"}},
        {"long_line.crv", {}, {"Line 6 of the file is too long\n"}},
    };
    SimCurveBench b(kPortLan);
    ASSERT_TRUE(b.connected);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        b.op.messages.clear();
        b.log.lines.clear();
        b.engine.ClearReceivedLines();
        b.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(Data(c.file)));
        DownloadCurve(b.ctx);
        EXPECT_EQ(b.op.MessageTexts(), c.messages);
        EXPECT_EQ(b.log.lines, c.log);
        EXPECT_TRUE(b.Received().empty());
        EXPECT_TRUE(b.op.headerPresets.empty());
        EXPECT_TRUE(LockIsFree(b.mutex));
    }
    // A curve of four points is sent; the box of a .340 source is enabled and can save it.
    b.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(Data("positive.340")));
    b.op.headerAnswers.push_back([](CurveHeaderEdit h) {
        EXPECT_TRUE(h.SaveBoxEnabled());
        h.saveAsCrv = true;
        return DialogResult<CurveHeaderEdit>::Accept(h);
    });
    const std::string saved = b.dir.Str() + "/saved.crv";
    b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(saved));
    b.op.userCurveAnswers.push_back(DialogResult<int>::Accept(0));
    DownloadCurve(b.ctx);
    EXPECT_EQ(TableLines(b.Received(), "CALC 1").size(), 4u + 4u + 1u);
    SensorCurve back;
    ASSERT_EQ(SensorCurve::ReadCrvFile(saved, back), kCurveReadOk);
    EXPECT_EQ(back.unitText, "LogOhm");
    EXPECT_EQ(back.multiplier, 2.0f);
}

TEST(CurveDownload, CancelsBusyLockAndCommunicationFailures) {
    SimCurveBench b(kPortLan);
    ASSERT_TRUE(b.connected);
    // Header editor aborted, chooser cancelled: nothing sent to a user curve.
    b.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(Data("descending.crv")));
    DownloadCurve(b.ctx);
    b.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(Data("descending.crv")));
    b.op.headerAnswers.push_back(ScriptedOperator::AcceptHeader());
    DownloadCurve(b.ctx);
    for (const auto& l : b.Received()) EXPECT_EQ(l.rfind("CALC", 0), std::string::npos) << l;
    EXPECT_TRUE(b.op.messages.empty());
    EXPECT_TRUE(b.log.lines.empty());

    // Busy lock: given up silently after about a second, not even the file dialog.
    b.op.openFileRequests.clear();
    std::promise<void> held, release;
    auto holder = std::async(std::launch::async, [&] {
        b.mutex.TryLockFor(0);
        held.set_value();
        release.get_future().wait();
        b.mutex.Unlock();
    });
    held.get_future().wait();
    const auto start = std::chrono::steady_clock::now();
    DownloadCurve(b.ctx);
    UploadCurve(b.ctx);
    DownloadPidTable(b.ctx);
    UploadPidTable(b.ctx);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3900));
    release.set_value();
    holder.get();
    EXPECT_TRUE(b.op.openFileRequests.empty());
    EXPECT_TRUE(b.op.saveFileRequests.empty());
    EXPECT_TRUE(b.op.messages.empty());

    // The names cannot be read: the communication-failure report, then the lock is free.
    b.link.Lan().SetTimeouts(1000, 200);
    b.link.Command("SIM:FAULT SILENT 1");  // silent at once: not even acknowledged
    b.op.messages.clear();
    Download(b, Data("descending.crv"), 0);
    EXPECT_EQ(b.op.MessageTexts(),
              (std::vector<std::string>{"Communication Error", "Communication Error"}));
    EXPECT_TRUE(b.op.userCurvePresets.size() <= 1u);
    EXPECT_TRUE(LockIsFree(b.mutex));
}

TEST(CurveDownload, Rs232FailureAddsTheCheckList) {
    PtyLinkBench b([](const std::string& line) -> std::optional<std::string> {
        if (line.rfind("SENSORIX?", 0) == 0) return "NAME";
        return std::nullopt;  // "*IDN?" is never answered
    });
    b.ctx.sleep = [](std::chrono::milliseconds) {};
    b.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(Data("descending.crv")));
    b.op.headerAnswers.push_back(ScriptedOperator::AcceptHeader());
    b.op.userCurveAnswers.push_back(DialogResult<int>::Accept(0));
    DownloadCurve(b.ctx);
    EXPECT_EQ(b.op.MessageTexts().back(), "Communication Error");
    ASSERT_EQ(b.log.lines.size(), 5u);
    EXPECT_EQ(b.log.lines[0], "Please check the followings for RS232 connection:\n");
    for (const auto& l : b.instrument.Lines()) EXPECT_EQ(l.rfind("CALC", 0), std::string::npos);
}

TEST(CurveUpload, StoresTheReplyByteForByteAfterUploadComplete) {
    SimCurveBench b(kPortLan);
    ASSERT_TRUE(b.connected);
    Download(b, Data("descending.crv"), 7);
    b.log.lines.clear();
    b.op.messages.clear();
    b.engine.ClearReceivedLines();
    const std::string out = Upload(b, 7);
    const auto rx = b.Received();
    EXPECT_NE(std::find(rx.begin(), rx.end(), "SENSORIX 68:NENTRY?"), rx.end());
    EXPECT_NE(std::find(rx.begin(), rx.end(), "CALC? 8"), rx.end());
    EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{"Upload Complete"});
    EXPECT_EQ(b.sleeps, std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(1000)});
    const std::string reply =
        "DT-470 sample\nDiode\n1.000000\nmVolts\n0.500000     300.000000\n1.000000     "
        "100.000000\n1.200000     40.000000\n1.600000     4.000000\n;\n";
    std::string crlf;
    for (char c : reply) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(Slurp(out), crlf);
    EXPECT_EQ(b.log.lines,
              (std::vector<std::string>{reply, "User Curve 8 is uploaded to " + out + "\n"}));
    EXPECT_EQ(b.op.userCurvePresets.back().names[7], "DT-470 sample");
}

TEST(CurveUpload, IdnSemicolonOddCountsAndFailures) {
    // "*IDN?" answered with ";" is no instrument: the report, no save dialog.
    std::atomic<int> tableAnswers{0};  // the instrument answers on its own thread
    const std::string count = "abc";
    PtyLinkBench b([&](const std::string& line) -> std::optional<std::string> {
        if (line == "*IDN?") return tableAnswers < 0 ? ";" : "Orvella Model 28,1,1.0";
        if (line.rfind("SENSORIX?", 0) == 0) return "NAME";
        if (line.rfind("SENSORIX ", 0) == 0) return count;
        if (line.rfind("CALC?", 0) == 0) {
            ++tableAnswers;
            return "N\r\nDiode\r\n1.000000\r\nVolts\r\n0.1     300\r\n;";
        }
        return std::nullopt;
    });
    b.ctx.sleep = [](std::chrono::milliseconds) {};
    tableAnswers = -1;
    UploadCurve(b.ctx);
    EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{"Communication Error"});
    EXPECT_EQ(b.log.lines.size(), 5u);
    EXPECT_TRUE(b.op.saveFileRequests.empty());

    // A count that is no number still uploads (the count only drives the bar).
    tableAnswers = 0;
    b.op.messages.clear();
    b.log.lines.clear();
    const std::string out = b.dir.Str() + "/odd.crv";
    b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(out));
    b.op.userCurveAnswers.push_back(DialogResult<int>::Accept(0));
    UploadCurve(b.ctx);
    EXPECT_EQ(tableAnswers, 1);
    EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{"Upload Complete"});
    EXPECT_EQ(Slurp(out), "N\r\nDiode\r\n1.000000\r\nVolts\r\n0.1     300\r\n;\r\n");
    EXPECT_EQ(b.op.saveFileRequests.at(0).filter, ct::kCrvSaveFilter);
    EXPECT_EQ(b.op.saveFileRequests.at(0).options, kHideReadOnly | kOverwritePrompt);

    // A file that cannot be created is reported, and the log does not claim it was written.
    b.op.messages.clear();
    b.log.lines.clear();
    b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept("/nonexistent/dir/x.crv"));
    b.op.userCurveAnswers.push_back(DialogResult<int>::Accept(0));
    UploadCurve(b.ctx);
    EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{"Failed to create file"});
    EXPECT_EQ(b.log.lines.back(), "Error! Can't open output file\n");
}

TEST(PidTable, CheckPassRules) {
    struct Case {
        const char* file;
        PidFileCheck::Status status;
        int entries;
    } cases[] = {
        {"table3.pid", PidFileCheck::kOk, 3},
        {"table16.pid", PidFileCheck::kOk, 16},
        {"table17.pid", PidFileCheck::kTooManyEntries, 17},
        {"semicolon_first.pid", PidFileCheck::kNoEntry, 0},
        {"zero_first.pid", PidFileCheck::kSyntaxError, 0},
        {"zero_second.pid", PidFileCheck::kOk, 1},
        {"four_numbers.pid", PidFileCheck::kSyntaxError, 0},
        {"no_end.pid", PidFileCheck::kReadError, 1},
        {"long_word.pid", PidFileCheck::kSyntaxError, 0},
        {"long_line.pid", PidFileCheck::kReadError, 1},  // longer than the line buffer
        {"word_11.pid", PidFileCheck::kOk, 1},
        {"blank_lines.pid", PidFileCheck::kOk, 2},
        {"missing.pid", PidFileCheck::kReadError, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const PidFileCheck r = CheckPidFile(Data(c.file));
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.entries, c.entries);
    }
}

TEST(PidTable, CheckFailuresAreReportedAndNothingIsSent) {
    const std::pair<const char*, std::pair<const char*, const char*>> cases[] = {
        {"semicolon_first.pid", {"No table entry", "No table entry in %s file\n"}},
        {"table17.pid", {"More than 16 entries", "More than 16 PID table entries in %s file\n"}},
        {"zero_first.pid", {"Syntax Error", "Syntax error in %s file\n"}},
        {"no_end.pid", {"File Read Error", "File Read Error in %s file\n"}},
        {"long_line.pid", {"File Read Error", "File Read Error in %s file\n"}},
    };
    SimCurveBench b(kPortLan);
    ASSERT_TRUE(b.connected);
    for (const auto& [file, texts] : cases) {
        SCOPED_TRACE(file);
        b.op.messages.clear();
        b.log.lines.clear();
        b.engine.ClearReceivedLines();
        b.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(Data(file)));
        b.op.pidTableAnswers.push_back(DialogResult<int>::Accept(9));
        DownloadPidTable(b.ctx);
        EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{texts.first});
        std::string line = texts.second;
        line.replace(line.find("%s"), 2, Data(file));
        EXPECT_EQ(b.log.lines, std::vector<std::string>{line});
        EXPECT_TRUE(b.Received().empty());
    }
    EXPECT_EQ(b.op.pidTablePresets, std::vector<int>(5, 1));
}

TEST(PidTable, DownloadSendsTitleAndEntriesAndUploadStoresThem) {
    SimCurveBench b(kPortLan);
    ASSERT_TRUE(b.connected);
    b.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(Data("blank_lines.pid")));
    b.op.pidTableAnswers.push_back(DialogResult<int>::Accept(9));
    DownloadPidTable(b.ctx);
    const std::vector<std::string> table = {"Blank lines", "10.0 50.0 20.0 0.0 LOW",
                                            "40.0 80.0 15.0 0.0 MID", ";"};
    EXPECT_EQ(TableLines(b.Received(), "PIDT 9:table"), table);
    EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{"Download Complete"});
    EXPECT_EQ(b.log.lines.back(),
              "PID Table 9 is downloaded from " + Data("blank_lines.pid") + "\n");
    EXPECT_EQ(b.op.progress.at(0)->messages,
              std::vector<std::string>{"Downloading to PID Table 9. Please wait..."});
    EXPECT_EQ(b.op.progress.at(0)->positions, (std::vector<int>{50, 100, 100, 100}));

    b.op.messages.clear();
    b.log.lines.clear();
    const std::string out = b.dir.Str() + "/t9.pid";
    b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(out));
    b.op.pidTableAnswers.push_back(DialogResult<int>::Accept(9));
    UploadPidTable(b.ctx);
    EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{"Upload Complete"});
    EXPECT_EQ(Slurp(out),
              "Blank lines\r\n10.0 50.0 20.0 0.0 LOW\r\n40.0 80.0 15.0 0.0 MID\r\n;\r\n");
    EXPECT_EQ(b.log.lines.back(), "PID Table 9 is uploaded to " + out + "\n");
    EXPECT_EQ(b.op.saveFileRequests.at(0).filter, ct::kPidSaveFilter);
}

TEST(PidTable, AFileThatChangesBeforeSendingStillClosesTheTable) {
    TempDir work;
    const std::string file = work.Str() + "/changing.pid";
    std::filesystem::copy_file(Data("table3.pid"), file);
    PtyLinkBench b([&](const std::string& line) -> std::optional<std::string> {
        if (line == "*IDN?") {
            std::ofstream(file, std::ios::trunc) << "Title\n10.0 50.0 20.0 0.0 LOW\n";
            return "Orvella Model 28,1,1.0";
        }
        return std::nullopt;
    });
    b.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(file));
    b.op.pidTableAnswers.push_back(DialogResult<int>::Accept(2));
    DownloadPidTable(b.ctx);
    auto lines = b.instrument.Lines();
    for (int i = 0; i < 100 && (lines.empty() || lines.back() != ";"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        lines = b.instrument.Lines();
    }
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[lines.size() - 3], "Title");  // the title of the changed file went out
    EXPECT_EQ(lines[lines.size() - 2], "10.0 50.0 20.0 0.0 LOW");
    EXPECT_EQ(lines.back(), ";");
    EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{"Error detected in file"});
    EXPECT_EQ(b.log.lines.back(), "Error detected in " + file + "\n");
    EXPECT_EQ(b.log.lines[b.log.lines.size() - 2], ";\n");
}

TEST(PidTable, UploadRefusesAReplyLongerThanTitleAndSixteenEntries) {
    std::atomic<int> entries{17};
    PtyLinkBench b([&](const std::string& line) -> std::optional<std::string> {
        if (line.find("NENT?") != std::string::npos) return std::to_string(entries.load());
        if (line.find("TABLE?") != std::string::npos) {
            std::string t = "Title";
            for (int i = 0; i < entries.load(); ++i) t += "\r\n1.0 1.0 1.0 1.0 W";
            return t + "\r\n;";
        }
        return std::nullopt;
    });
    const std::string out = b.dir.Str() + "/long.pid";
    b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(out));
    b.op.pidTableAnswers.push_back(DialogResult<int>::Accept(1));
    UploadPidTable(b.ctx);
    EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{"PID table entry is too long."});
    EXPECT_EQ(b.log.lines, std::vector<std::string>{"PID table entry is too long.\n"});
    EXPECT_FALSE(std::filesystem::exists(out));

    entries = 16;  // title and sixteen entries is a full table
    b.op.messages.clear();
    b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(out));
    b.op.pidTableAnswers.push_back(DialogResult<int>::Accept(1));
    UploadPidTable(b.ctx);
    EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{"Upload Complete"});
    EXPECT_TRUE(std::filesystem::exists(out));
}

TEST(CurveConversion, ConvertsA340FileAndReportsEachOutcome) {
    TempDir dir;
    ScriptedOperator op;
    CollectingLog log;
    const std::string out = dir.Str() + "/conv.crv";
    op.openFileAnswers.push_back(DialogResult<std::string>::Accept(Data("dt470.340")));
    op.headerAnswers.push_back(ScriptedOperator::AcceptHeader());
    op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(out));
    ConvertCurve(op, log);
    EXPECT_EQ(op.openFileRequests.at(0).filter, ct::kConvertFilter);
    EXPECT_EQ(op.openFileRequests.at(0).defaultExtension, ".340");
    EXPECT_TRUE(op.headerPresets.at(0).saveAsCrv);
    EXPECT_EQ(op.messages, (std::vector<test::ShownMessage>{
                               {"Converted Sensor Curve saved", MessageIcon::Information}}));
    EXPECT_EQ(log.lines, std::vector<std::string>{"Converted Sensor Curve saved\r\n"});
    EXPECT_EQ(Slurp(out),
              "D12345\r\nDiode\r\n-1.0000000\r\nVolts\r\n0.09000000358  475.0000000\r\n"
              "0.5000000000  300.0000000\r\n1.000000000  100.0000000\r\n"
              "1.200000048  40.00000000\r\n1.600000024  4.000000000\r\n;\r\n");

    struct Case {
        const char* file;
        std::vector<ScriptedOperator::HeaderAnswer> header;
        bool saveAnswered;
        const char* message;
        const char* logLine;
    } cases[] = {
        {"unknown_model.340", {}, false, "Failed to read file", nullptr},
        {"three_points.340", {}, false, "Not enough points to form a curve", "three"},
        {"dt470.340",
         {},
         false,
         "Aborted Sensor Curve conversion",
         "Aborted Sensor Curve conversion\r\n"},
        // Ticked box, save dialog cancelled: no file, so "not saved".
        {"dt470.340",
         {ScriptedOperator::AcceptHeader()},
         false,
         "Converted Sensor Curve not saved",
         "Converted Sensor Curve not saved\r\n"},
        {"dt470.340",
         {[](CurveHeaderEdit h) {
             h.saveAsCrv = false;
             return DialogResult<CurveHeaderEdit>::Accept(h);
         }},
         false,
         "Converted Sensor Curve not saved",
         "Converted Sensor Curve not saved\r\n"},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.file);
        op.messages.clear();
        log.lines.clear();
        op.openFileAnswers.push_back(DialogResult<std::string>::Accept(Data(c.file)));
        for (auto& h : c.header) op.headerAnswers.push_back(h);
        ConvertCurve(op, log);
        EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{c.message});
        if (!c.logLine) {
            EXPECT_TRUE(log.lines.empty());
        } else if (std::string(c.logLine) == "three") {
            EXPECT_EQ(log.lines, std::vector<std::string>{"Not enough points in " +
                                                          Data("three_points.340") + " file\n"});
        } else {
            EXPECT_EQ(log.lines, std::vector<std::string>{c.logLine});
        }
    }
}

class CurveRoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(CurveRoundTrip, DownloadedCurveAndPidTableComeBackUnchanged) {
    SimCurveBench b(GetParam());
    ASSERT_TRUE(b.connected);
    if (GetParam() == kPortGpib) {
        void* lib = dlopen(TAVRIX_GPIB_SIM_PATH, RTLD_NOW | RTLD_NOLOAD);
        if (lib) {
            auto set =
                reinterpret_cast<void (*)(const char*, long)>(dlsym(lib, "tavrix_gpib_sim_set"));
            if (set) set("reset", 0);
            dlclose(lib);
        }
    }
    Download(b, Data("separators.crv"), 4);
    ASSERT_EQ(b.op.MessageTexts(), std::vector<std::string>{"Download Complete"});
    const std::string out = Upload(b, 4);
    ASSERT_EQ(b.op.MessageTexts().back(), "Upload Complete");

    // What the upload stored is what the download sent, line for line.
    std::vector<std::string> sent;
    for (const auto& l : b.log.lines) {
        if (l.rfind("User Curve", 0) == 0) break;
        sent.push_back(l.substr(0, l.size() - 1));
    }
    std::vector<std::string> stored;
    std::istringstream in(Slurp(out));
    for (std::string l; std::getline(in, l);) stored.push_back(l.substr(0, l.size() - 1));
    if (GetParam() == kPortGpib) stored.push_back(";");  // GPIB tables drop the ";" piece
    EXPECT_EQ(stored, sent);

    SensorCurve original, back;
    ASSERT_EQ(SensorCurve::ReadCrvFile(Data("separators.crv"), original), kCurveReadOk);
    ASSERT_EQ(SensorCurve::ReadCrvFile(out, back), kCurveReadOk);
    ASSERT_EQ(back.PointCount(), original.PointCount());
    for (size_t i = 0; i < back.points.size(); ++i) {
        EXPECT_FLOAT_EQ(back.points[i].sensorValue, original.points[i].sensorValue);
        EXPECT_FLOAT_EQ(back.points[i].temperature, original.points[i].temperature);
    }
    EXPECT_EQ(back.multiplier, original.multiplier);

    b.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(Data("table3.pid")));
    b.op.pidTableAnswers.push_back(DialogResult<int>::Accept(4));
    DownloadPidTable(b.ctx);
    const std::string pid = b.dir.Str() + "/t4.pid";
    b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(pid));
    b.op.pidTableAnswers.push_back(DialogResult<int>::Accept(4));
    UploadPidTable(b.ctx);
    std::string expected = Slurp(Data("table3.pid"));
    if (GetParam() == kPortGpib) expected.resize(expected.size() - 3);
    EXPECT_EQ(Slurp(pid), expected);
}

INSTANTIATE_TEST_SUITE_P(Transports, CurveRoundTrip,
                         ::testing::Values(kPortRs232, kPortLan, kPortGpib), [](const auto& info) {
                             return info.param == kPortRs232 ? std::string("Rs232")
                                    : info.param == kPortLan ? std::string("Lan")
                                                             : std::string("Gpib");
                         });

// ---------------------------------------------------------------------------------------------
// Downloads that never pass a failure for success

namespace {

using tavrix::test::StandInAnswer;
using tavrix::test::StandInInstrument;

// An instrument over TCP that acknowledges every line; `hangUpAt` closes the connection when
// that line arrives, `refuse` refuses it. The count it gives after a table is that of the
// points or entries it took.
struct StandInBench {
    StandInBench(std::function<bool(const std::string&)> hangUpAt,
                 std::function<bool(const std::string&)> refuse = nullptr)
        : instrument(
              StandInInstrument::Wire::Tcp,
              [hangUpAt, refuse, t = std::make_shared<std::array<int, 3>>(std::array{0, -1, 0})](
                  const std::string& line, int) -> std::optional<StandInAnswer> {
                  // t: header lines of the open table, lines taken since it began (-1: none
                  // open), the count of the last table
                  auto& [header, taken, count] = *t;
                  if (hangUpAt && hangUpAt(line)) return StandInAnswer{.hangUp = true};
                  if (line.rfind("SENSORIX?", 0) == 0)
                      return tavrix::test::Acknowledged(line, "NAME");
                  if (line == "*IDN?")
                      return tavrix::test::Acknowledged(line, "Orvella Model 28,1,1.0");
                  if (line.find("NENT") != std::string::npos)
                      return tavrix::test::Acknowledged(line, std::to_string(count));
                  const bool refused = refuse && refuse(line);
                  if (line.rfind("CALC ", 0) == 0 || line.rfind("PIDT ", 0) == 0) {
                      header = line[0] == 'C' ? 4 : 1;
                      taken = 0;
                  } else if (line == ";" && taken >= 0) {
                      count = taken - header;
                      taken = -1;
                  } else if (taken >= 0 && !refused) {
                      ++taken;
                  }
                  return tavrix::test::Acknowledged(line, std::nullopt, refused);
              }),
          settings(dir.Str()) {
        link.SetPortType(kPortLan);
        link.Lan().SetLineAcknowledgement(true);
        link.Lan().SetTimeouts(1000, 1000);
        link.IpAddr() = MyIPAddr(0x7F000001u, static_cast<unsigned long>(instrument.Port()));
        connected = link.LanConnect() == 1;
    }
    // Lines from "CALC n" / "PIDT n:table" on.
    std::vector<std::string> Table(const std::string& start) const {
        const auto lines = instrument.Lines();
        auto it = std::find(lines.begin(), lines.end(), start);
        return {it, lines.end()};
    }
    TempDir dir;
    StandInInstrument instrument;
    SettingsStore settings;
    ScriptedOperator op;
    CollectingLog log;
    CInstrumentLink link{op, settings};
    SessionMutex mutex;
    ShortcutBarModel bar;
    FeatureManager features{&bar};
    CurveContext ctx{{link, mutex, features, bar, op, log}, op};
    bool connected = false;
};

bool Contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

std::string WriteFile(const TempDir& dir, const std::string& name, const std::string& text) {
    const std::string path = dir.Str() + "/" + name;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    return path;
}

}  // namespace

TEST(CurveDownload, HeaderTextThatCannotBeSentStopsBeforeTheInstrumentIsAddressed) {
    TempDir work;
    const std::string points = "0.5 300\r\n1.0 100\r\n1.2 40\r\n1.6 4\r\n;\r\n";
    // A name line ";" would end the table and run the type line as a command.
    const std::string semicolonName =
        WriteFile(work, "semi.crv", ";\r\nSETP 1,100\r\n1.0\r\nVolts\r\n" + points);
    const std::string longSerial = WriteFile(
        work, "long.340",
        "Sensor Model:   DT-470\r\nSerial Number:  " + std::string(120, '7') +
            "\r\nData Format:    2      (Volts/Kelvin)\r\nSetPoint Limit: 475.0\r\n"
            "Temperature coefficient:  1 (Negative)\r\nNumber of Breakpoints:   4\r\n\r\n"
            "No.   Units      Temperature (K)\r\n\r\n1 0.5 300\r\n2 1.0 100\r\n3 1.2 40\r\n"
            "4 1.6 4\r\n");
    auto setName = [](std::string name) {
        return [name](CurveHeaderEdit h) {
            h.name = name;
            return DialogResult<CurveHeaderEdit>::Accept(h);
        };
    };
    auto setType = [](std::string type) {
        return [type](CurveHeaderEdit h) {
            h.type = type;
            return DialogResult<CurveHeaderEdit>::Accept(h);
        };
    };
    struct Case {
        std::string file;
        ScriptedOperator::HeaderAnswer header;
        std::string message;
    } cases[] = {
        {semicolonName, ScriptedOperator::AcceptHeader(),
         "Sensor Name cannot be sent to the instrument: it holds \";\". Correct it and try "
         "again."},
        {longSerial, ScriptedOperator::AcceptHeader(),
         "Sensor Name cannot be sent to the instrument: it is longer than 100 characters. "
         "Correct it and try again."},
        {Data("descending.crv"), setType("Diode;SETP 1,0"),
         "Sensor Type cannot be sent to the instrument: it holds \";\". Correct it and try "
         "again."},
        {Data("descending.crv"), setName("Cold\rSETP 1,0"),
         "Sensor Name cannot be sent to the instrument: it holds a control character. Correct "
         "it and try again."},
        {Data("descending.crv"), setName(std::string("A\0B", 3)),
         "Sensor Name cannot be sent to the instrument: it holds a control character. Correct "
         "it and try again."},
    };
    SimCurveBench b(kPortLan);
    ASSERT_TRUE(b.connected);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        b.op.messages.clear();
        b.log.lines.clear();
        b.op.userCurvePresets.clear();
        b.engine.ClearReceivedLines();
        b.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(c.file));
        b.op.headerAnswers.push_back(c.header);
        b.op.userCurveAnswers.push_back(DialogResult<int>::Accept(0));
        DownloadCurve(b.ctx);
        ASSERT_EQ(b.op.MessageTexts(), std::vector<std::string>{c.message});
        EXPECT_EQ(b.op.messages[0].icon, MessageIcon::Stop);
        ASSERT_EQ(b.log.lines.size(), 1u);
        EXPECT_EQ(b.log.lines[0].rfind(c.message.substr(0, 11), 0), 0u) << b.log.lines[0];
        EXPECT_TRUE(b.Received().empty());  // not even the names were asked for
        EXPECT_TRUE(b.op.userCurvePresets.empty());
        EXPECT_TRUE(LockIsFree(b.mutex));
    }
    b.op.userCurveAnswers.clear();
}

TEST(CurveDownload, TheFirstLineThatFailsEndsTheTransfer) {
    // descending.crv: "CALC 3" is line 1, the header lines 2..5, the points 6..9, ";" line 10.
    struct Case {
        const char* what;
        std::function<bool(const std::string&)> hangUp, refuse;
        int failedLine;
    } cases[] = {
        {"hang-up at the CALC line", [](const std::string& l) { return l == "CALC 3"; }, nullptr,
         1},
        {"hang-up at the name", [](const std::string& l) { return l == "USER"; }, nullptr, 2},
        {"hang-up at the third point",
         [](const std::string& l) { return l.rfind("1.200000", 0) == 0; }, nullptr, 8},
        {"hang-up at the closing ;", [](const std::string& l) { return l == ";"; }, nullptr, 10},
        // A refused "CALC" line: the instrument is not taking a curve, so the header lines
        // would run as commands.
        {"CALC refused", nullptr, [](const std::string& l) { return l == "CALC 3"; }, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StandInBench b(c.hangUp, c.refuse);
        ASSERT_TRUE(b.connected);
        b.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(Data("descending.crv")));
        b.op.headerAnswers.push_back([](CurveHeaderEdit h) {
            h.name = "USER";
            return DialogResult<CurveHeaderEdit>::Accept(h);
        });
        b.op.userCurveAnswers.push_back(DialogResult<int>::Accept(2));
        DownloadCurve(b.ctx);

        const auto messages = b.op.MessageTexts();
        EXPECT_FALSE(Contains(messages, "Download Complete"));
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(messages.back(), "Communication Error");
        ASSERT_EQ(b.op.progress.size(), 1u);
        EXPECT_EQ(b.op.progress[0]->closed, 1);
        EXPECT_EQ(b.log.lines.back(), "User Curve 3 is not downloaded: the link failed at line " +
                                          std::to_string(c.failedLine) + " of 10\n");
        // Nothing went out after the failed line but the closing ";" of a link still up.
        const auto table = b.Table("CALC 3");
        ASSERT_GE(table.size(), static_cast<size_t>(c.failedLine));
        EXPECT_LE(table.size(), static_cast<size_t>(c.failedLine) + 1);
        if (table.size() > static_cast<size_t>(c.failedLine)) {
            EXPECT_EQ(table.back(), ";");
        }
        EXPECT_TRUE(LockIsFree(b.mutex));
    }
}

TEST(PidTable, TitleAndEntriesAreCheckedAndAShortTitleIsSentAsTheTitle) {
    TempDir work;
    const std::string entries = "10.0 50.0 20.0 0.0 LOW\n40.0 80.0 15.0 0.0 MID\n;\n";
    SimCurveBench b(kPortLan);
    ASSERT_TRUE(b.connected);
    b.op.openFileAnswers.push_back(
        DialogResult<std::string>::Accept(WriteFile(work, "t.pid", "T\n" + entries)));
    b.op.pidTableAnswers.push_back(DialogResult<int>::Accept(2));
    DownloadPidTable(b.ctx);
    EXPECT_EQ(
        TableLines(b.Received(), "PIDT 2:table"),
        (std::vector<std::string>{"T", "10.0 50.0 20.0 0.0 LOW", "40.0 80.0 15.0 0.0 MID", ";"}));
    EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{"Download Complete"});
    std::string count;
    ASSERT_EQ(b.link.Query("PIDT 2:NENT?", count), 0);
    EXPECT_EQ(count, "2");  // no entry was taken for the title

    const std::pair<std::string, std::string> refused[] = {
        {"\n" + entries,
         "The PID table title (line 1) cannot be sent to the instrument: it is empty. Correct it "
         "and try again."},
        {"Title;SETP 1,0\n" + entries,
         "The PID table title (line 1) cannot be sent to the instrument: it holds \";\". Correct "
         "it and try again."},
        {"Title\n10.0 50.0 20.0 0.0 LOW\n10.0 50.0 20.0 0.0 LOW;SETP 1,0\n;\n",
         "The PID table entry on line 3 cannot be sent to the instrument: it holds \";\". "
         "Correct it and try again."},
        {"Title\n10.0 50.0 20.0 0.0 LOW\x1b\n;\n",
         "The PID table entry on line 2 cannot be sent to the instrument: it holds a control "
         "character. Correct it and try again."},
    };
    for (const auto& [text, message] : refused) {
        SCOPED_TRACE(message);
        b.op.messages.clear();
        b.engine.ClearReceivedLines();
        b.op.openFileAnswers.push_back(
            DialogResult<std::string>::Accept(WriteFile(work, "r.pid", text)));
        b.op.pidTableAnswers.push_back(DialogResult<int>::Accept(2));
        DownloadPidTable(b.ctx);
        EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{message});
        EXPECT_TRUE(b.Received().empty());
    }
}

TEST(PidTable, TheFirstLineThatFailsEndsTheTransferAndRefusedEntriesAreMarked) {
    {
        StandInBench b([](const std::string& l) { return l.rfind("40.0", 0) == 0; });
        ASSERT_TRUE(b.connected);
        b.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(Data("table3.pid")));
        b.op.pidTableAnswers.push_back(DialogResult<int>::Accept(5));
        DownloadPidTable(b.ctx);
        EXPECT_FALSE(Contains(b.op.MessageTexts(), "Download Complete"));
        EXPECT_EQ(b.op.MessageTexts().back(), "Communication Error");
        EXPECT_EQ(b.log.lines.back(), "PID Table 5 is not downloaded: the link failed at line 4\n");
        EXPECT_EQ(b.Table("PIDT 5:table").size(), 4u);  // nothing after the failed entry
        EXPECT_EQ(b.op.progress.at(0)->closed, 1);
    }
    {
        StandInBench b(nullptr, [](const std::string& l) { return l.rfind("40.0", 0) == 0; });
        ASSERT_TRUE(b.connected);
        b.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(Data("table3.pid")));
        b.op.pidTableAnswers.push_back(DialogResult<int>::Accept(5));
        DownloadPidTable(b.ctx);
        EXPECT_EQ(b.op.MessageTexts(),
                  (std::vector<std::string>{"Download Complete", ct::kErrorsDisplayed}));
        EXPECT_EQ(b.log.lines[2], "40.0 80.0 15.0 0.0 MEDIUM **ERROR**\n");
        EXPECT_EQ(b.Table("PIDT 5:table").back(), "PIDT 5:NENT?");
    }
}

TEST(CurveTransfers, WithoutAGpibDriverNothingPassesForSent) {
    tavrix::test::SimLinkBench b(28, "/nonexistent/libgpib.so");
    b.link.StartUp();
    b.link.SetPortType(kPortGpib);
    b.ctx.sleep = [](std::chrono::milliseconds) {};
    b.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(Data("descending.crv")));
    b.op.headerAnswers.push_back(ScriptedOperator::AcceptHeader());
    b.op.userCurveAnswers.push_back(DialogResult<int>::Accept(0));
    DownloadCurve(b.ctx);
    b.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(Data("table3.pid")));
    b.op.pidTableAnswers.push_back(DialogResult<int>::Accept(1));
    DownloadPidTable(b.ctx);
    b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(b.dir.Str() + "/u.crv"));
    UploadCurve(b.ctx);
    b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(b.dir.Str() + "/u.pid"));
    b.op.pidTableAnswers.push_back(DialogResult<int>::Accept(1));
    UploadPidTable(b.ctx);
    EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>(4, "Communication Error"));
    EXPECT_TRUE(b.op.userCurvePresets.empty());
    EXPECT_TRUE(b.op.progress.empty());
    EXPECT_FALSE(std::filesystem::exists(b.dir.Path() / "u.crv"));
}
