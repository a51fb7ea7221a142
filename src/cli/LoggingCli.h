#pragma once

#include <string>
#include <vector>

#include "CliSession.h"
#include "ShareCli.h"

namespace CLI {
class App;
}

namespace tavrix::cli {

// `log`, `monitor` and `datalog upload`.
struct LoggingCliOptions {
    CLI::App* log = nullptr;
    CLI::App* monitor = nullptr;
    CLI::App* datalog = nullptr;
    CLI::App* upload = nullptr;
    std::string sources, out, uploadFile;
    std::vector<std::string> monitorSources;
    double interval = 0.0;
    long count = 0;
    double duration = 0.0;
    bool noSync = false;
    bool keepGoing = false;
    std::string timeFormat;                  // "", "hms" or "iso"
    ShareCliOptions logShare, monitorShare;  // --share on log and monitor
};

void AddLoggingCommands(CLI::App& app, LoggingCliOptions& o);
bool LoggingCommandParsed(const LoggingCliOptions& o);
// SIGINT and SIGTERM are taken by the log and monitor commands: block them in every thread
// before any thread starts.
void BlockStopSignals();
int RunLoggingCommand(const LoggingCliOptions& o, CliSession& s);

}  // namespace tavrix::cli
