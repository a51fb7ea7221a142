// tavrix [--sim[=CODE]]: the desktop application; --sim runs it on a simulated controller.
#include <unistd.h>
#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <string>

#include "app/CMainFrame.h"
#include "app/CVoduradApp.h"

namespace {
int signalPipe[2] = {-1, -1};

void OnTerminate(int) {
    const char byte = 1;
    (void)!::write(signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM close the main window as the operator would, so that window places and
// the open monitors are saved and the worker threads stop in order.
void CloseOnTerminationSignals(tavrix::CVoduradApp& app) {
    if (::pipe(signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [&app] {
        char byte;
        (void)!::read(signalPipe[0], &byte, 1);
        if (app.MainFrame())
            app.MainFrame()->CloseWithoutAsking();
        else
            QApplication::quit();
    });
    struct sigaction sa {};
    sa.sa_handler = OnTerminate;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}
}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") {
            std::printf(
                "Usage: tavrix [--sim[=CODE]]\n"
                "  --sim[=CODE]  work on a simulated controller of model code CODE (27..32,\n"
                "                default 28), reached on every COM port, over TCP and GPIB\n");
            return 0;
        }
    }
    tavrix::CVoduradApp::Options options;
    std::string error;
    if (!tavrix::CVoduradApp::ParseCommandLine(argc, argv, options, error)) {
        std::fprintf(stderr, "tavrix: %s\nUsage: tavrix [--sim[=CODE]]\n", error.c_str());
        return 2;
    }
    if (!tavrix::CVoduradApp::DisplayAvailable(argc, argv)) {
        std::fprintf(stderr,
                     "tavrix: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                     "Run it on a desktop session, or under a virtual X server, e.g.:\n"
                     "  xvfb-run -a build/release/src/gui/tavrix --sim\n");
        return 1;
    }
    auto qtApp = tavrix::CVoduradApp::MakeQApplication(argc, argv);

    tavrix::CVoduradApp app;
    if (!app.InitInstance(options)) return 1;
    CloseOnTerminationSignals(app);
    return qtApp->exec();
}
