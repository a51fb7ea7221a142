#pragma once

#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "TestSupport.h"
#include "app/CMainFrame.h"
#include "app/CShortCutButtons.h"
#include "app/CVoduradView.h"
#include "app/SimulatedController.h"
#include "base/SettingsStore.h"

namespace tavrix::test {

// The twelve monitor titles the application gives the view.
const std::array<QString, 12>& MonitorTitles();

// A main window on a simulated controller reached over its pseudo-terminal, with a fresh
// settings folder. The scripted operator answers instead of dialogs unless `qtDialogs` is set.
class GuiBench {
public:
    struct Options {
        int modelCode = 28;
        bool qtDialogs = false;
        // Runs after the hub exists and before the view's first update.
        std::function<void(ViewHub&)> beforeInitialUpdate;
    };

    GuiBench();
    explicit GuiBench(Options options);
    ~GuiBench();

    CMainFrame& Frame() { return *frame_; }
    CVoduradView& View() { return *frame_->View(); }
    ViewHub& Hub() { return View().Hub(); }
    CShortCutButtons& Bar() { return *View().ShortcutBar(); }
    SimulatedController& Sim() { return *sim_; }
    SettingsStore& Settings() { return *settings_; }
    ScriptedOperator op;

    // Presses "Connect" on the shortcut bar and lets the posted request run.
    void PressConnect();
    // Destroys the main window now (the view's shut-down); returns how long it took in ms.
    long long DestroyFrame();
    // Every line of the message log.
    std::vector<std::string> LogLines() { return Hub().Log().Lines(); }

private:
    TempDir dir_;
    std::unique_ptr<SettingsStore> settings_;
    std::unique_ptr<SimulatedController> sim_;
    std::unique_ptr<CMainFrame> frame_;
};

// Lets queued calls and timers run for about `ms` milliseconds.
void Pump(int ms);
// Waits (pumping) until `done` holds or `ms` pass; returns done().
bool PumpUntil(const std::function<bool()>& done, int ms);
// Empties the folder named by TAVRIX_CONFIG_DIR, so the suite starts with no stored settings.
void FreshConfigFolder();

}  // namespace tavrix::test
