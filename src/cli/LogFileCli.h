#pragma once

#include <string>

namespace CLI {
class App;
}

namespace tavrix::cli {

// `export` and `plot`: work on a data log file alone, no instrument.
struct LogFileCliOptions {
    CLI::App* exportCmd = nullptr;
    CLI::App* plot = nullptr;
    std::string log, out, sources, from, to;
    int width = 1200, height = 700;
};

void AddLogFileCommands(CLI::App& app, LogFileCliOptions& o);
bool LogFileCommandParsed(const LogFileCliOptions& o);
int RunLogFileCommand(const LogFileCliOptions& o);

}  // namespace tavrix::cli
