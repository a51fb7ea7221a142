#include "calgen/QtDesktopPrograms.h"

#include <signal.h>

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "base/SettingsStore.h"

namespace tavrix {

namespace {

// Start time of a process in clock ticks since boot, and whether it is a zombie; false when
// the process is gone or /proc cannot tell.
bool ProcessStart(qint64 pid, unsigned long long& start, bool& zombie) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!in || !std::getline(in, stat)) return false;
    // The name in parentheses may hold blanks; the fields after it are plain.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return false;
    std::istringstream fields(stat.substr(close + 1));
    std::string state;
    fields >> state;
    std::string skip;
    for (int i = 0; i < 18; ++i) fields >> skip;  // ppid .. itrealvalue
    if (!(fields >> start)) return false;
    zombie = state == "Z";
    return true;
}

}  // namespace

QtDesktopPrograms::QtDesktopPrograms(std::string program) : program_(std::move(program)) {}

std::string QtDesktopPrograms::ConfiguredProgram(const SettingsStore& settings) {
    if (const char* v = std::getenv(kProgramVariable); v && *v) return v;
    return settings.GetString(kSection, kProgramKey, "");
}

bool QtDesktopPrograms::Running() const {
    if (pid_ <= 0) return false;
    unsigned long long start = 0;
    bool zombie = false;
    if (ProcessStart(pid_, start, zombie))
        return !zombie && (startTime_ == 0 || start == startTime_);
    return ::kill(static_cast<pid_t>(pid_), 0) == 0;
}

bool QtDesktopPrograms::RequestCloseWindow(const std::string& title) {
    if (title != VaporPressureLauncher::kMainWindowTitle &&
        title != VaporPressureLauncher::kSecondWindowTitle)
        return false;
    if (!Running()) {
        pid_ = 0;
        return false;
    }
    ::kill(static_cast<pid_t>(pid_), SIGTERM);
    pid_ = 0;
    return true;
}

DesktopPrograms::StartResult QtDesktopPrograms::StartProgram(const std::string& commandLine) {
    // The whole command line names one program: its name holds blanks.
    const QString name = QString::fromStdString(program_.empty() ? commandLine : program_);
    QString path;
    if (name.contains('/')) {
        if (QFileInfo::exists(name)) path = name;
    } else {
        path = QStandardPaths::findExecutable(name);
    }
    if (path.isEmpty()) return kProgramNotFound;

    QProcess process;
    process.setProgram(path);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    qint64 pid = 0;
    if (!process.startDetached(&pid) || pid <= 0) return kStartFailed;
    pid_ = pid;
    bool zombie = false;
    if (!ProcessStart(pid_, startTime_, zombie)) startTime_ = 0;
    return kStarted;
}

}  // namespace tavrix
