#pragma once

#include <QtGlobal>
#include <string>

#include "calgen/VaporPressureLauncher.h"

namespace tavrix {

class SettingsStore;

// The desktop for the "Vapor Pressure" button. Another program's windows cannot be looked up
// by title on every Linux desktop, so the windows of the calculator are those of the process
// this object started: a close request to either title terminates that process (SIGTERM),
// and nothing else is ever touched.
class QtDesktopPrograms : public DesktopPrograms {
public:
    // Where the calculator program is named: the environment variable wins over the setting;
    // with neither, the command line itself is searched for on PATH.
    static constexpr const char* kProgramVariable = "TAVRIX_VAPOR_PRESSURE_PROGRAM";
    static constexpr const char* kSection = "VaporPressure";
    static constexpr const char* kProgramKey = "Program";

    // `program` replaces the command line when not empty (a name searched on PATH, or a path).
    explicit QtDesktopPrograms(std::string program = {});
    // The program configured for this user ("" when none).
    static std::string ConfiguredProgram(const SettingsStore& settings);

    bool RequestCloseWindow(const std::string& title) override;
    StartResult StartProgram(const std::string& commandLine) override;

    // Whether the process started last is still running.
    bool Running() const;
    qint64 Pid() const { return pid_; }

private:
    std::string program_;
    qint64 pid_ = 0;
    unsigned long long startTime_ = 0;  // tells a reused process id from ours
};

}  // namespace tavrix
