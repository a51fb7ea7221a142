#include "app/CVoduradApp.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/CMainFrame.h"
#include "app/CVoduradView.h"
#include "app/GuiResources.h"
#include "app/QtOperator.h"
#include "app/SimulatedController.h"
#include "base/SettingsStore.h"

namespace tavrix {

void CVoduradApp::FixNumericLocale() {
    std::setlocale(LC_NUMERIC, "C");
}

std::unique_ptr<QApplication> CVoduradApp::MakeQApplication(int& argc, char** argv) {
    auto app = std::make_unique<QApplication>(argc, argv);
    FixNumericLocale();
    QApplication::setApplicationName("Tavrix");
    QApplication::setOrganizationName("Orvella, Inc");
    return app;
}

bool CVoduradApp::ParseCommandLine(int argc, char** argv, Options& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--sim") == 0) {
            options.simulate = true;
        } else if (std::strncmp(a, "--sim=", 6) == 0) {
            char* end = nullptr;
            const long code = std::strtol(a + 6, &end, 10);
            if (end == a + 6 || *end != '\0' || code < 0 || code > 255) {
                error = std::string("bad model code in ") + a;
                return false;
            }
            options.simulate = true;
            options.simModel = static_cast<int>(code);
        }
    }
    return true;
}

bool CVoduradApp::DisplayAvailable(int argc, char** argv) {
    auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v && *v;
    };
    if (set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM")) return true;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    return false;
}

CVoduradApp::CVoduradApp() {
    InitGuiResources();
}

CVoduradApp::~CVoduradApp() {
    frame_.reset();  // the view stops the workers and saves its windows
    sim_.reset();
}

bool CVoduradApp::InitInstance(const Options& options, OperatorFrontEnd* injectedOperator) {
    settings_ = std::make_unique<SettingsStore>(options.simulate ? SettingsStore::SimulatorFolder()
                                                                  : SettingsStore::DefaultFolder());
    helpFile_ = "qrc:/tavrix/help.html";
    monitorTitles_ = {"Channel A", "Channel B", "Channel C", "Channel D", "Channel E", "Channel F",
                      "Channel G", "Channel H", "Heater 1",  "Heater 2",  "Analog 1",  "Analog 2"};

    if (options.simulate) {
        sim_ = std::make_unique<SimulatedController>(options.simModel);
        if (!sim_->Ok()) {
            std::fprintf(stderr, "tavrix: cannot start the simulated controller: %s\n",
                         sim_->Error().c_str());
            return false;
        }
        // The GPIB driver is looked up when the link is built; point it at the simulator's.
        // It sits beside the program in the build tree, in a folder of its own once installed.
        if (!std::getenv("TAVRIX_GPIB_LIBRARY")) {
            const QDir appDir(QCoreApplication::applicationDirPath());
            QStringList places{appDir.filePath("../sim/libgpib-sim.so")};
#ifdef TAVRIX_BIN_TO_GPIB_SIM
            places << appDir.filePath(QStringLiteral(TAVRIX_BIN_TO_GPIB_SIM "/libgpib-sim.so"));
#endif
            for (const QString& lib : places) {
                if (!QFileInfo::exists(lib)) continue;
                setenv("TAVRIX_GPIB_LIBRARY",
                       QFileInfo(lib).canonicalFilePath().toLocal8Bit().constData(), 1);
                break;
            }
        }
    }

    frame_ = std::make_unique<CMainFrame>(*settings_, monitorTitles_, helpFile_, injectedOperator);
    QObject::connect(frame_.get(), &CMainFrame::closed, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    CVoduradView* view = frame_->View();
    if (sim_) sim_->AttachBeforeInitialUpdate(*view);
    view->OnInitialUpdate();
    if (sim_) sim_->AttachAfterInitialUpdate(*view);
    frame_->show();
    return true;
}

}  // namespace tavrix
