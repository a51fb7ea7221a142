#pragma once

#include <string>

#include "CliSession.h"

namespace CLI {
class App;
}

namespace tavrix::cli {

// `curve read|check|download|upload|convert` and `pid download|upload`.
struct CurveCliOptions {
    CLI::App* curve = nullptr;
    CLI::App* pid = nullptr;
    CLI::App* read = nullptr;
    CLI::App* check = nullptr;
    CLI::App* download = nullptr;
    CLI::App* upload = nullptr;
    CLI::App* convert = nullptr;
    CLI::App* pidDownload = nullptr;
    CLI::App* pidUpload = nullptr;
    std::string file, out, unit;
    CurveDialogAnswers answers;
};

// Adds the subcommands and their options to the application.
void AddCurveCommands(CLI::App& app, CurveCliOptions& o);
bool CurveCommandParsed(const CurveCliOptions& o);
// True for the commands that work on files alone (read, check, convert).
bool CurveCommandIsFileOnly(const CurveCliOptions& o);
// Runs the parsed command; the session is only used by the instrument commands. The log lines
// go to stdout, messages to stderr; 0 when the operation completed.
int RunCurveCommand(const CurveCliOptions& o, CliSession* session);

}  // namespace tavrix::cli
