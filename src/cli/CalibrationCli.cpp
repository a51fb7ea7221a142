#include "CalibrationCli.h"

#include <CLI/CLI.hpp>

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/CNumeric.h"
#include "base/FileSafety.h"
#include "calibration/CalibPassword.h"
#include "calibration/CalibSession.h"
#include "calibration/CalibTexts.h"

namespace tavrix::cli {

namespace ct = calib_texts;

namespace {

// Passwords are at most ten characters; a longer line is still read whole so that it fails
// the check rather than passing on a prefix.
constexpr size_t kSecretLineMax = 1024;
// A password file is a few short lines; anything larger is not one.
constexpr size_t kSecretFileMax = 64 * 1024;

int Fail(const std::string& what) {
    std::fprintf(stderr, "tavrix-cli: %s\n", what.c_str());
    return 1;
}

// The terminal's settings while echo is off, for the signal handler to put back.
int gTtyFd = -1;
struct termios gTtySaved;
volatile sig_atomic_t gEchoOff = 0;

void RestoreEchoAndDie(int sig) {
    if (gEchoOff) tcsetattr(gTtyFd, TCSAFLUSH, &gTtySaved);
    signal(sig, SIG_DFL);
    raise(sig);
}

int Usable(CliSession& s) {
    CInstrumentLink& link = *s.link;
    if (link.GetPortType() == kPortRs232) {
        const CCommPort* port = link.SerialPort();
        if (!port || !port->IsOpen()) return Fail("the serial port could not be opened");
    }
    return 0;
}

std::optional<std::string> CurrentPassword(const CalibrationCliOptions& o) {
    std::string error;
    std::optional<std::string> pw = o.passwordFile.empty()
                                        ? ReadSecretFromTerminal("Password: ", error)
                                        : ReadSecretFromFile(o.passwordFile, 0, error);
    if (!pw) Fail(error);
    return pw;
}

bool Verified(const CalibrationCliOptions& o, CliSession& s, const CalibTransact& transact) {
    std::optional<std::string> pw = CurrentPassword(o);
    if (!pw) return false;
    const bool ok = CheckCalibrationPassword(*pw, transact, s.op);
    WipeSecret(*pw);
    if (!ok) s.op.ShowMessage(ct::kFailedToVerifyPassword, MessageIcon::Stop);
    return ok;
}

// SIGINT, SIGTERM and SIGHUP wait while the inputs are in calibration settings: the command
// puts them back first, then the signal ends the program as it would have.
class HeldStopSignals {
public:
    HeldStopSignals() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGHUP);
        sigprocmask(SIG_BLOCK, &set, &saved_);
    }
    ~HeldStopSignals() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
    HeldStopSignals(const HeldStopSignals&) = delete;
    HeldStopSignals& operator=(const HeldStopSignals&) = delete;

private:
    sigset_t saved_;
};

int ReportRestore(int status, CalibInputsRestorer& restorer) {
    return restorer.Now() == 0 ? status : 1;
}

int RunRead(const CalibrationCliOptions& o, CliSession& s) {
    CalibExchange exchange = CalibExchangeOver(*s.link);
    if (!Verified(o, s, exchange.transact)) return 1;
    HeldStopSignals held;
    CalibSession session(exchange, s.op);
    CalibInputsRestorer restorer(session);
    const bool ok = session.Retrieve();
    if (session.ModelCode() == 0) return 1;
    if (!session.HasSteps()) return Fail(ct::kNoSteps);
    for (int step = 0; step < session.StepCount(); ++step) {
        for (int c = 0; c < session.ChannelCount(); ++c) {
            const CalibData& e = session.Entry(step, c);
            // An entry the retrieval did not reach is not printed as if it were the instrument's.
            if (!e.retrieved) continue;
            std::fputs(FormatC("%d\t%s\t%c\t%5.7f\t%5.7f\n", step + 1, session.Step(step).tabName,
                               'A' + c, e.gain, e.offset)
                           .c_str(),
                       stdout);
        }
    }
    std::fflush(stdout);
    return ReportRestore(ok ? 0 : 1, restorer);
}

int RunApply(const CalibrationCliOptions& o, CliSession& s) {
    if (o.channel.size() != 1 || !std::isalpha(static_cast<unsigned char>(o.channel[0])))
        return Fail("--channel takes one letter, A to H");
    CalibExchange exchange = CalibExchangeOver(*s.link);
    if (!Verified(o, s, exchange.transact)) return 1;
    HeldStopSignals held;
    CalibSession session(exchange, s.op);
    CalibInputsRestorer restorer(session);
    if (!session.Prepare()) return 1;
    if (!session.HasSteps()) return Fail(ct::kNoSteps);
    const int channel = std::toupper(static_cast<unsigned char>(o.channel[0])) - 'A';
    if (channel >= session.ChannelCount())
        return Fail(FormatC("this model has channels A to %c", 'A' + session.ChannelCount() - 1));
    if (o.step < 1 || o.step > session.StepCount())
        return Fail(FormatC("--step must be 1 to %d for this model", session.StepCount()));
    struct NoTimers : CaptureTimers {
        bool Start(int, int, int) override { return false; }
        void Stop(int, int) override {}
    } timers;
    session.Open(timers);
    session.SelectChannel(channel);
    if (!session.EnterValues(o.step - 1, o.gain, o.offset)) return 1;
    if (session.SendPage(o.step - 1) != 0) {
        s.op.ShowMessage(ct::kFailedToSend, MessageIcon::Stop);
        return ReportRestore(1, restorer);
    }
    // The values exactly as they went to the instrument.
    std::printf("%s\n", FormatC("%d\t%s\t%c\t%s\t%s", o.step, session.Step(o.step - 1).tabName,
                                'A' + channel, CalibSession::SentText(o.gain).c_str(),
                                CalibSession::SentText(o.offset).c_str())
                            .c_str());
    std::fflush(stdout);
    return ReportRestore(0, restorer);
}

int RunPassword(const CalibrationCliOptions& o, CliSession& s) {
    CalibExchange exchange = CalibExchangeOver(*s.link);
    if (!Verified(o, s, exchange.transact)) return 1;
    std::string error;
    NewPasswordEntry entry;
    if (!o.newPasswordFile.empty()) {
        std::optional<std::string> a = ReadSecretFromFile(o.newPasswordFile, 0, error);
        if (!a) return Fail(error);
        std::string ignored;
        std::optional<std::string> b = ReadSecretFromFile(o.newPasswordFile, 1, ignored);
        entry.newText = *a;
        entry.retyped = b ? *b : *a;
        WipeSecret(*a);
        if (b) WipeSecret(*b);
    } else {
        std::optional<std::string> a = ReadSecretFromTerminal("New: ", error);
        if (!a) return Fail(error);
        std::optional<std::string> b = ReadSecretFromTerminal("Re-Type: ", error);
        if (!b) return Fail(error);
        entry.newText = *a;
        entry.retyped = *b;
        WipeSecret(*a);
        WipeSecret(*b);
    }
    // The dialog's rules: lower case is pointed out (the instrument gets the upper-case form).
    if (const char* m = ChangePasswordForm::CheckOnLeave(entry.newText))
        s.op.ShowMessage(m, MessageIcon::Exclamation);
    const int r = SetCalibrationPassword(entry, exchange.transact, s.op);
    WipeSecret(entry.newText);
    WipeSecret(entry.retyped);
    return r == 0 ? 0 : 1;
}

}  // namespace

std::optional<std::string> ReadSecretFromFile(const std::string& path, int line,
                                              std::string& error) {
    // A FIFO or a device would make the run wait or read for ever: only a small regular file.
    std::string why;
    const int fd = files::OpenInput(path, kSecretFileMax, why);
    std::FILE* f = fd < 0 ? nullptr : ::fdopen(fd, "rb");
    if (!f) {
        if (fd >= 0) ::close(fd);
        error = "cannot read the password file " + path + ": " + why;
        return std::nullopt;
    }
    // The lines of the file, each without its LF (and a CR before it).
    std::vector<std::string> lines(1);
    bool endedWithLf = false;
    for (int ch; (ch = std::fgetc(f)) != EOF;) {
        endedWithLf = ch == '\n';
        if (endedWithLf) {
            if (lines.size() > static_cast<size_t>(line)) break;
            lines.emplace_back();
        } else if (lines.back().size() < kSecretLineMax) {
            lines.back().push_back(static_cast<char>(ch));
        }
    }
    std::fclose(f);
    if (endedWithLf && lines.size() > 1 && lines.back().empty() &&
        lines.size() - 1 == static_cast<size_t>(line))
        lines.pop_back();  // the LF of the last line opens no further line
    std::optional<std::string> out;
    if (static_cast<size_t>(line) < lines.size()) {
        out = lines[static_cast<size_t>(line)];
        if (!out->empty() && out->back() == '\r') out->pop_back();
    } else {
        error = "the password file " + path + " has no line " + std::to_string(line + 1);
    }
    for (std::string& l : lines) WipeSecret(l);
    return out;
}

std::optional<std::string> ReadSecretFromTerminal(const char* prompt, std::string& error) {
    const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = "no terminal to read the password from; give it with --password-file FILE";
        return std::nullopt;
    }
    struct termios saved;
    if (tcgetattr(fd, &saved) != 0) {
        ::close(fd);
        error = "the terminal cannot turn its echo off; give the password with --password-file";
        return std::nullopt;
    }
    struct termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
    gTtyFd = fd;
    gTtySaved = saved;
    struct sigaction act {
    }, oldInt{}, oldTerm{}, oldHup{};
    act.sa_handler = RestoreEchoAndDie;
    sigaction(SIGINT, &act, &oldInt);
    sigaction(SIGTERM, &act, &oldTerm);
    sigaction(SIGHUP, &act, &oldHup);
    (void)!::write(fd, prompt, std::strlen(prompt));
    gEchoOff = 1;
    tcsetattr(fd, TCSAFLUSH, &quiet);
    std::string text;
    bool ended = false;
    char c;
    for (;;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n <= 0) break;
        if (c == '\n' || c == '\r') {
            ended = true;
            break;
        }
        if (text.size() < kSecretLineMax) text.push_back(c);
    }
    tcsetattr(fd, TCSAFLUSH, &saved);
    gEchoOff = 0;
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
    sigaction(SIGHUP, &oldHup, nullptr);
    (void)!::write(fd, "\n", 1);
    ::close(fd);
    if (!ended) {
        WipeSecret(text);
        error = "the password was not entered";
        return std::nullopt;
    }
    return text;
}

void AddCalibrationCommands(CLI::App& app, CalibrationCliOptions& o) {
    o.calibration = app.add_subcommand(
        "calibration",
        "Instrument calibration behind its password. The password is read from the terminal "
        "without echo, or from the first line of --password-file FILE; never from an option");
    o.calibration->require_subcommand(1);
    o.calibration->add_option("--password-file", o.passwordFile,
                              "File whose first line is the calibration password");
    o.read = o.calibration->add_subcommand(
        "read", "Print every gain and offset: step, tab name, channel, gain, offset (tabs)");
    o.apply = o.calibration->add_subcommand(
        "apply", "Write one step's gain and offset into one channel, read them back and save");
    o.apply->add_option("--step", o.step, "Step number, from 1 as the dialog shows it")->required();
    o.apply->add_option("--channel", o.channel, "Channel letter")->required();
    o.apply->add_option("--gain", o.gain, "Gain, 0.9 to 1.2")->required();
    o.apply->add_option("--offset", o.offset, "Offset")->required();
    o.password = o.calibration->add_subcommand(
        "password", "Change the calibration password (at most 10 characters, sent in upper case)");
    o.password->add_option("--new-password-file", o.newPasswordFile,
                           "File with the new password on its first line and, optionally, the "
                           "re-typed one on its second (otherwise both are asked on the terminal)");
}

bool CalibrationCommandParsed(const CalibrationCliOptions& o) {
    return o.calibration && o.calibration->parsed();
}

int RunCalibrationCommand(const CalibrationCliOptions& o, CliSession& s) {
    if (Usable(s) != 0) return 1;
    SessionLock lock(s.mutex, 1000);
    if (!lock) return Fail("the instrument is busy");
    if (o.read->parsed()) return RunRead(o, s);
    if (o.apply->parsed()) return RunApply(o, s);
    if (o.password->parsed()) return RunPassword(o, s);
    return 1;
}

}  // namespace tavrix::cli
