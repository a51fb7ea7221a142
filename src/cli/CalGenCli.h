#pragma once

#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace tavrix::cli {

// `calgen diode-300k|diode-4k|diode-2pt|diode-3pt|platinum --source FILE --out FILE
// --point T,READING ...`: curve generation from the command line, points low to high.
struct CalGenCliOptions {
    std::string command;  // the subcommand's name
    std::string source;
    std::string out;
    std::vector<std::string> points;
};

// Adds "calgen" and its five subcommands to the application.
CLI::App* AddCalGenCommand(CLI::App& app, CalGenCliOptions& options);

// Runs the chosen command: the listing goes to stdout, messages to stderr. 0 when the curve
// file was written; 1 when a reference point was refused or anything else stopped it.
int RunCalGen(const CalGenCliOptions& options);

}  // namespace tavrix::cli
