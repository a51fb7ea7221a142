// Files, locks and settings that several processes share: the serial device's owner, settings
// written by two processes at once, a terminal history that keeps no password, and files that
// are no regular files.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "StandInInstrument.h"
#include "TestSupport.h"
#include "base/FileSafety.h"
#include "base/SettingsStore.h"
#include "consoles/ErrorLogFile.h"
#include "consoles/Terminal.h"
#include "curves/LineReader.h"
#include "link/CCommPort.h"
#include "link/DeviceLock.h"
#include "link/LinkCommands.h"
#include "logging/LogFileWriter.h"

using namespace tavrix;
using tavrix::test::PtyInstrument;
using tavrix::test::Slurp;
using tavrix::test::TempDir;
namespace fs = std::filesystem;

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Lock files go to a scratch folder for the test's length.
class ScratchLockFolder {
public:
    explicit ScratchLockFolder(const std::string& folder) {
        ::setenv("TAVRIX_LOCK_DIR", folder.c_str(), 1);
    }
    ~ScratchLockFolder() { ::unsetenv("TAVRIX_LOCK_DIR"); }
};

struct PortBench {
    PortBench() : lockFolder(dir.Str()) {}
    TempDir dir;
    ScratchLockFolder lockFolder;
    PtyInstrument instrument{[](const std::string&) { return std::optional<std::string>(); }};
    CCommPort::DevicePathResolver resolver = [this](int) { return instrument.SlavePath(); };
    std::string LockFile() const {
        return dir.Str() + "/" + DeviceLock::LockFileName(instrument.SlavePath());
    }
};

}  // namespace

TEST(SerialDeviceOwner, ASecondOpenerIsRefusedNamingTheHolderUntilTheFirstCloses) {
    PortBench b;
    CCommPort first(b.resolver), second(b.resolver);
    ASSERT_EQ(first.Open(1, 4, 50, 2), 0);
    // The traditional lock file: the owner's process id, ten characters wide, and LF.
    char expected[16];
    std::snprintf(expected, sizeof expected, "%10d\n", static_cast<int>(::getpid()));
    EXPECT_EQ(Slurp(b.LockFile()), expected);

    EXPECT_EQ(second.Open(1, 4, 50, 2), -4);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(second.BusyText(), "Device busy: " + b.instrument.SlavePath() + " is in use by " +
                                     files::DescribeProcess(::getpid()));
    // The refused opener changed nothing: the owner still talks to the device.
    EXPECT_EQ(first.WriteBlock(3, "x\n\n"), 3);

    first.Close();
    EXPECT_FALSE(fs::exists(b.LockFile()));
    EXPECT_EQ(second.Open(1, 4, 50, 2), 0);
    EXPECT_EQ(second.BusyText(), "");
}

TEST(SerialDeviceOwner, ALockFileOfALiveProcessRefusesAndOneOfAGoneProcessIsTakenOver) {
    PortBench b;
    const pid_t other = fork();
    if (other == 0) {
        ::pause();
        _exit(0);
    }
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(other));
    std::ofstream(b.LockFile()) << text;

    CCommPort port(b.resolver);
    EXPECT_EQ(port.Open(1, 4, 50, 2), -4);
    EXPECT_NE(port.BusyText().find("is in use by process " + std::to_string(other)),
              std::string::npos)
        << port.BusyText();

    // Written an hour before that process started: its id was given again since, so the
    // writer is gone.
    const fs::file_time_type written = fs::last_write_time(b.LockFile());
    fs::last_write_time(b.LockFile(), written - std::chrono::hours(1));
    EXPECT_EQ(port.Open(1, 4, 50, 2), 0) << port.OpenError();
    port.Close();

    // A process that has ended but is not yet reaped holds nothing either.
    std::ofstream(b.LockFile()) << text;
    kill(other, SIGKILL);
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(other), &info, WEXITED | WNOWAIT), 0);
    EXPECT_EQ(port.Open(1, 4, 50, 2), 0) << port.OpenError();
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
    EXPECT_EQ(Slurp(b.LockFile()), text);
    waitpid(other, nullptr, 0);
}

TEST(SharedSettings, TwoProcessesWritingAtOnceLoseNothingAndKeepTheFilesPermissions) {
    TempDir dir;
    // One process reaches the file through a symbolic link, the other in the target's folder.
    const std::string linked = dir.Str() + "/linked", shared = dir.Str() + "/shared";
    fs::create_directories(linked);
    fs::create_directories(shared);
    const std::string target = shared + "/Tavrix.INI";
    std::ofstream(target) << "; kept by hand\n[LOG]\nINTERVAL=2.0\n";
    ::chmod(target.c_str(), 0640);
    fs::create_symlink("../shared/Tavrix.INI", linked + "/Tavrix.INI");

    constexpr int kWrites = 60, kLines = 20;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        if (children[c] == 0) {
            SettingsStore store(c == 0 ? linked : shared);
            CommandHistory history(&store);
            bool ok = true;
            for (int i = 0; i < kWrites; ++i) {
                ok = store.WriteInt("P" + std::to_string(c), "K" + std::to_string(i), i) && ok;
                if (i % 3 == 0)
                    ok = history.Add("P" + std::to_string(c) + " LINE " + std::to_string(i / 3)) &&
                         ok;
            }
            _exit(ok ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    EXPECT_TRUE(fs::is_symlink(linked + "/Tavrix.INI"));
    EXPECT_EQ(ModeOf(target), 0640u);
    SettingsStore store(linked);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < kWrites; ++i)
            EXPECT_EQ(store.GetInt("P" + std::to_string(c), "K" + std::to_string(i), -1), i);
    EXPECT_EQ(store.GetString("LOG", "INTERVAL", ""), "2.0");
    EXPECT_EQ(Slurp(target).rfind("; kept by hand\n", 0), 0u);
    // Every line both terminals typed is in the shared history.
    CommandHistory history(&store);
    EXPECT_EQ(history.Entries().size(), 2u * kLines);
    // No temporary file is left behind in either folder.
    for (const auto& folder : {linked, shared})
        for (const auto& e : fs::directory_iterator(folder))
            EXPECT_EQ(e.path().filename().string().rfind(".Tavrix", 0), std::string::npos)
                << e.path();
}

TEST(SharedSettings, ANewSettingsFileIsPrivateToItsOwner) {
    TempDir dir;
    SettingsStore store(dir.Str() + "/new");
    ASSERT_TRUE(store.WriteInt("CommunicationSetup", "GPIBAddr", 7));
    EXPECT_EQ(ModeOf(store.FilePath()), 0600u);
}

TEST(TerminalHistory, LinesHoldingTheCalibrationPasswordAreNeverKept) {
    TempDir dir;
    SettingsStore store(dir.Str());
    {
        CommandHistory history(&store);
        for (const char* line :
             {"*IDN?", "INST A:PSWD?", "inst a:pswd SECRET1;pswd?", "INP A:TEMP?", "x;PsWd?"})
            history.Add(line);
        EXPECT_EQ(history.Entries(), (std::vector<std::string>{"*IDN?", "INP A:TEMP?"}));
    }
    std::string text = Slurp(store.FilePath());
    std::transform(text.begin(), text.end(), text.begin(), ::toupper);
    EXPECT_EQ(text.find("PSWD"), std::string::npos);
    EXPECT_EQ(text.find("SECRET"), std::string::npos);

    // One stored by an earlier version is not loaded.
    store.WriteString(CommandHistory::kSection, "Line2", "\"INST A:PSWD OLD\"");
    store.WriteInt(CommandHistory::kSection, "Total", 3);
    CommandHistory reloaded(&store);
    EXPECT_EQ(reloaded.Entries(), (std::vector<std::string>{"*IDN?", "INP A:TEMP?"}));
}

TEST(OddFiles, OutputsAndInputsThatAreNoRegularFilesAreRefusedWithoutWaiting) {
    TempDir dir;
    const std::string fifo = dir.Str() + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string error;

    // Outputs: nothing opened, nothing truncated, the reason given.
    EXPECT_FALSE(LogFileWriter::Create(fifo, error));
    EXPECT_EQ(error, "not a regular file (a FIFO)");
    EXPECT_FALSE(LogFileWriter::Append(fifo, "row\n", false, error));
    EXPECT_EQ(error, "not a regular file (a FIFO)");
    EXPECT_EQ(files::OpenOutput("/dev/null", {}, error), -1);
    EXPECT_EQ(error, "not a regular file (a character device)");
    EXPECT_EQ(files::OpenOutput(dir.Str(), {}, error), -1);

    // Inputs: no FIFO, no device, nothing beyond the bound.
    std::string text;
    EXPECT_FALSE(files::ReadInput(fifo, 1024, text, error));
    EXPECT_EQ(error, "not a regular file (a FIFO)");
    EXPECT_FALSE(files::ReadInput("/dev/zero", 1024, text, error));
    EXPECT_EQ(error, "not a regular file (a character device)");
    const std::string big = dir.Str() + "/big";
    std::ofstream(big) << std::string(2048, 'x');
    EXPECT_FALSE(files::ReadInput(big, 1024, text, error));
    EXPECT_EQ(error, "larger than 1024 bytes");
    EXPECT_TRUE(files::ReadInput(big, 4096, text, error));
    EXPECT_FALSE(LineReader(fifo, 100).IsOpen());
}

TEST(OddFiles, AnErrorLogThatIsASymlinkIsRefusedAndItsTargetKept) {
    TempDir dir;
    const std::string victim = dir.Str() + "/precious.txt";
    std::ofstream(victim) << "keep me";
    const std::string link = dir.Str() + "/ErrorLog.txt";
    fs::create_symlink(victim, link);
    ErrorLogFile log;
    EXPECT_FALSE(log.Create(link));
    EXPECT_EQ(log.Error(), "not a regular file (a symbolic link)");
    EXPECT_EQ(Slurp(victim), "keep me");
    EXPECT_TRUE(fs::is_symlink(link));
}

TEST(DataLogOwner, ASecondRunOnTheSameFileIsRefusedAndTheFileLeftAsItWas) {
    TempDir dir;
    const std::string file = dir.Str() + "/run.csv";
    std::ofstream(file) << "first run's rows\r\n";
    files::ExclusiveLock first, second;
    std::string message;
    ASSERT_EQ(LogFileWriter::Lock(file, first, message), files::ExclusiveLock::Result::Locked);
    EXPECT_EQ(LogFileWriter::Lock(file, second, message), files::ExclusiveLock::Result::Busy);
    EXPECT_EQ(message, "The data log file " + file + " is being written by " +
                           files::DescribeProcess(::getpid()) + ": choose another file.");
    EXPECT_EQ(Slurp(file), "first run's rows\r\n");
    first.Release();
    EXPECT_EQ(LogFileWriter::Lock(file, second, message), files::ExclusiveLock::Result::Locked);
}

namespace {
std::optional<std::string> Model3028(const std::string& line) {
    if (line == "*IDN?") return "Orvella Model 3028,0012345,2.04";
    if (line == "SYST:IDEF?") return "28,12345,1,0,0,0,0";
    return std::nullopt;
}
}  // namespace

TEST(SerialDeviceOwner, ConnectSaysWhoHoldsThePortAndOpensItOnceTheHolderHasGone) {
    TempDir locks;
    ScratchLockFolder lockFolder(locks.Str());
    tavrix::test::PtyLinkBench b(Model3028);
    // Another owner got the device first.
    b.link.SerialPort()->Close();
    CCommPort holder([&](int) { return b.instrument.SlavePath(); });
    ASSERT_EQ(holder.Open(1, 4, 50, 2), 0);

    ConnectAndIdentify(b.ctx);
    EXPECT_EQ(b.bar.Get().statusWord, "Error");
    ASSERT_EQ(b.op.messages.size(), 1u);
    EXPECT_EQ(b.op.messages[0].text, "Device busy: " + b.instrument.SlavePath() + " is in use by " +
                                         files::DescribeProcess(::getpid()));
    EXPECT_EQ(b.op.messages[0].icon, MessageIcon::Stop);
    EXPECT_TRUE(b.instrument.Lines().empty());  // nothing was sent

    holder.Close();
    ConnectAndIdentify(b.ctx);
    EXPECT_EQ(b.bar.Get().statusWord, "Connected");
    EXPECT_EQ(b.op.messages.size(), 1u);
}

// A link set to LAN or GPIB, from the start or after a switch, leaves the serial device to
// other programs; set to RS232 again, Connect takes it back.
TEST(SerialDeviceOwner, ALinkSetToLanOrGpibLeavesTheDeviceToOthers) {
    TempDir locks;
    ScratchLockFolder lockFolder(locks.Str());
    tavrix::test::PtyLinkBench b(Model3028);
    CCommPort other([&](int) { return b.instrument.SlavePath(); });
    ASSERT_EQ(other.Open(1, 4, 50, 2), -4);  // the link's, from the start

    for (int type : {kPortLan, kPortGpib}) {
        ApplyPortChange(b.ctx, type);
        EXPECT_EQ(other.Open(1, 4, 50, 2), 0) << type;
        other.Close();
        ApplyPortChange(b.ctx, kPortRs232);
        ConnectAndIdentify(b.ctx);
        EXPECT_EQ(b.bar.Get().statusWord, "Connected");
        EXPECT_EQ(other.Open(1, 4, 50, 2), -4);
    }

    // Stored as LAN: the device is not opened at start, nor by a change of the COM settings.
    ASSERT_TRUE(b.settings.WriteInt(settings::kCommunicationSetup, settings::kPortType, kPortLan));
    b.link.SerialPort()->Close();
    CInstrumentLink lan(b.op, b.settings);
    lan.SetSerialDeviceOverride(b.instrument.SlavePath());
    lan.StartUp();
    lan.RecreateSerialPort();
    EXPECT_EQ(other.Open(1, 4, 50, 2), 0);
}
