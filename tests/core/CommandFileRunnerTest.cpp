#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <regex>
#include <thread>

#include "TestSupport.h"
#include "consoles/CommandFileReader.h"
#include "consoles/CommandFileRunner.h"

using namespace tavrix;
using namespace std::chrono;
using tavrix::test::PtyLinkBench;
using tavrix::test::Slurp;
using tavrix::test::TempDir;

namespace {

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A scripted instrument that answers from a table (an unknown query gets no answer) and a run
// whose waits are recorded instead of slept.
struct RunnerBench {
    explicit RunnerBench(std::map<std::string, std::string> replies = {})
        : replies_(std::move(replies)),
          bench([this](const std::string& line) -> std::optional<std::string> {
              std::lock_guard lock(m_);
              if (auto it = replies_.find(line); it != replies_.end()) return it->second;
              return std::nullopt;
          }) {
        bench.ctx.sleep = [this](milliseconds d) { sleeps.push_back(static_cast<int>(d.count())); };
        options.errorLogPath = (bench.dir.Path() / "ErrorLog.txt").string();
    }
    void SetReply(const std::string& query, const std::string& reply) {
        std::lock_guard lock(m_);
        replies_[query] = reply;
    }
    CommandFileRun Run(const std::string& fileText) {
        const std::string path = (bench.dir.Path() / "test.xml").string();
        WriteFile(path, fileText);
        bench.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(path));
        bench.log.lines.clear();
        sleeps.clear();
        return RunCommandFile(bench.ctx, options);
    }
    std::string ErrorLog() const { return Slurp(options.errorLogPath); }
    // Lines the instrument got (commands are not waited for by the link).
    std::vector<std::string> Received(size_t atLeast) const {
        const auto end = steady_clock::now() + seconds(3);
        while (bench.instrument.Lines().size() < atLeast && steady_clock::now() < end)
            std::this_thread::sleep_for(milliseconds(5));
        return bench.instrument.Lines();
    }

    std::mutex m_;
    std::map<std::string, std::string> replies_;
    PtyLinkBench bench;
    CommandFileOptions options;
    std::vector<int> sleeps;
};

using Lines = std::vector<std::string>;

}  // namespace

TEST(CommandFileReader, ReadContentSwallowsTheClosingTagsOpeningBracket) {
    TempDir dir;
    const std::string path = (dir.Path() / "a.xml").string();
    WriteFile(path, "junk<A>x y</A>\n<!c><B");
    CommandFileReader r;
    ASSERT_TRUE(r.Open(path));
    EXPECT_EQ(r.NextTag(), "A");
    EXPECT_EQ(r.ReadContent(), "x y");
    // "/A>" went by as ordinary characters.
    EXPECT_EQ(r.NextTag(), "!c");
    EXPECT_TRUE(CommandFileReader::IsComment("!c"));
    EXPECT_EQ(r.NextTag(), "B");  // what was collected when the file ended
    EXPECT_TRUE(r.AtEnd());
    EXPECT_EQ(r.NextTag(), "");
}

TEST(CommandFileReader, OverlongTagsAndContentsAreCutNotStored) {
    TempDir dir;
    const std::string path = (dir.Path() / "big.xml").string();
    WriteFile(path, "<" + std::string(100000, 'T') + "><X>" + std::string(3'000'000, 'c') + "</X>");
    CommandFileReader r;
    ASSERT_TRUE(r.Open(path));
    EXPECT_EQ(r.NextTag().size(), CommandFileReader::kMaxTagLength);
    EXPECT_TRUE(r.Truncated());
    EXPECT_EQ(r.NextTag(), "X");
    EXPECT_FALSE(r.Truncated());
    EXPECT_EQ(r.ReadContent().size(), CommandFileReader::kMaxContentLength);
    EXPECT_TRUE(r.Truncated());
    EXPECT_EQ(r.NextTag(), "");
    EXPECT_TRUE(r.AtEnd());
}

TEST(CommandFileReader, OnlyRegularFilesOpen) {
    TempDir dir;
    CommandFileReader r;
    EXPECT_FALSE(r.Open(dir.Str()));
    EXPECT_FALSE(r.Open("/dev/zero"));  // would never end
    EXPECT_FALSE(r.Open((dir.Path() / "missing.xml").string()));
}

TEST(CommandFileRunner, AWholeFileLogsEachStepAndRecordsOnlyTheErrors) {
    RunnerBench f({{"*IDN?", "TAVRIX,MODEL 28,123,1.0"},
                   {"text?", "ok Done"},
                   {"VAL95?", "95"},
                   {"VAL105?", "105"},
                   {"VAL1051?", "105.1"},
                   {"ZERO?", "0"},
                   {"SMALL?", "0.1"},
                   {"WORD?", "abc"}});
    const auto run = f.Run(
        "<?xml version=\"1.0\"?>\n"
        "<Transactions>\n"
        "<!-- identity -->\n"
        "<Ident>\n"
        "  <query>*IDN?</query><response>tavrix,model28,123,1.0</response>\n"
        "  <query>text?</query><response>ok done</response>\n"
        "</Ident>\n"
        "<Numbers>\n"
        "  <QUERY>VAL95?</QUERY><FLOATRESPONSE>100</FLOATRESPONSE>\n"
        "  <QUERY>VAL105?</QUERY><FLOATRESPONSE>100</FLOATRESPONSE>\n"
        "  <QUERY>VAL1051?</QUERY><FLOATRESPONSE>100</FLOATRESPONSE>\n"
        "  <QUERY>ZERO?</QUERY><FLOATRESPONSE>0</FLOATRESPONSE>\n"
        "  <QUERY>SMALL?</QUERY><FLOATRESPONSE>0</FLOATRESPONSE>\n"
        "  <QUERY>WORD?</QUERY><FLOATRESPONSE>1</FLOATRESPONSE>\n"
        "</Numbers>\n"
        "<Setup>\n"
        "  <Model>28</Model>\n"
        "  <QUERY>*IDN?</QUERY>\n"
        "  <COMMAND>INP A:UNIT K</COMMAND>\n"
        "  <pause>250</pause>\n"
        "  <CALCUR>CALC 21</CALCUR>\n"
        "</Setup>\n"
        "</Transactions>\n"
        "<COMMAND>NEVER</COMMAND>\n");
    EXPECT_EQ(run.outcome, CommandFileRun::Outcome::Completed);
    EXPECT_EQ(run.errors, 4);
    EXPECT_EQ(f.bench.log.lines,
              (Lines{"IDENT: Query:*IDN?\n",
                     "Received:TAVRIX,MODEL 28,123,1.0\n",
                     "IDENT: Query:text?\n",
                     "Received:ok Done\n",
                     "Error:The returned string for query \"IDENT: tag 4: text?\"\n",
                     "Received:OK DONE,Expected:OK DONE\n",
                     "NUMBERS: Query:VAL95?\n",
                     "Received:95\n",
                     "Expected:100\n",
                     "NUMBERS: Query:VAL105?\n",
                     "Received:105\n",
                     "Expected:100\n",
                     "NUMBERS: Query:VAL1051?\n",
                     "Received:105.1\n",
                     "Expected:100\n",
                     "Error:The return string for query \"NUMBERS: tag 6: VAL1051?\"\n",
                     "Received:105.1,Expected:100\n",
                     "NUMBERS: Query:ZERO?\n",
                     "Received:0\n",
                     "Expected:0\n",
                     "NUMBERS: Query:SMALL?\n",
                     "Received:0.1\n",
                     "Expected:0\n",
                     "Error:The return string for query \"NUMBERS: tag 10: SMALL?\"\n",
                     "Received:0.1,Expected:0\n",
                     "NUMBERS: Query:WORD?\n",
                     "Received:abc\n",
                     "Expected:1\n",
                     "Error:Unable to convert the response to float \"NUMBERS:tag 12: WORD?\"\n",
                     "Received:abc,Expected:1\n",
                     "Command for Model 28\n",
                     "SETUP: Query:*IDN?\n",
                     "Received:TAVRIX,MODEL 28,123,1.0\n",
                     "SETUP: Command:INP A:UNIT K\n",
                     "SETUP: CalCur:CALC 21\n",
                     "Command language test completed.\n",
                     "4 Errors logged in the ErrorLog.txt\n"}));
    EXPECT_EQ(f.ErrorLog(),
              "Error:The returned string for query \"IDENT: tag 4: text?\"\r\n"
              "Received:OK DONE,Expected:OK DONE\r\n"
              "Error:The return string for query \"NUMBERS: tag 6: VAL1051?\"\r\n"
              "Received:105.1,Expected:100\r\n"
              "Error:The return string for query \"NUMBERS: tag 10: SMALL?\"\r\n"
              "Received:0.1,Expected:0\r\n"
              "Error:Unable to convert the response to float \"NUMBERS:tag 12: WORD?\"\r\n"
              "Received:abc,Expected:1\r\n"
              "Command language test completed.\r\n"
              "4 Errors logged in the ErrorLog.txt\r\n");
    // The first wait, one after every exchange, and the pause in its place.
    EXPECT_EQ(f.sleeps,
              (std::vector<int>{100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 250, 100}));
    EXPECT_EQ(f.Received(11), (Lines{"*IDN?", "text?", "VAL95?", "VAL105?", "VAL1051?", "ZERO?",
                                     "SMALL?", "WORD?", "*IDN?", "INP A:UNIT K", "CALC 21"}));
    ASSERT_EQ(f.bench.op.openFileRequests.size(), 1u);
    EXPECT_EQ(f.bench.op.openFileRequests[0].filter, "XML Files (*.xml)|*.xml||");
    EXPECT_EQ(f.bench.op.openFileRequests[0].defaultExtension, "xml");
    EXPECT_EQ(f.bench.op.openFileRequests[0].options, kHideReadOnly | kFileMustExist);
}

TEST(CommandFileRunner, FloatChecksAllowFivePercentOfTheExpectedSize) {
    RunnerBench f;
    struct Case {
        const char* reply;
        const char* expected;
        bool error;
    };
    const Case cases[] = {
        {"95", "100", false},         {"105", "100", false},   {"105.1", "100", true},
        {"94.9", "100", true},        {"0", "0", false},       {"0.0001", "0", true},
        {"-100", "-100", false},      {"-104", "-100", false}, {"-106", "-100", true},
        {"nan", "100", true},         {"inf", "100", true},    {"100", "nan", true},
        {"+1.0E+02;K", "100", false}, {"3", "three", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.reply) + " against " + c.expected);
        f.SetReply("V?", c.reply);
        const auto run = f.Run(std::string("<T><QUERY>V?</QUERY><FLOATRESPONSE>") + c.expected +
                               "</FLOATRESPONSE></T></TRANSACTIONS>");
        EXPECT_EQ(run.outcome, CommandFileRun::Outcome::Completed);
        EXPECT_EQ(run.errors, c.error ? 1 : 0);
    }
}

TEST(CommandFileRunner, FailedExchangesAbortAndAreNotCounted) {
    RunnerBench f({{"WORD?", "abc"}, {"EMPTY?", ""}});
    const std::string mismatch = "<G><QUERY>WORD?</QUERY><RESPONSE>x</RESPONSE>";
    struct Case {
        std::string element;
        std::string error;
    };
    const std::string longCommand(101, 'C');
    const Case cases[] = {
        {"<COMMAND>" + longCommand + "</COMMAND>",
         "Error:Not able to send \"G:tag 3: " + longCommand + "\" command \n"},
        {"<CALCUR>" + longCommand + "</CALCUR>",
         "Error:Not able to send \"G:tag 3: " + longCommand + "\" command \n"},
        {"<QUERY>" + longCommand + "?</QUERY>",
         "Error:Not able to send \"G:tag 3: " + longCommand + "?\" command \n"},
        {"<QUERY>EMPTY?</QUERY>",
         "Error:No returned string from device for \"G:tag 3: EMPTY?\" from target\n"},
        // A line break inside would put a second line on the wire; in the logs it is shown,
        // so that it does not split a line of ErrorLog.txt either.
        {"<COMMAND>INP A:UNIT K\nINP B:UNIT K</COMMAND>",
         "Error:Not able to send \"G:tag 3: INP A:UNIT K\\x0aINP B:UNIT K\" command \n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.element);
        const auto run = f.Run(mismatch + c.element + "<COMMAND>AFTER</COMMAND></G>");
        EXPECT_EQ(run.outcome, CommandFileRun::Outcome::Aborted);
        EXPECT_EQ(run.errors, 1);
        const Lines& log = f.bench.log.lines;
        ASSERT_GE(log.size(), 3u);
        EXPECT_EQ(Lines(log.end() - 3, log.end()),
                  (Lines{c.error, "Command language test aborted.\n",
                         "1 Errors logged in the ErrorLog.txt\n"}));
        EXPECT_EQ(f.ErrorLog(),
                  "Error:The returned string for query \"G: tag 2: WORD?\"\r\n"
                  "Received:ABC,Expected:X\r\n" +
                      std::regex_replace(c.error, std::regex("\n"), "\r\n") +
                      "Command language test aborted.\r\n"
                      "1 Errors logged in the ErrorLog.txt\r\n");
    }
    for (const auto& line : f.Received(1)) EXPECT_NE(line, "AFTER");
}

TEST(CommandFileRunner, FilesThatRanNothingOrStoppedShortDoNotPass) {
    RunnerBench f(std::map<std::string, std::string>{{"A?", "1"}});
    const std::string cut = "Error:The file ends before its closing tag </TRANSACTIONS>\n";
    const std::string none =
        "Error:No transaction was run: the file holds no COMMAND, CALCUR or QUERY element\n";
    struct Case {
        std::string text;
        int sent;  // lines the instrument gets
        Lines errors;
    };
    const Case cases[] = {
        {"", 0, {cut, none}},
        {"Time,Input A,Input B\n12:00:00,4.2,77.3\n", 0, {cut, none}},  // a CSV file
        {"<TRANSACTIONS><Units><COMAND>INP A:UNIT K</COMAND>\n"
         "<QUERRY>INP A:UNIT?</QUERRY><RESPONSE>K</RESPONSE></Units></TRANSACTIONS>",
         0,
         {"Error:Unknown tag \"UNITS:tag 1: COMAND\" holds text that was not run: INP A:UNIT K\n",
          "Error:Unknown tag \"UNITS:tag 3: QUERRY\" holds text that was not run: INP A:UNIT?\n",
          none}},
        {"<T><COMMAND>X1</COMMAND>", 1, {cut}},
        {"<T><QUERY>A?</QUERY>", 1, {cut}},  // the tag after the query is the end
        {"<T><Model>28</Model><PAUSE>5</PAUSE></TRANSACTIONS>", 0, {none}},
        {"<T><RESPONSE>A</RESPONSE><FLOATRESPONSE>1</FLOATRESPONSE></TRANSACTIONS>", 0, {none}},
    };
    size_t before = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto run = f.Run(c.text);
        EXPECT_EQ(run.outcome, CommandFileRun::Outcome::Completed);
        EXPECT_EQ(run.errors, static_cast<int>(c.errors.size()));
        std::string recorded;
        for (const std::string& e : c.errors)
            recorded += std::regex_replace(e, std::regex("\n"), "\r\n");
        EXPECT_EQ(f.ErrorLog(), recorded + "Command language test completed.\r\n" +
                                    std::to_string(c.errors.size()) +
                                    " Errors logged in the ErrorLog.txt\r\n");
        const auto lines = f.Received(before + static_cast<size_t>(c.sent));
        EXPECT_EQ(lines.size(), before + static_cast<size_t>(c.sent));
        before = lines.size();
    }
}

TEST(CommandFileRunner, GroupTagsWithoutTextAndEmptyTagsKeepTheirGroup) {
    RunnerBench f;
    const auto run = f.Run(
        "<?xml version=\"1.0\"?>\n<TRANSACTIONS>\n  <Grp>\n"
        "    <COMMAND>X1</COMMAND><>\n    <COMMAND>\n  X2  \n</COMMAND>\n  </Grp>\n"
        "</TRANSACTIONS>\n");
    EXPECT_EQ(run.outcome, CommandFileRun::Outcome::Completed);
    EXPECT_EQ(run.errors, 0);
    EXPECT_EQ(f.bench.log.lines, (Lines{"GRP: Command:X1\n", "GRP: Command:  X2  \n",
                                        "Command language test completed.\n",
                                        "0 Errors logged in the ErrorLog.txt\n"}));
    // The blanks inside the text go out as written; the line breaks around it do not.
    EXPECT_EQ(f.Received(2), (Lines{"X1", "  X2  "}));
}

TEST(CommandFileRunner, PausesArePlainMillisecondsUpToAnHour) {
    RunnerBench f;
    struct Case {
        const char* content;
        int slept;  // -1: refused
    };
    const Case cases[] = {
        {"0", 0},        {" 250\n", 250},    {"3600000", 3600000},
        {"3600001", -1}, {"2147483648", -1}, {"99999999999999999999999", -1},
        {"-5", -1},      {"+5", -1},         {"250ms", -1},
        {"1e3", -1},     {"1.5", -1},        {"", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        const auto run = f.Run(std::string("<G><PAUSE>") + c.content +
                               "</PAUSE><COMMAND>AFTER</COMMAND></TRANSACTIONS>");
        EXPECT_EQ(run.outcome, CommandFileRun::Outcome::Completed);
        EXPECT_EQ(run.errors, c.slept < 0 ? 1 : 0);
        // The first wait, the pause if taken, the wait after the command that still runs.
        std::vector<int> want{100, 100};
        if (c.slept >= 0) want.insert(want.begin() + 1, c.slept);
        EXPECT_EQ(f.sleeps, want);
    }
    EXPECT_EQ(f.bench.log.lines.front(),
              "Error:The pause \"G:tag 1: \" is not a whole number of milliseconds from 0 to "
              "3600000\n");
}

TEST(CommandFileRunner, ErrorLogIsCreatedBeforeTheDialogAndACancelSendsNothing) {
    RunnerBench f;
    WriteFile(f.options.errorLogPath, "old contents");
    const auto run = RunCommandFile(f.bench.ctx, f.options);
    EXPECT_EQ(run.outcome, CommandFileRun::Outcome::Cancelled);
    EXPECT_EQ(f.ErrorLog(), "");
    EXPECT_TRUE(f.bench.log.lines.empty());

    f.bench.op.openFileAnswers.push_back(DialogResult<std::string>::Accept("/nonexistent/t.xml"));
    EXPECT_EQ(RunCommandFile(f.bench.ctx, f.options).outcome, CommandFileRun::Outcome::NotOpened);
    EXPECT_EQ(f.bench.log.lines, Lines{"Error:Failed to open /nonexistent/t.xml \n"});
    EXPECT_TRUE(f.bench.instrument.Lines().empty());
}

TEST(CommandFileRunner, ErrorLogFallsBackToTheSettingsFolderAndAFailureStopsTheRun) {
    RunnerBench f;
    TempDir other;
    const auto home = std::filesystem::current_path();
    // A current directory that no longer exists: nothing can be created in it.
    const auto gone = other.Path() / "gone";
    std::filesystem::create_directory(gone);
    ASSERT_EQ(::chdir(gone.c_str()), 0);
    std::filesystem::remove(gone);

    f.options.errorLogPath.clear();
    f.options.fallbackFolder = (other.Path() / "settings").string();
    f.bench.op.openFileAnswers.push_back(DialogResult<std::string>::Cancelled());
    auto run = RunCommandFile(f.bench.ctx, f.options);
    EXPECT_EQ(run.outcome, CommandFileRun::Outcome::Cancelled);
    EXPECT_EQ(run.errorLogPath, f.options.fallbackFolder + "/ErrorLog.txt");
    EXPECT_TRUE(std::filesystem::exists(run.errorLogPath));
    // Where the records go, and why not where the operator would look first.
    EXPECT_EQ(f.bench.log.lines, Lines{"ErrorLog.txt is written to " + run.errorLogPath +
                                       " (ErrorLog.txt: No such file or directory)\n"});

    // Nowhere to write: said so, and no file is asked for or run.
    f.bench.log.lines.clear();
    WriteFile((other.Path() / "plain").string(), "");
    f.options.fallbackFolder = (other.Path() / "plain" / "sub").string();
    run = RunCommandFile(f.bench.ctx, f.options);
    ASSERT_EQ(::chdir(home.c_str()), 0);
    EXPECT_EQ(run.outcome, CommandFileRun::Outcome::NoErrorLog);
    EXPECT_EQ(f.bench.op.openFileRequests.size(), 1u);
    ASSERT_EQ(f.bench.op.messages.size(), 1u);
    EXPECT_EQ(f.bench.op.messages[0].icon, MessageIcon::Stop);
    EXPECT_NE(f.bench.op.messages[0].text.find("Unable to create ErrorLog.txt"), std::string::npos);
    EXPECT_NE(f.bench.op.messages[0].text.find("plain/sub/ErrorLog.txt"), std::string::npos);
}

TEST(CommandFileRunner, AnErrorLogThatCannotBeWrittenIsReported) {
    RunnerBench f(std::map<std::string, std::string>{{"W?", "abc"}});
    const std::string xml = (f.bench.dir.Path() / "test.xml").string();
    WriteFile(xml, "<T><QUERY>W?</QUERY><RESPONSE>x</RESPONSE></TRANSACTIONS>");
    f.bench.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(xml));
    // The error log may not grow past its first bytes, as on a full disk.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previous);
    rlimit small = old;
    small.rlim_cur = 8;
    setrlimit(RLIMIT_FSIZE, &small);
    const auto run = RunCommandFile(f.bench.ctx, f.options);
    setrlimit(RLIMIT_FSIZE, &old);
    sigaction(SIGXFSZ, &previous, nullptr);
    EXPECT_EQ(run.outcome, CommandFileRun::Outcome::Completed);
    EXPECT_TRUE(run.errorLogIncomplete);
    ASSERT_FALSE(f.bench.log.lines.empty());
    EXPECT_EQ(f.bench.log.lines.back(),
              "Error:" + f.options.errorLogPath + " is incomplete: File too large\n");
}

TEST(CommandFileRunner, ABusyLockIsWaitedForBetweenTagsWithinABound) {
    RunnerBench f;
    // Held for a while by another thread: the run waits instead of ending before its first tag.
    f.bench.ctx.sleep = [](milliseconds d) { std::this_thread::sleep_for(d); };
    std::promise<void> held;
    std::thread holder([&] {
        SessionLock lock(f.bench.mutex, 0);
        held.set_value();
        std::this_thread::sleep_for(milliseconds(300));
    });
    held.get_future().wait();
    auto run = f.Run("<T><COMMAND>X1</COMMAND></TRANSACTIONS>");
    holder.join();
    EXPECT_EQ(run.outcome, CommandFileRun::Outcome::Completed);
    EXPECT_EQ(f.Received(1), Lines{"X1"});

    // Never let go: the run gives up and says so.
    f.options.busyLimit = milliseconds(50);
    std::promise<void> held2, release;
    std::thread stuck([&] {
        SessionLock lock(f.bench.mutex, 0);
        held2.set_value();
        release.get_future().wait();
    });
    held2.get_future().wait();
    run = f.Run("<T><COMMAND>X2</COMMAND></TRANSACTIONS>");
    release.set_value();
    stuck.join();
    EXPECT_EQ(run.outcome, CommandFileRun::Outcome::Aborted);
    EXPECT_EQ(f.bench.log.lines,
              (Lines{"Error:The instrument stayed busy for 50 ms\n",
                     "Command language test aborted.\n", "0 Errors logged in the ErrorLog.txt\n"}));
    EXPECT_EQ(f.bench.instrument.Lines(), Lines{"X1"});
}
