#pragma once

#include <QString>
#include <array>
#include <memory>
#include <string>

class QApplication;

namespace tavrix {

class CMainFrame;
class OperatorFrontEnd;
class SettingsStore;
class SimulatedController;

// The application: settings store, help file, monitor titles, the main frame with its view.
// Create it after QApplication and destroy it before.
class CVoduradApp {
public:
    struct Options {
        bool simulate = false;
        int simModel = 28;
    };

    // Qt takes the user's locale; every C-formatted number of the program stays "C".
    static void FixNumericLocale();
    // QApplication with the numeric locale put back to "C" right after it adopted the user's.
    static std::unique_ptr<QApplication> MakeQApplication(int& argc, char** argv);
    // "--sim" / "--sim=CODE"; other arguments are left to Qt. false with `error` set on a bad one.
    static bool ParseCommandLine(int argc, char** argv, Options& options, std::string& error);
    // Whether Qt can open a window: a display, a Wayland socket or an explicit platform.
    static bool DisplayAvailable(int argc, char** argv);

    CVoduradApp();
    ~CVoduradApp();
    CVoduradApp(const CVoduradApp&) = delete;
    CVoduradApp& operator=(const CVoduradApp&) = delete;

    // Start-up: builds everything and shows the main window. false when start-up failed (the
    // message is on stderr). `injectedOperator` replaces the Qt dialogs (tests).
    bool InitInstance(const Options& options, OperatorFrontEnd* injectedOperator = nullptr);

    CMainFrame* MainFrame() const { return frame_.get(); }
    SettingsStore* Settings() const { return settings_.get(); }
    SimulatedController* Simulator() const { return sim_.get(); }
    const std::array<QString, 12>& MonitorTitles() const { return monitorTitles_; }
    const QString& HelpFile() const { return helpFile_; }

private:
    std::unique_ptr<SettingsStore> settings_;
    QString helpFile_;
    std::array<QString, 12> monitorTitles_;
    // Outlives the frame: the link's serial port is the simulator's pty.
    std::unique_ptr<SimulatedController> sim_;
    std::unique_ptr<CMainFrame> frame_;
};

}  // namespace tavrix
