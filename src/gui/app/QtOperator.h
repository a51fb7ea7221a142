#pragma once

#include <QPointer>
#include <QWidget>
#include <string>

#include "app/OperatorFrontEnd.h"
#include "base/SyncPrimitives.h"
#include "calgen/VaporPressureLauncher.h"

namespace tavrix {

class SettingsStore;

// The operator at the screen: Qt message boxes and dialogs. Calls from worker threads run on
// the GUI thread while the worker waits; once the program quits, a waiting worker gives up
// (the answer is then "No"/Cancel) instead of holding up the view's shut-down.
class QtOperator : public OperatorFrontEnd {
public:
    explicit QtOperator(const SettingsStore& settings);

    // Window the dialogs and message boxes are centred on.
    void SetParentWidget(QWidget* parent) { parent_ = passwordParent_ = parent; }
    void SetQuitEvent(const ManualResetEvent* quit) { quit_ = quit; }
    // The device every COM port opens, when the simulator stands in for the instrument.
    void SetSerialDeviceOverride(std::string path) { deviceOverride_ = std::move(path); }

    void ShowMessage(const std::string& text, MessageIcon icon) override;
    bool AskYesNo(const std::string& text, MessageIcon icon) override;
    std::unique_ptr<ProgressWindow> OpenProgress() override;
    void PumpMessages() override;
    DialogResult<SerialSetupChoice> AskSerialSetup(const SerialSetupChoice& preset) override;
    DialogResult<int> AskPortType(int current) override;
    DialogResult<int> AskGpibAddress(int current) override;
    DialogResult<IpAddressChoice> AskIpAddress(const IpAddressChoice& preset) override;
    DialogResult<OnePointValues> AskOnePoint(const OnePointValues& preset) override;
    DialogResult<TwoPointsValues> AskTwoPoints(const TwoPointsValues& preset) override;
    DialogResult<ThreePointsValues> AskThreePoints(const ThreePointsValues& preset) override;
    // File, curve and PID table dialogs (QtOperatorCurves.cpp).
    DialogResult<std::string> AskOpenFile(const FileDialogRequest& request) override;
    DialogResult<std::string> AskSaveFile(const FileDialogRequest& request) override;
    DialogResult<CurveHeaderEdit> EditCurveHeader(const CurveHeaderEdit& header) override;
    DialogResult<UserCurveChoice> ChooseUserCurve(const UserCurveChoice& choice) override;
    DialogResult<int> AskPidTableNumber(int preset) override;
    // The logging setup dialog (QtOperatorLogging.cpp).
    DialogResult<DataLogSetupModel> AskLogSetup(const DataLogSetupModel& preset) override;
    // The calibration dialogs (QtOperatorCalibration.cpp).
    DialogResult<std::string> AskCalibrationPassword() override;
    DialogResult<NewPasswordEntry> AskNewCalibrationPassword() override;
    DialogOutcome RunCalibrationDialog(CalibSession& session) override;
    // The sharing dialog (QtOperator.cpp).
    DialogResult<ShareSettings> AskShareSettings(const ShareSettings& preset) override;
    // The "Vapor Pressure" buttons' desktop; it remembers the calculator it started.
    DesktopPrograms& Desktop();
    void SetDesktopPrograms(std::unique_ptr<DesktopPrograms> desktop) {
        desktop_ = std::move(desktop);
    }

private:
    QWidget* Parent() const { return parent_.data(); }

    const SettingsStore& settings_;
    QPointer<QWidget> parent_;
    // The window the password dialogs are centred on: the view, also while the calibration
    // dialog holds the message boxes.
    QPointer<QWidget> passwordParent_;
    const ManualResetEvent* quit_ = nullptr;
    std::string deviceOverride_;
    std::unique_ptr<DesktopPrograms> desktop_;
};

}  // namespace tavrix
