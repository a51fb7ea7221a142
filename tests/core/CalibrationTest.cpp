#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "base/CNumeric.h"
#include "calibration/CalibPassword.h"
#include "calibration/CalibSession.h"
#include "calibration/CalibSteps.h"
#include "calibration/CalibTexts.h"
#include "calibration/CalibrationCommand.h"
#include "link/CInstrumentLink.h"

namespace tavrix {
namespace {

namespace ct = calib_texts;
using test::ScriptedOperator;
using test::ShownMessage;

// An instrument played by the test: every line is recorded; the answer comes from `answer`
// (which may also fail the exchange by returning a negative status).
struct FakeInstrument {
    std::vector<std::string> lines;
    std::function<int(const std::string&, std::string*)> answer;
    double reading = 100.0;
    std::string gainOffset = "1.0000000;0.0000000";
    // An input's type and its unit, sensor, bias and range, as the instrument answers them.
    std::string type = "V10UA";
    std::string settings = "K;1;10MV;10K";
    int failAt = -1;  // the index of the line that fails

    FakeInstrument() {
        answer = [this](const std::string& line, std::string* reply) {
            if (!reply) return 0;
            const size_t set = line.find(":GAIN ") != std::string::npos ? line.find(":GAIN ") + 6
                               : line.find(":OFFSET ") != std::string::npos
                                   ? line.find(":OFFSET ") + 8
                                   : std::string::npos;
            if (line.rfind("SYST:IDEF?", 0) == 0)
                *reply = "28,1234,4,2,2,100,2";
            else if (line.rfind("INPUT? ", 0) == 0)
                *reply = std::to_string(reading);
            else if (line.find("GAIN?;OFFSET?") != std::string::npos)
                *reply = gainOffset;
            else if (line.size() == 12 && line.find(":TYPE?") == 6)
                *reply = type;
            else if (line.find("UNIT?;ISENIX?;VBIAS?;BRANGE?") != std::string::npos)
                *reply = settings;
            else if (set != std::string::npos)  // the value written, read back
                *reply = line.substr(set, line.find(';') - set);
            else
                *reply = "1";
            return 0;
        };
    }
    CalibExchange Exchange(int model = 28) {
        CalibExchange e;
        e.transact = [this](const std::string& line, std::string* reply) {
            const int index = static_cast<int>(lines.size());
            lines.push_back(line);
            // A query's reply is always read, a command's never waited for.
            EXPECT_EQ(reply != nullptr, CInstrumentLink::IsQuery(line)) << line;
            if (index == failAt) return -1;
            return answer(line, reply);
        };
        e.identify = [model](int& code) {
            code = model;
            return model != 0;
        };
        return e;
    }
    // The lines after the first `from`.
    std::vector<std::string> Since(size_t from) const {
        return {lines.begin() + static_cast<long>(from), lines.end()};
    }
};

// Capture timers driven by hand.
struct FakeTimers : CaptureTimers {
    std::map<int, int> running;  // page -> timer id
    bool refuse = false;
    int starts = 0;
    bool Start(int page, int id, int ms) override {
        EXPECT_EQ(ms, 1000);
        if (refuse) return false;
        ++starts;
        running[page] = id;
        return true;
    }
    void Stop(int page, int id) override {
        if (running.count(page) && running[page] == id) running.erase(page);
    }
};

struct Bench {
    explicit Bench(int model = 28) : session(instrument.Exchange(model), op) {
        session.Retrieve();
        session.Open(timers);
        op.messages.clear();
    }
    // Ticks the page's timer until the capture ends (at most `limit` ticks); the tick count.
    int Tick(int page, int limit = 200) {
        int n = 0;
        while (!session.Page(page).Idle() && n < limit) {
            session.OnTimer(page, session.Page(page).captureTimer);
            ++n;
        }
        return n;
    }
    int Capture(int page, int state, double value) {
        instrument.reading = value;
        session.StartCapture(page, state);
        return Tick(page);
    }
    FakeInstrument instrument;
    ScriptedOperator op;
    FakeTimers timers;
    CalibSession session;
};

TEST(CalibStepsTest, TablesChannelsAndLetters) {
    for (int code : {27, 28}) {
        const CalibStep* t = CalibStepTable(code);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(CalibStepCount(t), 10);
        EXPECT_EQ(CalibChannelCount(code), 4);
    }
    for (int code : {0, 29, 30, 31, 32, 33}) EXPECT_EQ(CalibStepTable(code), nullptr) << code;
    EXPECT_EQ(CalibChannelCount(29), 8);
    EXPECT_EQ(CalibChannelCount(32), 2);
    EXPECT_EQ(CalibChannelCount(33), 0);
    const CalibStep* t = CalibStepTable(28);
    EXPECT_EQ(TypeCommandFor(t[6], 'C'), "INST C:TYPE ACR10K;TYPE?");
    EXPECT_EQ(InputCommandFor(t[6], 'C'), "INPUT C:UNIT S;iSENIX 33;vbias 10mv;Brange 10K;Brange?");
    EXPECT_EQ(InputCommandFor(t[1], 'B'), "INPUT B:UNIT S;ISENIX 1;:*OPC? ");
}

TEST(CalibRetrieveTest, ReadsEveryEntryInIndexOrderWithProgress) {
    FakeInstrument inst;
    int n = 0;
    auto plain = inst.answer;
    inst.answer = [&n, plain](const std::string& line, std::string* reply) {
        if (reply && line.find("GAIN?;OFFSET?") != std::string::npos)
            *reply = std::to_string(1.0 + 0.001 * n++) + ";-0.25";
        else
            return plain(line, reply);
        return 0;
    };
    ScriptedOperator op;
    CalibSession s(inst.Exchange(), op);
    ASSERT_TRUE(s.Retrieve());
    ASSERT_EQ(s.Entries().size(), 40u);
    // Each input's settings before anything changes them.
    ASSERT_EQ(inst.lines.size(), 4u * 2 + 1 + 40 * 3 + 1);
    EXPECT_EQ(inst.lines[0], "INST A:TYPE?");
    EXPECT_EQ(inst.lines[1], "INPUT A:UNIT?;ISENIX?;VBIAS?;BRANGE?");
    EXPECT_EQ(inst.lines[7], "INPUT D:UNIT?;ISENIX?;VBIAS?;BRANGE?");
    EXPECT_EQ(s.InputSettings(3).unit, "K");
    EXPECT_EQ(s.InputSettings(3).brange, "10K");
    EXPECT_EQ(inst.lines[8], "INST A:MODE ON;MODE?;");
    EXPECT_EQ(inst.lines[9], "INST A:TYPE V10UA;TYPE?");
    EXPECT_EQ(inst.lines[10], "INPUT A:UNIT S;ISENIX 19;:*OPC?");
    EXPECT_EQ(inst.lines[11], "INST A:GAIN?;OFFSET?;");
    EXPECT_EQ(inst.lines[12], "INST B:TYPE V10UA;TYPE?");  // channels first, then steps
    EXPECT_EQ(inst.lines[21], "INST A:TYPE I10UA;TYPE?");
    EXPECT_EQ(inst.lines.back(), "INST A:MODE OFF;MODE?;");
    EXPECT_DOUBLE_EQ(s.Entry(0, 1).gain, 1.001);
    EXPECT_DOUBLE_EQ(s.Entry(1, 0).gain, 1.004);
    EXPECT_DOUBLE_EQ(s.Entry(9, 3).offset, -0.25);
    ASSERT_EQ(op.progress.size(), 1u);
    EXPECT_EQ(op.progress[0]->messages.back(), ct::kRetrieving);
    EXPECT_EQ(op.progress[0]->high, 100);
    EXPECT_EQ(op.progress[0]->positions.front(), 0);
    EXPECT_EQ(op.progress[0]->positions.back(), 97);  // 100 * 39 / 40
    EXPECT_EQ(op.progress[0]->closed, 1);
    EXPECT_TRUE(op.messages.empty());
}

TEST(CalibRetrieveTest, FailuresStopTheLoopLeaveCalibrationModeAndSaySo) {
    struct Case {
        const char* what;
        int failAt;
        std::string gainOffset;
        size_t lines;
        std::string settings = "K;1;10MV;10K";
    } cases[] = {
        // An input whose settings cannot be read (or could not be sent back) is never changed.
        {"settings read fails", 3, "1;0", 4},
        {"settings unusable", -1, "1;0", 2, "K;1;10MV"},
        {"a setting that would split the line", -1, "1;0", 2, "K:UNIT S;1;10MV;10K"},
        {"mode on fails", 8, "1;0", 9},
        {"third entry's type fails", 15, "1;0", 17},  // then MODE OFF
        {"reply without two numbers", -1, "1.0", 8 + 1 + 3 + 1},
    };
    for (const Case& c : cases) {
        FakeInstrument inst;
        inst.failAt = c.failAt;
        inst.gainOffset = c.gainOffset;
        inst.settings = c.settings;
        ScriptedOperator op;
        CalibSession s(inst.Exchange(), op);
        EXPECT_FALSE(s.Retrieve()) << c.what;
        EXPECT_EQ(inst.lines.size(), c.lines) << c.what;
        if (c.lines > 9) {
            EXPECT_EQ(inst.lines.back(), "INST A:MODE OFF;MODE?;") << c.what;
        }
        if (c.lines <= 8) {
            for (const std::string& l : inst.lines)
                EXPECT_EQ(l.find("UNIT S"), std::string::npos) << c.what;
        }
        EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{ct::kFailedToRetrieve}) << c.what;
        EXPECT_TRUE(s.HasSteps()) << c.what;  // the dialog is still shown
        EXPECT_FALSE(s.Entry(2, 1).retrieved);
    }
}

TEST(CalibRetrieveTest, ModelsWithoutAStepTableSendNothingAfterIdentification) {
    for (int code : {29, 30, 31, 32}) {
        FakeInstrument inst;
        ScriptedOperator op;
        CalibSession s(inst.Exchange(code), op);
        EXPECT_TRUE(s.Retrieve());
        EXPECT_FALSE(s.HasSteps());
        EXPECT_TRUE(inst.lines.empty()) << code;
        EXPECT_TRUE(op.progress.empty());
    }
}

TEST(CalibPageTest, OpeningAPageConfiguresTheInputAndTheSecondStepUsesTheFirstType) {
    Bench b;
    const size_t before = b.instrument.lines.size();
    b.session.SelectChannel(2);
    b.session.ActivatePage(1);
    EXPECT_EQ(
        b.instrument.Since(before),
        (std::vector<std::string>{"INST C:MODE ON;MODE?;", "INST C:TYPE V10UA;TYPE?",
                                  "INPUT C:UNIT S;ISENIX 1;:*OPC? ", "INST C:MODE OFF;MODE?;"}));
    const CalibPage& p = b.session.Page(1);
    EXPECT_EQ(p.title, "Calibrating CHC, Silicon Diode Current");
    EXPECT_FALSE(p.lowerCaptureEnabled);  // one-point step
    EXPECT_FALSE(p.lowerTargetEnabled);
    EXPECT_FALSE(p.calibrateEnabled);
    EXPECT_EQ(p.currentStepText, "2");
    EXPECT_EQ(p.totalStepsText, "10");

    // Applied, the same page sends its own type.
    ASSERT_TRUE(b.session.LeaveGain(1, "1.05"));
    b.op.yesNoAnswers = {true};
    const size_t applyFrom = b.instrument.lines.size();
    b.session.ApplyCalibration();
    EXPECT_EQ(b.instrument.lines[applyFrom + 1], "INST C:TYPE I10UA;TYPE?");

    // A failed configuration stops at the failing line.
    b.instrument.failAt = static_cast<int>(b.instrument.lines.size()) + 1;
    b.op.messages.clear();
    b.session.ActivatePage(3);
    EXPECT_EQ(b.instrument.lines.size(), static_cast<size_t>(b.instrument.failAt) + 1);
    EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{ct::kCommunicationError});
    EXPECT_EQ(b.op.messages[0].icon, MessageIcon::Stop);
}

TEST(CalibCaptureTest, ASteadyReadingIsCapturedAtTheEleventhTick) {
    Bench b;
    b.session.ActivatePage(0);
    const size_t before = b.instrument.lines.size();
    b.session.StartCapture(0, kCapturingUpper);
    const CalibPage& p = b.session.Page(0);
    EXPECT_EQ(p.captureState, kCapturingUpper);
    EXPECT_TRUE(p.capturingDialogShown);
    EXPECT_TRUE(p.waitCursor);
    EXPECT_FALSE(p.upperCaptureEnabled);
    EXPECT_TRUE(p.upperAbortEnabled);
    EXPECT_EQ(b.timers.running.at(0), kUpperCaptureTimer);
    b.session.StartCapture(0, kCapturingLower);  // not while capturing
    EXPECT_EQ(b.timers.starts, 1);

    EXPECT_EQ(b.Tick(0), 11);
    std::vector<std::string> want(11, "INPUT? A;");
    want.insert(want.begin() + 2, "syst:reseed;:*OPC?");
    EXPECT_EQ(b.instrument.Since(before), want);
    EXPECT_EQ(p.capturedUpperText, "100.000000");
    EXPECT_TRUE(p.upperCaptureEnabled);
    EXPECT_FALSE(p.upperAbortEnabled);
    EXPECT_FALSE(p.capturingDialogShown);
    EXPECT_FALSE(p.waitCursor);
    EXPECT_TRUE(b.timers.running.empty());
    EXPECT_FALSE(p.calibrateEnabled);  // the lower value is still missing
    EXPECT_EQ(b.op.messages,
              (std::vector<ShownMessage>{{ct::kCapturedUpper, MessageIcon::Information}}));

    b.Capture(0, kCapturingLower, 10.0);
    EXPECT_EQ(b.timers.starts, 2);
    EXPECT_EQ(p.capturedLowerText, "10.000000");
    EXPECT_TRUE(p.calibrateEnabled);
    EXPECT_EQ(b.op.MessageTexts().back(), ct::kCapturedLower);
}

TEST(CalibCaptureTest, ReadingsThatNeverSettleEndAfterSixtyTicksWithTheLastOne) {
    Bench b;
    int n = 0;
    b.instrument.answer = [&n](const std::string& line, std::string* reply) {
        if (reply) *reply = line.rfind("INPUT?", 0) == 0 ? std::to_string(100.0 + (n++ % 2)) : "1";
        return 0;
    };
    b.session.StartCapture(0, kCapturingUpper);
    const int ticks = b.Tick(0);
    // Tick 1 sets ticks to 1; each later reading adds one; the tick after ticks passed 60 ends.
    EXPECT_EQ(ticks, 62);
    EXPECT_EQ(b.session.Page(0).capturedUpperText, n % 2 ? "100.000000" : "101.000000");
    EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{ct::kCapturedUpper});
}

TEST(CalibCaptureTest, UnreadableRepliesRestartAndAnInstabilityGoesBackWithoutANewReseed) {
    Bench b;
    std::deque<std::string> replies = {"junk",  "100",   "100",   "100",   "100.5",
                                       "100.5", "100.5", "100.5", "100.5", "100.5",
                                       "100.5", "100.5", "100.5", "100.5"};
    b.instrument.answer = [&](const std::string& line, std::string* reply) {
        if (line.rfind("INPUT?", 0) == 0) {
            if (replies.empty()) return -1;
            *reply = replies.front();
            replies.pop_front();
        } else if (reply) {
            *reply = "1";
        }
        return 0;
    };
    const size_t before = b.instrument.lines.size();
    b.session.StartCapture(0, kCapturingUpper);
    // junk; 100 (phase 0); reseed; one stable; 100.5 unstable; eight stable; the end.
    EXPECT_EQ(b.Tick(0), 14);
    EXPECT_TRUE(replies.empty());
    int reseeds = 0;
    for (const std::string& l : b.instrument.Since(before)) reseeds += l == ct::kReseed;
    EXPECT_EQ(reseeds, 1);
    EXPECT_EQ(b.session.Page(0).capturedUpperText, "100.500000");
}

TEST(CalibCaptureTest, RepliesThatNeverScanStopTheCaptureAsAFailure) {
    Bench b;
    b.instrument.answer = [](const std::string&, std::string* reply) {
        if (reply) *reply = "OVER";
        return 0;
    };
    b.session.StartCapture(0, kCapturingUpper);
    EXPECT_EQ(b.Tick(0, 1000), CalibSession::kCaptureTotalTickLimit + 1);
    EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{ct::kFailedToGetInput});
    EXPECT_TRUE(b.session.Page(0).capturedUpperText.empty());
}

TEST(CalibCaptureTest, NegativeReadingsMustSettleToo) {
    Bench b;
    int n = 0;
    b.instrument.answer = [&n](const std::string& line, std::string* reply) {
        if (reply) *reply = line.rfind("INPUT?", 0) == 0 ? std::to_string(-1.0 - (n++ % 2)) : "1";
        return 0;
    };
    b.session.StartCapture(0, kCapturingUpper);
    EXPECT_EQ(b.Tick(0), 62);
}

TEST(CalibCaptureTest, FailuresAbortTimerAndBusyTicks) {
    Bench b;
    // A failed INPUT query.
    b.instrument.failAt = static_cast<int>(b.instrument.lines.size()) + 3;
    b.session.StartCapture(0, kCapturingUpper);
    b.Tick(0);
    EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{ct::kFailedToGetInput});
    EXPECT_TRUE(b.session.Page(0).capturedUpperText.empty());
    EXPECT_TRUE(b.session.Page(0).upperCaptureEnabled);
    EXPECT_TRUE(b.timers.running.empty());

    // A failed reseed.
    b.op.messages.clear();
    b.instrument.failAt = static_cast<int>(b.instrument.lines.size()) + 2;
    b.session.StartCapture(0, kCapturingUpper);
    EXPECT_EQ(b.Tick(0), 2);
    EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{ct::kFailedToGetInput});

    // Abort.
    b.op.messages.clear();
    b.instrument.failAt = -1;
    b.session.StartCapture(0, kCapturingLower);
    b.session.OnTimer(0, kLowerCaptureTimer);
    b.session.AbortCapture(0);
    EXPECT_TRUE(b.session.Page(0).Idle());
    EXPECT_TRUE(b.session.Page(0).capturedLowerText.empty());
    EXPECT_TRUE(b.session.Page(0).lowerCaptureEnabled);
    EXPECT_FALSE(b.session.Page(0).lowerAbortEnabled);
    EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{ct::kAborted});

    // No timer.
    b.op.messages.clear();
    b.timers.refuse = true;
    b.session.StartCapture(0, kCapturingUpper);
    EXPECT_TRUE(b.session.Page(0).Idle());
    EXPECT_TRUE(b.session.Page(0).upperCaptureEnabled);
    EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{ct::kUnableToSetupCapture});
    b.timers.refuse = false;

    // A tick that comes while a capture exchange runs does nothing.
    b.op.messages.clear();
    const size_t before = b.instrument.lines.size();
    bool reentered = false;
    auto plain = b.instrument.answer;
    b.instrument.answer = [&](const std::string& line, std::string* reply) {
        if (!reentered && line.rfind("INPUT?", 0) == 0) {
            reentered = true;
            EXPECT_TRUE(b.session.CaptureBusy());
            b.session.OnTimer(0, kUpperCaptureTimer);
        }
        return plain(line, reply);
    };
    b.session.StartCapture(0, kCapturingUpper);
    b.session.OnTimer(0, kUpperCaptureTimer);
    EXPECT_TRUE(reentered);
    EXPECT_EQ(b.instrument.lines.size(), before + 1);
    EXPECT_FALSE(b.session.CaptureBusy());
}

TEST(CalibCaptureTest, ChangingChannelOrPageStopsARunningCapture) {
    Bench b;
    b.session.StartCapture(0, kCapturingUpper);
    b.session.OnTimer(0, kUpperCaptureTimer);
    b.session.SelectChannel(1);
    EXPECT_TRUE(b.session.Page(0).Idle());
    EXPECT_TRUE(b.timers.running.empty());
    b.session.StartCapture(0, kCapturingUpper);
    b.session.ActivatePage(2);
    EXPECT_TRUE(b.session.Page(0).Idle());
    EXPECT_EQ(b.op.MessageTexts(), (std::vector<std::string>{ct::kAborted, ct::kAborted}));
}

TEST(CalibComputeTest, MethodsLimitsAndRefusals) {
    struct Case {
        const char* what;
        int page;
        std::string gainOffset;  // the instrument's present calibration
        double upper, lower;     // captured values (lower < 0: not captured)
        const char* message;     // null: accepted
        double gain, offset;     // the page's values afterwards
    } cases[] = {
        {"two-point", 0, "1.0;0.0", 100.5, 10.5, nullptr, 1.0, -0.5},
        {"method 3", 1, "1.0;0.0", 1.0, -1, nullptr, 1.0, 0.0},
        {"gain 1.25 refused", 1, "1.0;0.0", 0.8, -1, ct::kGainOutOfRange, 1.0, 0.0},
        {"captures out of order", 0, "1.0;0.0", 10.5, 100.5, ct::kBadTargetsOrCaptures, 1.0, 0.0},
        {"gain zero", 1, "0.0;0.0", 1.0, -1, ct::kGainZero, 0.0, 0.0},
    };
    for (const Case& c : cases) {
        Bench b;
        b.instrument.gainOffset = c.gainOffset;
        b.session.Retrieve();
        b.session.Open(b.timers);
        // The targets of the two steps: 1.9 / 0.3 and 100000.
        if (c.page == 0) {
            ASSERT_TRUE(b.session.LeaveUpperTarget(0, "100"));
            ASSERT_TRUE(b.session.LeaveLowerTarget(0, "10"));
        }
        b.Capture(c.page, kCapturingUpper, c.upper);
        if (c.lower >= 0) b.Capture(c.page, kCapturingLower, c.lower);
        b.op.messages.clear();
        const bool ok = b.session.ComputeGainOffset(c.page);
        const CalibPage& p = b.session.Page(c.page);
        EXPECT_EQ(ok, c.message == nullptr) << c.what;
        if (c.message) {
            EXPECT_EQ(b.op.messages, (std::vector<ShownMessage>{{c.message, MessageIcon::Stop}}))
                << c.what;
            EXPECT_EQ(p.status, 0) << c.what;
        } else {
            EXPECT_EQ(p.status, 2) << c.what;
            EXPECT_STREQ(p.StatusText(), "Calibrated");
            EXPECT_FALSE(p.calibrateEnabled);
        }
        EXPECT_NEAR(p.gain, c.gain, 1e-12) << c.what;
        EXPECT_NEAR(p.offset, c.offset, 1e-12) << c.what;
    }
}

TEST(CalibNotReadTest, ARangeNeverReadIsSentOnlyWithBothValuesTyped) {
    Bench b;
    // The retrieval stops at the first entry of step 2, channel B (index 5): entries 5..39 are
    // not the instrument's.
    b.instrument.failAt = static_cast<int>(b.instrument.lines.size()) + 9 + 5 * 3;
    ScriptedOperator op;
    CalibSession s(b.instrument.Exchange(), op);
    EXPECT_FALSE(s.Retrieve());
    s.Open(b.timers);
    EXPECT_TRUE(s.Entry(1, 0).inInstrument);
    EXPECT_FALSE(s.Entry(1, 1).inInstrument);
    s.SelectChannel(1);
    const CalibPage& p = s.Page(1);
    EXPECT_STREQ(p.StatusText(), "Not read");
    EXPECT_FALSE(p.hasGain);  // an empty field, not 1.0000000
    EXPECT_FALSE(p.hasOffset);
    EXPECT_STREQ(s.Page(0).StatusText(), "Current");  // read before the failure

    // Passing through the empty gain field is no edit; typing only the offset is one.
    op.messages.clear();
    EXPECT_TRUE(s.LeaveGain(1, ""));
    EXPECT_EQ(p.status, 0);
    EXPECT_TRUE(s.LeaveOffset(1, "0.25"));
    EXPECT_STREQ(p.StatusText(), "Edited");
    s.ActivatePage(1);
    const size_t before = b.instrument.lines.size();
    op.yesNoAnswers = {true};
    s.ApplyCalibration();
    EXPECT_EQ(b.instrument.lines.size(), before);  // no "GAIN 1.000000" made up
    EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{ct::kNotReadApply});
    EXPECT_EQ(op.questions.size(), 0u);
    EXPECT_NE(s.SendPage(1), 0);

    // Nor is a new calibration computed from values the instrument may not have.
    b.instrument.reading = 1.0;
    s.StartCapture(1, kCapturingUpper);
    while (!s.Page(1).Idle()) s.OnTimer(1, s.Page(1).captureTimer);
    op.messages.clear();
    EXPECT_FALSE(s.ComputeGainOffset(1));
    EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{ct::kNotReadCompute});

    // A gain typed as 1 is a value given, even though the empty field meant 1.0 before.
    EXPECT_TRUE(s.LeaveGain(1, "1"));
    ASSERT_TRUE(p.hasGain);
    op.messages.clear();
    const size_t applyFrom = b.instrument.lines.size();
    s.ApplyCalibration();
    const auto sent = b.instrument.Since(applyFrom);
    ASSERT_GE(sent.size(), 5u);
    EXPECT_EQ(sent[3], "INST B:GAIN 1.000000;GAIN?");
    EXPECT_EQ(sent[4], "INST B:OFFSET 0.250000;OFFSET?");
    EXPECT_TRUE(op.messages.empty()) << op.MessageTexts()[0];
    EXPECT_STREQ(p.StatusText(), "Current");
    EXPECT_TRUE(s.Entry(1, 1).inInstrument);
    // Now the instrument's values are known and a computation may use them.
    EXPECT_TRUE(s.ComputeGainOffset(1));
}

TEST(CalibComputeTest, ComputesFromTheInstrumentsValuesNotThePages) {
    Bench b;  // the instrument holds gain 1, offset 0 on every range
    ASSERT_TRUE(b.session.LeaveUpperTarget(0, "100"));
    ASSERT_TRUE(b.session.LeaveLowerTarget(0, "10"));
    ASSERT_TRUE(b.session.LeaveGain(0, "1.1"));  // typed, never sent
    b.Capture(0, kCapturingUpper, 100.5);
    b.Capture(0, kCapturingLower, 10.5);
    const CalibPage& p = b.session.Page(0);
    ASSERT_TRUE(b.session.ComputeGainOffset(0));
    EXPECT_NEAR(p.gain, 1.0, 1e-12);
    EXPECT_NEAR(p.offset, -0.5, 1e-12);
    // A second Calibrate of the same captures, not applied in between, gives the same answer.
    ASSERT_TRUE(b.session.ComputeGainOffset(0));
    EXPECT_NEAR(p.gain, 1.0, 1e-12);
    EXPECT_NEAR(p.offset, -0.5, 1e-12);

    // Applied: the instrument now measures with gain 1 and offset -0.5, and reads the same
    // standards as 100 and 10; the calibration they give is the one it has.
    b.op.yesNoAnswers = {true};
    b.session.ApplyCalibration();
    ASSERT_EQ(p.status, 0);
    EXPECT_DOUBLE_EQ(b.session.Entry(0, 0).instrumentOffset, -0.5);
    b.Capture(0, kCapturingUpper, 100.0);
    b.Capture(0, kCapturingLower, 10.0);
    ASSERT_TRUE(b.session.ComputeGainOffset(0));
    EXPECT_NEAR(p.gain, 1.0, 1e-12);
    EXPECT_NEAR(p.offset, -0.5, 1e-12);
}

TEST(CalibChannelTest, ChangingTheChannelConfiguresItForThePageShown) {
    Bench b;
    b.session.SelectChannel(1);  // no page shown yet: nothing to configure
    EXPECT_EQ(b.instrument.lines.size(), 130u);
    b.session.ActivatePage(4);
    const size_t before = b.instrument.lines.size();
    b.session.SelectChannel(3);
    EXPECT_EQ(
        b.instrument.Since(before),
        (std::vector<std::string>{"INST D:MODE ON;MODE?;", "INST D:TYPE R10UA;TYPE?",
                                  "INPUT D:UNIT S;ISENIX 22;:*OPC?", "INST D:MODE OFF;MODE?;"}));
}

TEST(CalibEditTest, TargetGainAndOffsetFields) {
    Bench b;
    struct Case {
        std::function<bool()> leave;
        const char* message;
    } cases[] = {
        {[&] { return b.session.LeaveUpperTarget(0, "0.2"); }, ct::kTargetsOutOfOrder},
        {[&] { return b.session.LeaveLowerTarget(0, "1.9"); }, ct::kTargetsOutOfOrder},
        {[&] { return b.session.LeaveLowerTarget(0, "-0.1"); }, ct::kLowerNegative},
        // Its lower target is 0: the order test comes first.
        {[&] { return b.session.LeaveUpperTarget(1, "0"); }, ct::kTargetsOutOfOrder},
        {[&] { return b.session.LeaveUpperTarget(0, "1.9x"); }, ct::kEnterNumber},
        {[&] { return b.session.LeaveGain(0, "1.21"); }, ct::kGainLimits},
        {[&] { return b.session.LeaveGain(0, "0.89"); }, ct::kGainLimits},
    };
    for (auto& c : cases) {
        b.op.messages.clear();
        EXPECT_FALSE(c.leave()) << c.message;
        EXPECT_EQ(b.op.messages, (std::vector<ShownMessage>{{c.message, MessageIcon::Stop}}));
    }
    EXPECT_DOUBLE_EQ(b.session.Page(0).upperTarget, 1.9);
    EXPECT_DOUBLE_EQ(b.session.Page(0).lowerTarget, 0.3);
    EXPECT_EQ(b.session.Page(0).status, 0);

    EXPECT_TRUE(b.session.LeaveGain(0, "1.0000000"));  // unchanged
    EXPECT_EQ(b.session.Page(0).status, 0);
    EXPECT_TRUE(b.session.LeaveGain(0, "1.2"));  // limits are inclusive
    EXPECT_EQ(b.session.Page(0).status, 1);
    EXPECT_TRUE(b.session.LeaveOffset(2, " -0.125 "));
    EXPECT_EQ(b.session.Page(2).status, 1);
    EXPECT_STREQ(b.session.Page(2).StatusText(), "Edited");
}

TEST(CalibChannelTest, SwitchingChannelsKeepsEditsOfEachChannel) {
    Bench b;
    ASSERT_TRUE(b.session.LeaveGain(3, "1.1"));
    ASSERT_TRUE(b.session.LeaveOffset(3, "0.5"));
    b.session.SelectChannel(1);
    EXPECT_EQ(b.session.Page(3).status, 0);
    EXPECT_DOUBLE_EQ(b.session.Page(3).gain, 1.0);
    EXPECT_EQ(b.session.Page(3).title, "Calibrating CHB, 100uA CI AC Resistance ");
    b.session.SelectChannel(0);
    EXPECT_EQ(b.session.Page(3).status, 1);
    EXPECT_DOUBLE_EQ(b.session.Page(3).gain, 1.1);
    EXPECT_DOUBLE_EQ(b.session.Page(3).offset, 0.5);
    EXPECT_EQ(b.session.Entry(3, 0).status, 1);
}

TEST(CalibApplyTest, SendsTheActivePageWithReadBackAndSaves) {
    Bench b;
    b.session.SelectChannel(1);
    b.session.ActivatePage(0);
    ASSERT_TRUE(b.session.LeaveGain(0, "1.0123456"));
    ASSERT_TRUE(b.session.LeaveOffset(0, "-0.5"));
    b.instrument.answer = [](const std::string& line, std::string* reply) {
        if (!reply) return 0;
        if (line.find(";GAIN?") != std::string::npos)
            *reply = "1.0124";
        else if (line.find(";OFFSET?") != std::string::npos)
            *reply = "-0.5000000";
        else
            *reply = "ON";
        return 0;
    };
    b.op.yesNoAnswers = {true};
    const size_t before = b.instrument.lines.size();
    b.session.ApplyCalibration();
    EXPECT_EQ(b.op.questions, std::vector<std::string>{ct::kSendQuestion});
    EXPECT_EQ(
        b.instrument.Since(before),
        (std::vector<std::string>{"INST B:MODE ON;MODE?;", "INST B:TYPE V10UA;TYPE?",
                                  "INPUT B:UNIT S;ISENIX 19;:*OPC?", "INST B:GAIN 1.012346;GAIN?",
                                  "INST B:OFFSET -0.500000;OFFSET?", "INST B:SAVE;MODE?",
                                  "INST B:MODE OFF;MODE?;"}));
    EXPECT_TRUE(b.op.messages.empty());
    EXPECT_EQ(b.session.Page(0).status, 0);
    EXPECT_TRUE(b.session.Page(0).sent);
    EXPECT_TRUE(b.session.ConfirmQuit());
    EXPECT_EQ(b.op.questions.size(), 1u);
}

TEST(CalibApplyTest, RefusalsAndFailures) {
    {
        Bench b;  // nothing modified
        b.session.ApplyCalibration();
        EXPECT_EQ(b.op.messages,
                  (std::vector<ShownMessage>{{ct::kNoModification, MessageIcon::Information}}));
        EXPECT_TRUE(b.op.questions.empty());
    }
    {
        Bench b;  // another page modified, the active one not
        ASSERT_TRUE(b.session.LeaveGain(4, "1.1"));
        b.session.ActivatePage(0);
        const size_t before = b.instrument.lines.size();
        b.op.yesNoAnswers = {true};
        b.session.ApplyCalibration();
        EXPECT_EQ(b.instrument.lines.size(), before);
        EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{ct::kFailedToSend});
    }
    {
        Bench b;  // the operator says no
        ASSERT_TRUE(b.session.LeaveGain(0, "1.1"));
        const size_t before = b.instrument.lines.size();
        b.op.yesNoAnswers = {false};
        b.session.ApplyCalibration();
        EXPECT_EQ(b.instrument.lines.size(), before);
        EXPECT_EQ(b.session.Page(0).status, 1);
    }
    {
        Bench b;  // read-back outside the tolerance: no save, calibration mode left
        ASSERT_TRUE(b.session.LeaveGain(0, "1.1"));
        b.instrument.answer = [](const std::string& line, std::string* reply) {
            if (reply) *reply = line.find(";GAIN?") != std::string::npos ? "1.10011" : "ON";
            return 0;
        };
        b.op.yesNoAnswers = {true};
        const size_t before = b.instrument.lines.size();
        b.session.ApplyCalibration();
        const auto sent = b.instrument.Since(before);
        ASSERT_EQ(sent.size(), 5u);
        EXPECT_EQ(sent[3], "INST A:GAIN 1.100000;GAIN?");
        EXPECT_EQ(sent[4], "INST A:MODE OFF;MODE?;");
        EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{ct::kFailedToSend});
        EXPECT_EQ(b.session.Page(0).status, 1);
        EXPECT_FALSE(b.session.Page(0).sent);
    }
}

TEST(CalibQuitTest, AsksOnlyWhenSomethingIsNotSaved) {
    Bench b;
    EXPECT_TRUE(b.session.ConfirmQuit());
    ASSERT_TRUE(b.session.LeaveGain(2, "1.1"));
    b.session.SelectChannel(3);  // the edit now lives in channel A's entry only
    b.op.yesNoAnswers = {false, true};
    EXPECT_FALSE(b.session.ConfirmQuit());
    EXPECT_TRUE(b.session.ConfirmQuit());
    EXPECT_EQ(b.op.questions, (std::vector<std::string>{ct::kQuitQuestion, ct::kQuitQuestion}));
}

TEST(CalibRestoreTest, PutsBackWhatTheStepsChangedAndSaysWhenItCannot) {
    FakeInstrument inst;
    ScriptedOperator op;
    CalibSession s(inst.Exchange(), op);
    FakeTimers timers;
    // A retrieval that fails part-way has still changed the inputs it reached.
    inst.failAt = 8 + 1 + 5 * 3;
    EXPECT_FALSE(s.Retrieve());
    inst.failAt = -1;
    op.messages.clear();
    size_t before = inst.lines.size();
    EXPECT_EQ(s.RestoreInputs(), 0);
    std::vector<std::string> want{"INST A:MODE ON;MODE?;"};
    for (char c : std::string("ABCD")) {
        const std::string ch(1, c);
        for (const std::string& l :
             {"INST " + ch + ":TYPE V10UA;TYPE?",
              "INPUT " + ch + ":ISENIX 1;VBIAS 10MV;BRANGE 10K;UNIT K;:*OPC?",
              "INST " + ch + ":TYPE?", "INPUT " + ch + ":UNIT?;ISENIX?;VBIAS?;BRANGE?"})
            want.push_back(l);
    }
    want.push_back("INST A:MODE OFF;MODE?;");
    EXPECT_EQ(inst.Since(before), want);
    EXPECT_TRUE(op.messages.empty());
    before = inst.lines.size();
    EXPECT_EQ(s.RestoreInputs(), 0);  // nothing changed since
    EXPECT_EQ(inst.lines.size(), before);

    // A page changes channel C again; the instrument does not take its unit back.
    s.Open(timers);
    s.SelectChannel(2);
    s.ActivatePage(2);
    inst.settings = "S;20;10MV;10K";
    op.messages.clear();
    EXPECT_NE(s.RestoreInputs(), 0);
    EXPECT_EQ(
        op.messages,
        (std::vector<ShownMessage>{{FormatC(ct::kInputsNotRestored, "C"), MessageIcon::Stop}}));

    // The link is gone: no input is back, and the operator is told which.
    s.SelectChannel(0);
    inst.failAt = static_cast<int>(inst.lines.size());
    op.messages.clear();
    EXPECT_NE(s.RestoreInputs(), 0);
    EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{FormatC(ct::kInputsNotRestored, "A, C")});
}

// ---------------------------------------------------------------------------------------------
// Password

TEST(CalibPasswordTest, ComparesThePaddedTextExactly) {
    struct Case {
        std::string typed;
        std::string stored;  // as the instrument answers
        bool asked;
        bool ok;
    } cases[] = {
        {"ABCDEFGHIJ", "ABCDEFGHIJ", true, true},     // ten: no blanks added
        {"ABCDEFGHIJK", "ABCDEFGHIJ", false, false},  // eleven: no exchange
        {"", "          ", true, true},               // empty: ten blanks
        {"calib", "CALIB     ", true, false},         // case counts
        {"CALIB", "CALIB     ", true, true},
        {"CALIB", "CALIB", true, false},  // the instrument pads; a bare reply is not it
    };
    for (const Case& c : cases) {
        FakeInstrument inst;
        inst.answer = [&](const std::string&, std::string* reply) {
            *reply = c.stored;
            return 0;
        };
        ScriptedOperator op;
        op.calibPasswordAnswers = {DialogResult<std::string>::Accept(c.typed)};
        EXPECT_EQ(VerifyCalibrationPassword(op, inst.Exchange().transact, op), c.ok) << c.typed;
        EXPECT_EQ(inst.lines,
                  c.asked ? std::vector<std::string>{"INST A:PSWD?"} : std::vector<std::string>{})
            << c.typed;
        EXPECT_TRUE(op.messages.empty());
    }
    FakeInstrument inst;
    inst.failAt = 0;
    ScriptedOperator op;
    EXPECT_FALSE(VerifyCalibrationPassword(op, inst.Exchange().transact, op));  // cancelled
    EXPECT_TRUE(inst.lines.empty());
    op.calibPasswordAnswers = {DialogResult<std::string>::Accept("CALIB")};
    EXPECT_FALSE(VerifyCalibrationPassword(op, inst.Exchange().transact, op));
    EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{ct::kFailedToGetPassword});
}

TEST(CalibPasswordTest, ChangeSendsUpperCaseAndRefusesMismatchesAndLineBreakers) {
    struct Case {
        NewPasswordEntry entry;
        const char* sent;  // null: nothing sent
        const char* message;
    } cases[] = {
        {{"newpw", "newpw"}, "INST A:PSWD NEWPW;PSWD?", nullptr},
        {{"", ""}, "INST A:PSWD ;PSWD?", nullptr},
        {{"NEWPW", "NEWPw"}, nullptr, ct::kPasswordsDoNotMatch},
        {{"A;SAVE", "A;SAVE"}, nullptr, ct::kPasswordBadCharacter},
        {{"AB\nC", "AB\nC"}, nullptr, ct::kPasswordBadCharacter},
        {{"ABCDEFGHIJK", "ABCDEFGHIJK"}, nullptr, ct::kPasswordTooLong},
    };
    for (const Case& c : cases) {
        FakeInstrument inst;
        ScriptedOperator op;
        op.newPasswordAnswers = {DialogResult<NewPasswordEntry>::Accept(c.entry)};
        ChangeCalibrationPassword(op, inst.Exchange().transact, op);
        EXPECT_EQ(inst.lines,
                  c.sent ? std::vector<std::string>{c.sent} : std::vector<std::string>{})
            << c.entry.newText;
        EXPECT_EQ(op.MessageTexts(),
                  c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
    }
    FakeInstrument inst;
    inst.failAt = 0;
    ScriptedOperator op;
    ChangeCalibrationPassword(op, inst.Exchange().transact, op);  // cancel: quiet
    EXPECT_TRUE(op.messages.empty());
    op.newPasswordAnswers = {DialogResult<NewPasswordEntry>::Accept({"X", "X"})};
    ChangeCalibrationPassword(op, inst.Exchange().transact, op);
    EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{ct::kFailedToSetPassword});

    EXPECT_STREQ(ChangePasswordForm::CheckOnLeave("abC"), ct::kPasswordUppercase);
    EXPECT_EQ(ChangePasswordForm::CheckOnLeave("AB C1"), nullptr);
    EXPECT_TRUE(ChangePasswordForm::Fits(9, 0, 1));
    EXPECT_FALSE(ChangePasswordForm::Fits(10, 0, 1));
    EXPECT_TRUE(ChangePasswordForm::Fits(10, 2, 2));
    EXPECT_EQ(ChangePasswordForm::CheckOnOk({"ABCDEFGHIJK", "X"}),
              "Enter no more than 10 characters.");
}

// ---------------------------------------------------------------------------------------------
// The command over the simulated controller

TEST(CalibrationCommandTest, WholeRetrieveCaptureAndApplyOnTheWire) {
    test::SimLinkBench bench(28);
    bench.link.StartUp();
    bench.op.calibPasswordAnswers = {DialogResult<std::string>::Accept("CALIB")};
    // Channel B of the first step reads 100.5 and 10.5 for standards of 100 and 10.
    std::vector<std::string> duringDialog;
    FakeTimers timers;
    bench.op.calibrationDialog = [&](CalibSession& s) {
        s.Open(timers);
        s.SelectChannel(1);
        s.ActivatePage(0);
        EXPECT_TRUE(s.LeaveUpperTarget(0, "100"));
        EXPECT_TRUE(s.LeaveLowerTarget(0, "10"));
        for (auto [state, standard] :
             {std::pair{kCapturingUpper, 100.5}, {kCapturingLower, 10.5}}) {
            bench.engine.Execute("SIM:APPLY B " + std::to_string(standard));
            s.StartCapture(0, state);
            for (int n = 0; n < 100 && !s.Page(0).Idle(); ++n) s.OnTimer(0, s.Page(0).captureTimer);
        }
        EXPECT_TRUE(s.ComputeGainOffset(0));
        EXPECT_NEAR(s.Page(0).gain, 1.0, 1e-4);
        EXPECT_NEAR(s.Page(0).offset, -0.5, 1e-2);
        bench.op.yesNoAnswers = {true};
        s.ApplyCalibration();
        EXPECT_EQ(s.Page(0).status, 0);
        EXPECT_TRUE(s.ConfirmQuit());
        return DialogOutcome::Ok;
    };
    bench.engine.ClearReceivedLines();
    CalibrationContext ctx{bench.link, bench.mutex, bench.op, bench.op};
    EXPECT_EQ(PerformCalibration(ctx), kCalibrationShown);
    EXPECT_EQ(bench.op.MessageTexts(),
              (std::vector<std::string>{ct::kCapturedUpper, ct::kCapturedLower}));

    const std::vector<std::string> lines = bench.engine.ReceivedLines();
    ASSERT_GT(lines.size(), 160u);
    EXPECT_EQ(lines[0], "INST A:PSWD?");
    EXPECT_EQ(lines[1], "SYST:IDEF?");
    EXPECT_EQ(lines[2], "INST A:TYPE?");
    EXPECT_EQ(lines[9], "INPUT D:UNIT?;ISENIX?;VBIAS?;BRANGE?");
    EXPECT_EQ(lines[10], "INST A:MODE ON;MODE?;");
    EXPECT_EQ(lines[11], "INST A:TYPE V10UA;TYPE?");
    EXPECT_EQ(lines[12], "INPUT A:UNIT S;ISENIX 19;:*OPC?");
    EXPECT_EQ(lines[13], "INST A:GAIN?;OFFSET?;");
    EXPECT_EQ(lines[131], "INST A:MODE OFF;MODE?;");
    const std::vector<std::string> configure(lines.begin() + 132, lines.begin() + 136);
    EXPECT_EQ(configure, (std::vector<std::string>{
                             "INST B:MODE ON;MODE?;", "INST B:TYPE V10UA;TYPE?",
                             "INPUT B:UNIT S;ISENIX 19;:*OPC?", "INST B:MODE OFF;MODE?;"}));
    // The capture lines, the apply sequence with the instrument's own read-back, then every
    // input put back as it was (in calibration mode, each read back).
    const size_t restore = lines.size() - (2 + 4 * 4);
    EXPECT_EQ(lines[restore], "INST A:MODE ON;MODE?;");
    EXPECT_EQ(lines[restore + 5], "INST B:TYPE V10UA;TYPE?");
    EXPECT_EQ(lines[restore + 6], "INPUT B:ISENIX 2;VBIAS 10MV;BRANGE 10K;UNIT K;:*OPC?");
    EXPECT_EQ(lines.back(), "INST A:MODE OFF;MODE?;");
    std::vector<std::string> tail(lines.begin() + static_cast<long>(restore) - 7,
                                  lines.begin() + static_cast<long>(restore));
    EXPECT_EQ(tail[0], "INST B:MODE ON;MODE?;");
    EXPECT_EQ(tail[3].substr(0, 12), "INST B:GAIN ");
    EXPECT_EQ(tail[5], "INST B:SAVE;MODE?");
    EXPECT_EQ(tail[6], "INST B:MODE OFF;MODE?;");
    for (size_t k = 136; k < restore - 7; ++k)
        EXPECT_TRUE(lines[k] == "INPUT? B;" || lines[k] == "syst:reseed;:*OPC?" ||
                    lines[k].rfind("SIM:", 0) == 0)
            << lines[k];

    // Saved: it survives leaving calibration mode and reads back through the link.
    std::string reply;
    ASSERT_EQ(bench.link.Query("INST B:TYPE V10UA;GAIN?", reply), 0);
    EXPECT_NEAR(std::stod(reply), 1.0, 1e-4);
}

TEST(CalibrationCommandTest, EveryWayOutLeavesEachInputAsItWas) {
    // Each channel set up its own way beforehand.
    const std::vector<std::string> setup = {"INP B:UNIT C", "INP C:ISENIX 5", "INST D:TYPE ACR1K",
                                            "INP D:BRANGE 100"};
    auto settingsOf = [](CInstrumentLink& link) {
        std::vector<std::string> out;
        for (char c : std::string("ABCD")) {
            std::string type, input;
            EXPECT_EQ(link.Query(FormatC("INST %c:TYPE?", c), type), 0);
            EXPECT_EQ(link.Query(FormatC("INP %c:UNIT?;ISENIX?;VBIAS?;BRANGE?", c), input), 0);
            out.push_back(type + " " + input);
        }
        return out;
    };
    struct Way {
        const char* what;
        std::function<DialogOutcome(CalibSession&, FakeTimers&)> dialog;
    } ways[] = {
        {"cancelled at once", [](CalibSession&, FakeTimers&) { return DialogOutcome::Cancel; }},
        {"pages and channels changed",
         [](CalibSession& s, FakeTimers& timers) {
             s.Open(timers);
             s.ActivatePage(7);
             s.SelectChannel(3);
             s.ActivatePage(5);
             s.StartCapture(5, kCapturingUpper);
             s.OnTimer(5, kUpperCaptureTimer);
             s.Close();
             return DialogOutcome::Ok;
         }},
        {"no dialog", [](CalibSession&, FakeTimers&) { return DialogOutcome::CouldNotCreate; }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.what);
        test::SimLinkBench bench(28);
        bench.link.StartUp();
        for (const std::string& line : setup) ASSERT_EQ(bench.link.Command(line), 0);
        const std::vector<std::string> before = settingsOf(bench.link);
        EXPECT_EQ(before[1].substr(before[1].find(' ') + 1, 2), "C;");
        bench.op.calibPasswordAnswers = {DialogResult<std::string>::Accept("CALIB")};
        FakeTimers timers;
        bench.op.calibrationDialog = [&](CalibSession& s) {
            // While the dialog is up the inputs are in sensor units.
            std::string unit;
            EXPECT_EQ(bench.link.Query("INP A:UNIT?", unit), 0);
            EXPECT_EQ(unit, "S");
            return way.dialog(s, timers);
        };
        CalibrationContext ctx{bench.link, bench.mutex, bench.op, bench.op};
        PerformCalibration(ctx);
        EXPECT_EQ(settingsOf(bench.link), before);
        std::string mode;
        ASSERT_EQ(bench.link.Query("INST A:MODE?", mode), 0);
        EXPECT_EQ(mode, "OFF");
        for (const std::string& m : bench.op.MessageTexts())
            EXPECT_EQ(m.find("Could not set input"), std::string::npos) << m;
    }
}

TEST(CalibrationCommandTest, PasswordNeverReachesMessagesLogOrFiles) {
    test::SimLinkBench bench(28);
    bench.link.StartUp();
    const std::string secret = "QZX7Q";
    bench.op.calibPasswordAnswers = {DialogResult<std::string>::Accept("WRONGPW"),
                                     DialogResult<std::string>::Accept("CALIB")};
    bench.op.newPasswordAnswers = {DialogResult<NewPasswordEntry>::Accept({secret, secret})};
    CalibrationContext ctx{bench.link, bench.mutex, bench.op, bench.op};
    EXPECT_EQ(PerformCalibration(ctx), kCalibrationNoPassword);
    bench.op.calibrationDialog = [&](CalibSession&) {
        ChangeCalibrationPassword(bench.op, CalibExchangeOver(bench.link).transact, bench.op);
        return DialogOutcome::Ok;
    };
    EXPECT_EQ(PerformCalibration(ctx), kCalibrationShown);
    std::string reply;
    ASSERT_EQ(bench.link.Query("INST A:PSWD?", reply), 0);
    EXPECT_EQ(reply, secret + "     ");

    auto clean = [&](const std::string& text) {
        for (const std::string& s : {secret, std::string("CALIB"), std::string("WRONGPW")})
            if (text.find(s) != std::string::npos) return false;
        return true;
    };
    for (const std::string& m : bench.op.MessageTexts()) EXPECT_TRUE(clean(m)) << m;
    for (const std::string& q : bench.op.questions) EXPECT_TRUE(clean(q)) << q;
    for (const std::string& l : bench.log.lines) EXPECT_TRUE(clean(l)) << l;
    bench.settings.WriteInt("X", "Y", 1);  // make sure the store wrote its file
    for (const auto& f : std::filesystem::recursive_directory_iterator(bench.dir.Path())) {
        if (!f.is_regular_file()) continue;
        std::FILE* in = std::fopen(f.path().c_str(), "rb");
        ASSERT_NE(in, nullptr);
        std::string text;
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, in)) > 0;) text.append(buf, n);
        std::fclose(in);
        EXPECT_TRUE(clean(text)) << f.path();
    }
}

TEST(CalibrationCommandTest, ModelWithoutStepsGetsAMessageAndNoDialog) {
    test::SimLinkBench bench(32);
    bench.link.StartUp();
    bench.op.calibPasswordAnswers = {DialogResult<std::string>::Accept("CALIB")};
    CalibrationContext ctx{bench.link, bench.mutex, bench.op, bench.op};
    bench.engine.ClearReceivedLines();
    EXPECT_EQ(PerformCalibration(ctx), kCalibrationNoSteps);
    EXPECT_EQ(bench.op.calibrationDialogsShown, 0);
    EXPECT_EQ(bench.op.MessageTexts(), std::vector<std::string>{ct::kNoSteps});
    EXPECT_EQ(bench.engine.ReceivedLines(),
              (std::vector<std::string>{"INST A:PSWD?", "SYST:IDEF?"}));

    // Busy instrument: nothing at all.
    std::thread holder([&] {
        bench.mutex.TryLockFor(0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1300));
        bench.mutex.Unlock();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    bench.engine.ClearReceivedLines();
    EXPECT_EQ(PerformCalibration(ctx), kCalibrationBusy);
    holder.join();
    EXPECT_TRUE(bench.engine.ReceivedLines().empty());
}

}  // namespace
}  // namespace tavrix
