// `tavrix-cli terminal` and `tavrix-cli run-commands` on the in-process simulator.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "TestSupport.h"

using tavrix::test::Slurp;
using tavrix::test::TempDir;

namespace {

struct Shell {
    int exitCode = -1;
    std::string out, err;
};

// Runs `tavrix-cli ARGS` through the shell in `dir`, with `input` on standard input.
Shell RunCli(const TempDir& dir, const std::string& args, const std::string& input = "") {
    const std::string in = dir.Str() + "/stdin.txt", err = dir.Str() + "/stderr.txt";
    std::ofstream(in, std::ios::binary) << input;
    const std::string cmd = "cd '" + dir.Str() + "' && TAVRIX_CONFIG_DIR='" + dir.Str() +
                            "/config' '" TAVRIX_CLI_PATH "' " + args + " <'" + in + "' 2>'" + err +
                            "'";
    Shell r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int status = pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream e(err, std::ios::binary);
    r.err.assign(std::istreambuf_iterator<char>(e), {});
    return r;
}

}  // namespace

TEST(CliTerminal, PipedLinesAreHandledAsTheTerminalWindowDoes) {
    TempDir dir;
    auto r = RunCli(dir, "--sim terminal", "*IDN?\r\nINP A:UNIT K\n\n?x\nINP A:UNIT?\n");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string head = "\nquery:*IDN?\nresponse:";
    ASSERT_EQ(r.out.substr(0, head.size()), head);
    const size_t idnEnd = r.out.find('\n', head.size());
    ASSERT_NE(idnEnd, std::string::npos);
    EXPECT_NE(r.out.substr(head.size(), idnEnd - head.size()).find("Model"), std::string::npos);
    EXPECT_EQ(r.out.substr(idnEnd + 1),
              "\ncommand:INP A:UNIT K\n\ncommand:?x\n\nquery:INP A:UNIT?\nresponse:K\n");

    // A line the window's field could not hold is refused, not cut into another command.
    r = RunCli(dir, "--sim terminal", std::string(200, 'x') + "\n*IDN?\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("at most 47 characters"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("command:x"), std::string::npos);
    EXPECT_NE(r.out.find("query:*IDN?"), std::string::npos);
}

TEST(CliRunCommands, ExitStatusTellsCompletedErrorsAndAborted) {
    TempDir dir;
    auto write = [&](const char* name, const std::string& text) {
        std::ofstream(dir.Str() + "/" + name, std::ios::binary) << text;
    };
    write("good.xml",
          "<TRANSACTIONS><Units><COMMAND>INP A:UNIT K</COMMAND><QUERY>INP A:UNIT?</QUERY>"
          "<RESPONSE>k</RESPONSE></Units></TRANSACTIONS>");
    write("mismatch.xml",
          "<TRANSACTIONS><Units><QUERY>INP A:UNIT?</QUERY><RESPONSE>F</RESPONSE></Units>"
          "</TRANSACTIONS>");
    write("abort.xml", "<TRANSACTIONS><Long><COMMAND>" + std::string(101, 'C') +
                           "</COMMAND></Long></TRANSACTIONS>");

    auto r = RunCli(dir, "--sim run-commands good.xml");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "UNITS: Command:INP A:UNIT K\nUNITS: Query:INP A:UNIT?\nReceived:K\n"
              "Command language test completed.\n0 Errors logged in the ErrorLog.txt\n");
    // In the current directory, as the desktop program writes it.
    EXPECT_EQ(Slurp(dir.Str() + "/ErrorLog.txt"),
              "Command language test completed.\r\n0 Errors logged in the ErrorLog.txt\r\n");

    r = RunCli(dir, "--sim run-commands mismatch.xml --error-log other.txt");
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(Slurp(dir.Str() + "/other.txt"),
              "Error:The returned string for query \"UNITS: tag 2: INP A:UNIT?\"\r\n"
              "Received:K,Expected:F\r\n"
              "Command language test completed.\r\n1 Errors logged in the ErrorLog.txt\r\n");

    r = RunCli(dir, "--sim run-commands abort.xml");
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_NE(r.out.find("Command language test aborted.\n0 Errors logged"), std::string::npos);

    r = RunCli(dir, "--sim run-commands missing.xml");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.out.find("Error:Failed to open missing.xml \n"), std::string::npos) << r.out;

    r = RunCli(dir, "--sim run-commands good.xml --error-log /nonexistent/dir/ErrorLog.txt");
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("Unable to create ErrorLog.txt"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST(CliRunCommands, FilesThatRanNothingOrStoppedShortExitWithErrors) {
    TempDir dir;
    struct Case {
        const char* name;
        std::string text;
        const char* recorded;  // a line of ErrorLog.txt
    } cases[] = {
        {"misspelt.xml",
         "<TRANSACTIONS><Units><COMAND>INP A:UNIT K</COMAND><QUERRY>INP A:UNIT?</QUERRY>"
         "</Units></TRANSACTIONS>",
         "Error:Unknown tag \"UNITS:tag 1: COMAND\" holds text that was not run: INP A:UNIT K\r\n"},
        {"log.csv", "Time,Input A\n12:00:00,4.2\n", "Error:No transaction was run"},
        {"empty.xml", "", "Error:No transaction was run"},
        {"cut.xml", "<TRANSACTIONS><Units><COMMAND>INP A:UNIT K</COMMAND>",
         "Error:The file ends before its closing tag </TRANSACTIONS>\r\n"},
        {"pause.xml",
         "<TRANSACTIONS><Wait><PAUSE>2147483647</PAUSE><COMMAND>INP A:UNIT K</COMMAND></Wait>"
         "</TRANSACTIONS>",
         "is not a whole number of milliseconds from 0 to 3600000\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(dir.Str() + "/" + c.name, std::ios::binary) << c.text;
        const auto r = RunCli(dir, std::string("--sim run-commands ") + c.name);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.out.find("Command language test completed.\n"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("0 Errors logged"), std::string::npos) << r.out;
        EXPECT_NE(Slurp(dir.Str() + "/ErrorLog.txt").find(c.recorded), std::string::npos)
            << Slurp(dir.Str() + "/ErrorLog.txt");
    }
}
