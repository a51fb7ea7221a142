// The calibration dialog and the password dialogs.
#include "app/QtOperator.h"
#include "base/GuiThread.h"
#include "calibration/CCalibDlg.h"
#include "calibration/CCalibPasswordDialogs.h"

namespace tavrix {

DialogResult<std::string> QtOperator::AskCalibrationPassword() {
    auto r = DialogResult<std::string>::Cancelled();
    RunOnGuiThread(
        [&] {
            CVerifyPW dlg(passwordParent_.data());
            if (dlg.exec() == QDialog::Accepted)
                r = DialogResult<std::string>::Accept(dlg.TakePassword());
        },
        quit_);
    return r;
}

DialogResult<NewPasswordEntry> QtOperator::AskNewCalibrationPassword() {
    auto r = DialogResult<NewPasswordEntry>::Cancelled();
    RunOnGuiThread(
        [&] {
            CChangePswd dlg(*this, passwordParent_.data());
            if (dlg.exec() != QDialog::Accepted) return;
            NewPasswordEntry e;
            e.newText = dlg.TakeNew();
            e.retyped = dlg.TakeRetyped();
            r = DialogResult<NewPasswordEntry>::Accept(std::move(e));
        },
        quit_);
    return r;
}

DialogOutcome QtOperator::RunCalibrationDialog(CalibSession& session) {
    RunOnGuiThread(
        [&] {
            QWidget* view = Parent();
            CCalibDlg dlg(session, *this, *this, passwordParent_.data());
            dlg.resize(720, 420);
            // The calibration's messages come up over its dialog.
            parent_ = &dlg;
            dlg.exec();
            parent_ = view;
        },
        quit_);
    return DialogOutcome::Ok;
}

}  // namespace tavrix
