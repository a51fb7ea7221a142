#include "WindowManagerBench.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "GuiTestBench.h"

namespace tavrix::test {

namespace {

// fork + exec with the child ending when this process ends. `keepFd` stays open in the child.
pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
            int keepFd = -1) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0) return pid;
    // Child: only async-signal-safe calls from here on.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    const int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) {
        dup2(devnull, 0);
        dup2(devnull, 1);
        if (!std::getenv("TAVRIX_WM_VERBOSE")) dup2(devnull, 2);
    }
    for (int fd = 3; fd < 1024; ++fd)
        if (fd != keepFd) close(fd);
    for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
    execvp(argv[0], argv.data());
    _exit(127);
}

bool Exited(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == pid;
}

void EndProcess(pid_t& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    QElapsedTimer t;
    t.start();
    while (!Exited(pid)) {
        if (t.elapsed() > 3000) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            break;
        }
        usleep(10000);
    }
    pid = -1;
}

}  // namespace

WindowManagerDisplay*& WindowManagerDisplay::Current() {
    static WindowManagerDisplay* current = nullptr;
    return current;
}

WindowManagerDisplay::~WindowManagerDisplay() {
    Stop();
}

QString WindowManagerDisplay::SkipMessage() const {
    return "SKIPPED: these tests need Xvfb and openbox (Debian packages xvfb and openbox) to run "
           "a window manager of their own, and they could not start: " +
           error_;
}

bool WindowManagerDisplay::Start(int timeoutMs) {
    char scratch[] = "/tmp/tavrix-wm-XXXXXX";
    if (!mkdtemp(scratch)) {
        error_ = QString("no scratch folder: %1").arg(std::strerror(errno));
        return false;
    }
    scratch_ = scratch;
    QElapsedTimer t;
    t.start();

    // Xvfb picks a free display number and writes it to the pipe once it accepts clients.
    int fds[2];
    if (pipe(fds) != 0) {
        error_ = QString("pipe: %1").arg(std::strerror(errno));
        return false;
    }
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    xvfb_ = Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24",
                   "-nolisten", "tcp", "-noreset"},
                  {}, fds[1]);
    close(fds[1]);
    std::string number;
    while (true) {
        const int left = timeoutMs - static_cast<int>(t.elapsed());
        if (left <= 0 || xvfb_ < 0 || Exited(xvfb_)) break;
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, left) <= 0) break;
        char c;
        const ssize_t n = read(fds[0], &c, 1);
        if (n <= 0 || c == '\n') break;
        number += c;
    }
    close(fds[0]);
    if (number.empty()) {
        error_ = "Xvfb did not start (is the xvfb package installed?)";
        EndProcess(xvfb_);
        return false;
    }
    display_ = ":" + QString::fromStdString(number);

    // openbox runs its start-up command once it manages the screen.
    const std::string ready = (scratch_ + "/wm-ready").toStdString();
    const std::string s = scratch_.toStdString();
    wm_ = Spawn({"openbox", "--sm-disable", "--startup", "touch " + ready},
                {"DISPLAY=" + display_.toStdString(), "XDG_CONFIG_HOME=" + s, "XDG_CACHE_HOME=" + s,
                 "XDG_DATA_HOME=" + s});
    struct stat st;
    while (stat(ready.c_str(), &st) != 0) {
        if (t.elapsed() > timeoutMs || wm_ < 0 || Exited(wm_)) {
            error_ =
                "openbox did not start on " + display_ + " (is the openbox package installed?)";
            wm_ = -1;
            Stop();
            return false;
        }
        usleep(20000);
    }
    running_ = true;
    return true;
}

void WindowManagerDisplay::Stop() {
    running_ = false;
    EndProcess(wm_);
    EndProcess(xvfb_);
    if (!scratch_.isEmpty()) QDir(scratch_).removeRecursively();
    scratch_.clear();
}

void WindowManagerDisplay::UseForQt() const {
    if (running_) {
        qputenv("DISPLAY", display_.toLocal8Bit());
        qputenv("QT_QPA_PLATFORM", "xcb");
    } else {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
}

bool WaitForFrame(QWidget& w, int ms) {
    return PumpUntil(
        [&] {
            QWindow* h = w.windowHandle();
            return h && h->isExposed() && w.frameGeometry().height() > w.geometry().height();
        },
        ms);
}

QRect SettledFrame(QWidget& w, int ms) {
    QElapsedTimer t;
    t.start();
    QRect last = w.frameGeometry();
    QElapsedTimer still;
    still.start();
    while (t.elapsed() < ms) {
        Pump(20);
        const QRect now = w.frameGeometry();
        if (now != last) {
            last = now;
            still.restart();
        } else if (still.elapsed() >= 250) {
            break;
        }
    }
    return last;
}

bool SaveScreen(const QString& name) {
    QDir().mkpath(TAVRIX_SCREENSHOT_DIR);
    const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    return !screen.isNull() && screen.save(QString(TAVRIX_SCREENSHOT_DIR) + "/" + name + ".png");
}

}  // namespace tavrix::test
