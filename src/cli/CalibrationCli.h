#pragma once

#include <optional>
#include <string>

#include "CliSession.h"

namespace CLI {
class App;
}

namespace tavrix::cli {

// `calibration read|apply|password`.
struct CalibrationCliOptions {
    CLI::App* calibration = nullptr;
    CLI::App* read = nullptr;
    CLI::App* apply = nullptr;
    CLI::App* password = nullptr;
    std::string passwordFile;     // the current password, first line
    std::string newPasswordFile;  // the new password, then (optionally) the re-typed one
    int step = 0;                 // 1-based
    std::string channel;
    double gain = 0.0, offset = 0.0;
};

void AddCalibrationCommands(CLI::App& app, CalibrationCliOptions& o);
bool CalibrationCommandParsed(const CalibrationCliOptions& o);
// 0 when the whole operation succeeded.
int RunCalibrationCommand(const CalibrationCliOptions& o, CliSession& session);

// A secret from the first line of a file (its line end taken off), or read from the controlling
// terminal with echo off after `prompt`. Nothing when neither can be had; `error` says why
// without the secret.
std::optional<std::string> ReadSecretFromFile(const std::string& path, int line,
                                              std::string& error);
std::optional<std::string> ReadSecretFromTerminal(const char* prompt, std::string& error);

}  // namespace tavrix::cli
