#pragma once

#include <functional>
#include <string>

#include "CliSession.h"

namespace CLI {
class App;
}

namespace tavrix::cli {

// `terminal` and `run-commands FILE.xml`.
struct ConsoleCliOptions {
    CLI::App* terminal = nullptr;
    CLI::App* runCommands = nullptr;
    std::string file;
    std::string errorLog;
};

void AddConsoleCommands(CLI::App& app, ConsoleCliOptions& o);
bool ConsoleCommandParsed(const ConsoleCliOptions& o);
// Exit status: terminal 0 when every line was exchanged, 1 otherwise; run-commands 0 completed
// without errors, 1 completed with errors, 2 aborted or not run, 3 "ErrorLog.txt" could not be
// created or written.
// `unusable` names a transport that sends nothing (a serial port that never opened, a GPIB
// library that did not load); the GPIB library loads with the first exchange, so it is asked
// again after the exchanges.
int RunConsoleCommand(const ConsoleCliOptions& o, CliSession& session,
                      const std::function<std::string()>& unusable);

}  // namespace tavrix::cli
