#include "ConsoleCli.h"

#include <editline/readline.h>
#include <unistd.h>
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>

#include "consoles/CommandFileRunner.h"
#include "consoles/Terminal.h"

namespace tavrix::cli {

namespace {

constexpr const char* kPrompt = "Enter Command: ";

// Reads one line of `in`, keeping at most `keep` bytes of it: the rest of a longer line is
// read and dropped, so no line costs more memory than a terminal line. `length` is the whole
// line's length, its LF not counted. false at the end of the input with nothing read.
bool ReadBoundedLine(std::FILE* in, size_t keep, std::string& line, size_t& length) {
    line.clear();
    length = 0;
    int c;
    while ((c = getc_unlocked(in)) != EOF && c != '\n') {
        if (line.size() < keep) line.push_back(static_cast<char>(c));
        ++length;
    }
    return c != EOF || length > 0;
}

// One line as the terminal window handles it; false when it was not exchanged.
// `length` is the line's whole length when only its beginning was kept.
bool HandleLine(CliSession& s, TerminalModel& model, const std::string& line, size_t length) {
    if (line.empty()) return true;
    if (length > kTerminalLineMax) {
        // The window's field takes no more; cutting it here would send another command.
        std::fprintf(stderr,
                     "tavrix-cli: a terminal line holds at most %zu characters (this one has "
                     "%zu): not sent\n",
                     kTerminalLineMax, length);
        return false;
    }
    const TerminalExchange ex = HandleTerminalCommand(*s.context, model.Send(line));
    if (!ex.sent) {
        std::fprintf(stderr, "tavrix-cli: the instrument is busy: \"%s\" not sent\n",
                     VisibleText(line).c_str());
        return false;
    }
    return !ex.failed;
}

using Unusable = std::function<std::string()>;

// Nothing reaches an instrument over this transport: said once, and the run ends.
bool Unreachable(const Unusable& unusable) {
    const std::string problem = unusable();
    if (problem.empty()) return false;
    std::fprintf(stderr, "tavrix-cli: %s\n", problem.c_str());
    return true;
}

bool KnownBeforeExchanges(const CliSession& s) {
    return s.link->GetPortType() != kPortGpib;
}

int RunTerminal(CliSession& s, const Unusable& unusable) {
    if (KnownBeforeExchanges(s) && Unreachable(unusable)) return 1;
    int failures = 0;
    if (::isatty(STDIN_FILENO)) {
        // Typed lines join the history the terminal window keeps. The history is stored even
        // when explicit transport options keep the communication settings untouched.
        SettingsStore historyStore(s.settings.Folder());
        TerminalModel model(&historyStore);
        using_history();
        stifle_history(static_cast<int>(CommandHistory::kMaxEntries));
        for (const std::string& entry : model.History().Entries()) add_history(entry.c_str());
        for (;;) {
            char* raw = readline(kPrompt);
            if (!raw) break;
            const std::string line(raw);
            std::free(raw);
            // The line editor's own history keeps no password either.
            if (!line.empty() && CommandHistory::Keepable(line)) add_history(line.c_str());
            if (!HandleLine(s, model, line, line.size())) ++failures;
            if (!line.empty() && Unreachable(unusable)) return 1;
        }
        std::fputc('\n', stdout);
    } else {
        // Lines from a script or a pipe stay out of the history.
        TerminalModel model;
        std::string line;
        size_t length = 0;
        // One byte more than a line holds tells an over-long line, one more its CR.
        while (ReadBoundedLine(stdin, kTerminalLineMax + 2, line, length)) {
            if (!line.empty() && line.back() == '\r' && length == line.size()) {
                line.pop_back();
                --length;
            }
            if (!HandleLine(s, model, line, length)) ++failures;
            if (!line.empty() && Unreachable(unusable)) return 1;
        }
    }
    std::fflush(stdout);
    if (failures > 0) {
        std::fprintf(stderr, "tavrix-cli: %d line(s) failed\n", failures);
        return 1;
    }
    return 0;
}

int RunCommands(const ConsoleCliOptions& o, CliSession& s, const Unusable& unusable) {
    if (KnownBeforeExchanges(s) && Unreachable(unusable)) return 2;
    s.op.curve.openFile = o.file;
    CommandFileOptions options;
    options.errorLogPath = o.errorLog;
    options.fallbackFolder = s.settings.Folder();
    const CommandFileRun run = RunCommandFile(*s.context, options);
    std::fflush(stdout);
    if (!run.errorLogPath.empty())
        std::fprintf(stderr, "tavrix-cli: error log: %s\n", run.errorLogPath.c_str());
    using Outcome = CommandFileRun::Outcome;
    if (Unreachable(unusable)) return 2;
    if (run.outcome == Outcome::NoErrorLog || run.errorLogIncomplete) return 3;
    if (run.outcome == Outcome::Completed) return run.errors == 0 ? 0 : 1;
    if (run.outcome == Outcome::Aborted) return 2;
    std::fprintf(stderr, "tavrix-cli: the command file was not run\n");
    return 2;
}

}  // namespace

void AddConsoleCommands(CLI::App& app, ConsoleCliOptions& o) {
    o.terminal = app.add_subcommand(
        "terminal",
        "Read command lines from standard input and exchange each as the terminal window does "
        "(at most 47 characters a line); print \"query:\", \"response:\", \"command:\"");
    o.runCommands = app.add_subcommand(
        "run-commands",
        "Run an XML command file; exit 0 when it completed without errors, 1 with errors, 2 when "
        "aborted or not run, 3 when ErrorLog.txt could not be written");
    o.runCommands->add_option("FILE", o.file, "The command file (.xml)")->required();
    o.runCommands->add_option("--error-log", o.errorLog,
                              "Write the error log here instead of ErrorLog.txt in the current "
                              "directory");
}

bool ConsoleCommandParsed(const ConsoleCliOptions& o) {
    return (o.terminal && o.terminal->parsed()) || (o.runCommands && o.runCommands->parsed());
}

int RunConsoleCommand(const ConsoleCliOptions& o, CliSession& session,
                      const std::function<std::string()>& unusable) {
    if (o.terminal->parsed()) return RunTerminal(session, unusable);
    return RunCommands(o, session, unusable);
}

}  // namespace tavrix::cli
