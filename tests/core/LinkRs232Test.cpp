#include <gtest/gtest.h>

#include <chrono>

#include "TestSupport.h"
#include "base/SettingsStore.h"
#include "base/Texts.h"
#include "link/CInstrumentLink.h"

using namespace tavrix;
using namespace std::chrono;
using tavrix::test::PtyInstrument;
using tavrix::test::PtyLinkBench;
using tavrix::test::ScriptedOperator;
using tavrix::test::TempDir;

namespace {

// Waits until the instrument has seen `count` bytes (the link does not wait for commands).
void WaitForBytes(const PtyInstrument& in, size_t count) {
    const auto end = steady_clock::now() + seconds(3);
    while (in.Received().size() < count && steady_clock::now() < end)
        std::this_thread::sleep_for(milliseconds(5));
}

}  // namespace

TEST(LinkRs232, AQueryIsFramedByLineFeedsAndItsReplyLosesEveryCarriageReturn) {
    PtyLinkBench f([](const std::string& line) -> std::optional<std::string> {
        if (line == "*IDN?") return "a\rbc";  // the terminator adds CR LF
        return std::nullopt;
    });
    std::string reply;
    EXPECT_EQ(f.link.Query("*IDN?", reply), 0);
    EXPECT_EQ(reply, "abc");
    EXPECT_EQ(f.instrument.Received(), "\n*IDN?\n");
    EXPECT_TRUE(f.op.messages.empty());
}

TEST(LinkRs232, PacingPausesAHundredMillisecondsBeforeTheClosingLineFeed) {
    PtyLinkBench f([](const std::string&) { return std::nullopt; });
    ASSERT_EQ(f.link.Command("CALC 61", 1), 0);
    WaitForBytes(f.instrument, 9);
    const auto times = f.instrument.ByteTimes();
    ASSERT_EQ(f.instrument.Received(), "\nCALC 61\n");
    const auto gap = duration_cast<milliseconds>(times.back() - times[times.size() - 2]);
    EXPECT_GE(gap.count(), 95);
    EXPECT_LT(gap.count(), 400);
}

TEST(LinkRs232, CommandsOfAtMostAHundredCharactersAreSentLongerOnesNever) {
    PtyLinkBench f([](const std::string&) { return std::nullopt; });
    const std::string hundred(100, 'X');
    const std::string longer(101, 'Y');
    std::string reply;
    EXPECT_EQ(f.link.Transact(&longer, &reply, 0), link_status::kTooLong);
    EXPECT_EQ(f.link.TransactQuiet(longer, &reply), link_status::kTooLong);
    EXPECT_EQ(f.link.FetchTable(3, "x", &longer, &reply), link_status::kTooLong);
    EXPECT_EQ(f.link.Command(hundred), 0);
    WaitForBytes(f.instrument, 102);
    EXPECT_EQ(f.instrument.Received(), "\n" + hundred + "\n");
}

TEST(LinkRs232, ALeadingQuestionMarkIsNotAQueryAndIsSentOnceWithoutReading) {
    PtyLinkBench f([](const std::string&) { return std::nullopt; });
    std::string reply = "untouched";
    const std::string cmd = "?A?";
    const auto start = steady_clock::now();
    EXPECT_EQ(f.link.Transact(&cmd, &reply, 0), 0);
    EXPECT_LT(steady_clock::now() - start, milliseconds(300));
    WaitForBytes(f.instrument, 5);
    EXPECT_EQ(f.instrument.Received(), "\n?A?\n");
    EXPECT_EQ(reply, "untouched");
}

TEST(LinkRs232, ASilentInstrumentIsAskedElevenTimesThenCommunicationErrorIsShown) {
    PtyLinkBench f([](const std::string&) { return std::nullopt; });
    std::string reply;
    const auto start = steady_clock::now();
    EXPECT_EQ(f.link.Query("INP A:TEMP?", reply), link_status::kRs232Timeout);
    const auto took = steady_clock::now() - start;
    EXPECT_EQ(f.instrument.Lines().size(), 11u);
    ASSERT_EQ(f.op.messages.size(), 1u);
    EXPECT_EQ(f.op.messages[0].text, "Communication Error");
    EXPECT_EQ(f.op.messages[0].icon, MessageIcon::Stop);
    // Eleven read time-outs of about half a second, and not much more.
    EXPECT_LT(took, seconds(9));

    // The quiet form tries once and shows nothing.
    f.op.messages.clear();
    EXPECT_EQ(f.link.TransactQuiet("INP A:TEMP?", &reply), link_status::kRs232Timeout);
    EXPECT_EQ(f.instrument.Lines().size(), 12u);
    EXPECT_TRUE(f.op.messages.empty());
}

TEST(LinkRs232, AnAnswerOnTheSecondAttemptSucceeds) {
    int asked = 0;
    PtyLinkBench f([&](const std::string&) -> std::optional<std::string> {
        if (++asked == 1) return std::nullopt;
        return "1.000";
    });
    std::string reply;
    EXPECT_EQ(f.link.Query("INP A:TEMP?", reply), 0);
    EXPECT_EQ(reply, "1.000");
    EXPECT_EQ(f.instrument.Lines().size(), 2u);
    EXPECT_TRUE(f.op.messages.empty());
}

TEST(LinkRs232, AnEndlessLineWithoutLineFeedFailsInsteadOfGrowingForever) {
    PtyLinkBench f([](const std::string&) -> std::optional<std::string> {
        return std::string(5000, 'g');  // CR LF only after 5000 bytes
    });
    std::string reply;
    EXPECT_EQ(f.link.Query("*IDN?", reply), link_status::kRs232Timeout);
    EXPECT_TRUE(reply.empty());
    EXPECT_EQ(f.instrument.Lines().size(), 1u);  // not repeated
    EXPECT_EQ(f.op.MessageTexts(), std::vector<std::string>{"Communication Error"});
}

TEST(LinkRs232, FetchTableCountsLinesUpToTheSemicolonLine) {
    PtyLinkBench f([](const std::string& line) -> std::optional<std::string> {
        if (line == "CALC? 61") return "one\r\ntwo\r\nthree\r\n;";
        return std::nullopt;
    });
    std::string reply;
    const std::string cmd = "CALC? 61";
    EXPECT_EQ(f.link.FetchTable(3, "Receiving curve", &cmd, &reply), 3);
    EXPECT_EQ(reply, "one\ntwo\nthree\n;\n");
    ASSERT_EQ(f.op.progress.size(), 1u);
    EXPECT_EQ(f.op.progress[0]->messages, std::vector<std::string>{"Receiving curve"});
    EXPECT_EQ(f.op.progress[0]->high, 100);
    EXPECT_EQ(f.op.progress[0]->positions, (std::vector<int>{33, 66, 100, 100}));
    EXPECT_EQ(f.op.progress[0]->closed, 1);
}

TEST(LinkRs232, FetchTableThatStopsMidwayFailsWithCommunicationError) {
    PtyLinkBench f([](const std::string&) -> std::optional<std::string> { return "one\r\ntwo"; });
    std::string reply;
    const std::string cmd = "DLog:Read?";
    EXPECT_EQ(f.link.FetchTable(10, "x", &cmd, &reply), link_status::kRs232Timeout);
    EXPECT_EQ(f.op.MessageTexts(), std::vector<std::string>{"Communication Error"});
    EXPECT_EQ(f.op.progress.at(0)->closed, 1);
}

TEST(LinkRs232, FetchTableArgumentChecks) {
    PtyLinkBench f([](const std::string&) { return std::nullopt; });
    std::string reply;
    const std::string cmd = "CALC? 1";
    EXPECT_EQ(f.link.FetchTable(3, "x", nullptr, &reply), link_status::kNoCommand);
    EXPECT_EQ(f.link.FetchTable(3, "x", &cmd, nullptr), link_status::kNoReply);
    f.link.SetPortType(1);
    EXPECT_EQ(f.link.FetchTable(3, "x", &cmd, &reply), link_status::kBadPortType);
    EXPECT_EQ(f.link.Transact(&cmd, &reply, 0), link_status::kBadPortType);
    EXPECT_TRUE(f.instrument.Received().empty());
    for (const auto& p : f.op.progress) EXPECT_EQ(p->closed, 1);
}

TEST(LinkRs232, ShutDownSaysGoodbyeWithEndOfTransmission) {
    PtyLinkBench f([](const std::string&) { return std::nullopt; });
    f.link.ShutDown();
    WaitForBytes(f.instrument, 1);
    EXPECT_EQ(f.instrument.Received(), "\x04");
    EXPECT_EQ(f.link.SerialPort(), nullptr);
}
