#pragma once

#include <QApplication>
#include <QFileDialog>
#include <QString>
#include <QTimer>
#include <QWidget>
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
        // The view is attached to the simulator as "tavrix --sim" attaches it (LAN address
        // and port preset as well), not only its COM ports.
        bool asDesktopSim = false;
        // The settings folder (kept after the bench, for a second start); a fresh one if empty.
        std::string settingsFolder;
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

// Saves a grab of `w` as <name>.png in the screenshots folder; a failed write fails the test.
void SaveGrab(QWidget& w, const QString& name);
// The same for a window shown at its natural size first.
void SaveShown(QWidget& w, const QString& name);

// Picks a file in a file dialog as a person would: goes to its folder, types its name (again
// while the folder is still loading, which can replace a name set too early), then accepts.
void ChooseFile(QFileDialog* dialog, const QString& path);

// Lets queued calls and timers run for about `ms` milliseconds.
void Pump(int ms);
// Waits (pumping) until `done` holds or `ms` pass; returns done().
bool PumpUntil(const std::function<bool()>& done, int ms);
// Empties the folder named by TAVRIX_CONFIG_DIR, so the suite starts with no stored settings.
void FreshConfigFolder();

// Runs `handle` on the first visible top-level widget of type W once one shows up (polling,
// so that it runs inside the modal loop that shows it). The polling stops with `context`.
template <typename W>
void WhenShown(std::function<void(W*)> handle, const QObject* context = qApp) {
    QTimer::singleShot(10, context, [handle, context] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* target = qobject_cast<W*>(w); target && target->isVisible()) {
                handle(target);
                return;
            }
        }
        WhenShown<W>(handle, context);
    });
}

}  // namespace tavrix::test
