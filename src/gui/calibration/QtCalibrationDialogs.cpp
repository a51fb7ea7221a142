#include "calibration/QtCalibrationDialogs.h"

#include "calibration/CCalibDlg.h"
#include "calibration/CCalibPasswordDialogs.h"

namespace tavrix {

DialogResult<std::string> QtCalibrationDialogs::AskCalibrationPassword() {
    CVerifyPW dlg(parent_.data());
    if (dlg.exec() != QDialog::Accepted) return DialogResult<std::string>::Cancelled();
    return DialogResult<std::string>::Accept(dlg.TakePassword());
}

DialogResult<NewPasswordEntry> QtCalibrationDialogs::AskNewCalibrationPassword() {
    CChangePswd dlg(op_, parent_.data());
    if (dlg.exec() != QDialog::Accepted) return DialogResult<NewPasswordEntry>::Cancelled();
    NewPasswordEntry e;
    e.newText = dlg.TakeNew();
    e.retyped = dlg.TakeRetyped();
    return DialogResult<NewPasswordEntry>::Accept(std::move(e));
}

DialogOutcome QtCalibrationDialogs::RunCalibrationDialog(CalibSession& session) {
    CCalibDlg dlg(session, *this, op_, parent_.data());
    dlg.resize(720, 420);
    if (setMessageParent) setMessageParent(&dlg);
    dlg.exec();
    if (setMessageParent) setMessageParent(nullptr);
    return DialogOutcome::Ok;
}

}  // namespace tavrix
