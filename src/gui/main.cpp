// tavrix [--sim[=CODE]]: the desktop application; --sim runs it on a simulated controller.
#include <QApplication>
#include <cstdio>
#include <string>

#include "app/CVoduradApp.h"

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
    return qtApp->exec();
}
