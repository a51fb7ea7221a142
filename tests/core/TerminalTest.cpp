#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "TestSupport.h"
#include "base/SettingsStore.h"
#include "consoles/Terminal.h"

using namespace tavrix;
using namespace std::chrono;
using tavrix::test::PtyLinkBench;
using tavrix::test::TempDir;

namespace {
using Lines = std::vector<std::string>;

std::optional<std::string> Instrument(const std::string& line) {
    if (line == "*IDN?") return "TAVRIX,MODEL 28,123,1.0";
    return std::nullopt;
}

Lines WaitForLines(const PtyLinkBench& f, size_t count) {
    const auto end = steady_clock::now() + seconds(3);
    while (f.instrument.Lines().size() < count && steady_clock::now() < end)
        std::this_thread::sleep_for(milliseconds(5));
    return f.instrument.Lines();
}
}  // namespace

TEST(Terminal, QueriesCommandsAndEmptyLinesAreLoggedAsTheViewShowsThem) {
    PtyLinkBench f(Instrument);
    struct Case {
        std::string text;
        Lines log;
        Lines sent;
    };
    const Case cases[] = {
        {"*IDN?", {"\nquery:*IDN?", "\nresponse:TAVRIX,MODEL 28,123,1.0\n"}, {"*IDN?"}},
        {"INP A:UNIT K", {"\ncommand:INP A:UNIT K\n"}, {"INP A:UNIT K"}},
        // A "?" only in first place: a command, no reply is waited for.
        {"?abc", {"\ncommand:?abc\n"}, {"?abc"}},
        {"?A?", {"\nquery:?A?", "\nresponse:\n"}, {"?A?"}},
        {"", {}, {}},
    };
    size_t sentBefore = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        f.log.lines.clear();
        const auto start = steady_clock::now();
        const TerminalExchange ex = HandleTerminalCommand(f.ctx, c.text);
        EXPECT_EQ(ex.sent, !c.text.empty());
        EXPECT_FALSE(ex.failed);
        EXPECT_LT(steady_clock::now() - start, milliseconds(500));
        EXPECT_EQ(f.log.lines, c.log);
        const auto sent = WaitForLines(f, sentBefore + c.sent.size());
        EXPECT_EQ(Lines(sent.begin() + static_cast<long>(sentBefore), sent.end()), c.sent);
        sentBefore = sent.size();
    }
    EXPECT_TRUE(f.op.messages.empty());
}

TEST(Terminal, AFailedQueryShowsAnEmptyReplyAndSaysWhy) {
    PtyLinkBench f([](const std::string&) { return std::nullopt; });
    const TerminalExchange ex = HandleTerminalCommand(f.ctx, "INP A:TEMP?");
    EXPECT_TRUE(ex.failed);
    EXPECT_EQ(f.log.lines,
              (Lines{"\nquery:INP A:TEMP?", "\nresponse:\n",
                     "Error:RS232 failure (no complete reply in time, or the port refused the write)\n"}));
    // One attempt only, and no message box.
    EXPECT_EQ(f.instrument.Lines(), Lines{"INP A:TEMP?"});
    EXPECT_TRUE(f.op.messages.empty());
}

TEST(Terminal, ALineIsNotSentWhileAnotherExchangeHoldsTheLock) {
    PtyLinkBench f(Instrument);
    std::promise<void> held, release;
    std::thread other([&] {
        SessionLock lock(f.mutex, 0);
        held.set_value();
        release.get_future().wait();
    });
    held.get_future().wait();
    const TerminalExchange ex = HandleTerminalCommand(f.ctx, "*IDN?");
    release.set_value();
    other.join();
    EXPECT_FALSE(ex.sent);
    EXPECT_TRUE(f.log.lines.empty());
    EXPECT_TRUE(f.instrument.Lines().empty());
}

TEST(Terminal, ALongLineIsReadIntoItsOwnStringAndCutToFortySevenCharacters) {
    PtyLinkBench f(Instrument);
    TerminalModel model;
    const std::string line200(200, 'x');
    const std::string& sent = model.Send(line200);
    EXPECT_EQ(sent, std::string(47, 'x'));
    EXPECT_EQ(model.History().Entries(), Lines{std::string(47, 'x')});
    HandleTerminalCommand(f.ctx, sent);
    EXPECT_EQ(f.log.lines, Lines{"\ncommand:" + std::string(47, 'x') + "\n"});
    EXPECT_EQ(WaitForLines(f, 1), Lines{std::string(47, 'x')});
    // The field keeps its text; the same line can be sent again at once.
    EXPECT_EQ(model.Send("*IDN?"), "*IDN?");
    EXPECT_EQ(model.Send("*IDN?"), "*IDN?");
    EXPECT_EQ(model.History().Entries().size(), 2u);
}

TEST(CommandHistory, UpAndDownWalkTheLinesAndComeBackToTheEditedText) {
    CommandHistory h;
    EXPECT_FALSE(h.Older("typed"));
    for (const char* line : {"one", "two", "two", "", "three"}) h.Add(line);
    EXPECT_EQ(h.Entries(), (Lines{"one", "two", "three"}));
    EXPECT_EQ(h.Older("typ"), "three");
    EXPECT_EQ(h.Older("ignored"), "two");
    EXPECT_EQ(h.Older("ignored"), "one");
    EXPECT_FALSE(h.Older("ignored"));  // stays at the oldest
    EXPECT_EQ(h.Newer(), "two");
    EXPECT_EQ(h.Newer(), "three");
    EXPECT_EQ(h.Newer(), "typ");
    EXPECT_FALSE(h.Newer());
    // Sending starts the walk again from the newest line.
    h.Older("");
    h.Add("four");
    EXPECT_EQ(h.Older(""), "four");
}

TEST(CommandHistory, TheLastHundredLinesAreKeptAcrossRunsAsTyped) {
    TempDir dir;
    SettingsStore store(dir.Str());
    {
        CommandHistory h(&store);
        for (int i = 0; i < 105; ++i) h.Add("INP A:TEMP? " + std::to_string(i));
        h.Add("  padded ; with \"quotes\"  ");
    }
    CommandHistory again(&store);
    ASSERT_EQ(again.Entries().size(), 100u);
    EXPECT_EQ(again.Entries().front(), "INP A:TEMP? 6");
    EXPECT_EQ(again.Entries()[98], "INP A:TEMP? 104");
    EXPECT_EQ(again.Entries().back(), "  padded ; with \"quotes\"  ");
    // The terminal's own section only.
    EXPECT_EQ(store.GetInt(settings::kTerminalPos, settings::kWinLeft, -1), -1);

    // A damaged store loses its bad entries, not the program.
    store.WriteString(CommandHistory::kSection, "Line6", std::string(300, 'z'));
    store.WriteString(CommandHistory::kSection, "Line7", "");
    CommandHistory damaged(&store);
    EXPECT_EQ(damaged.Entries().size(), 98u);
    EXPECT_EQ(damaged.Entries().front(), "INP A:TEMP? 8");
    damaged.Add("*IDN?");
    EXPECT_EQ(CommandHistory(&store).Entries().back(), "*IDN?");
}
