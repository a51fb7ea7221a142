#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

#include "calibration/CalibrationDialogs.h"

namespace tavrix {

// The calibration dialogs on the screen.
class QtCalibrationDialogs : public CalibrationDialogs {
public:
    explicit QtCalibrationDialogs(OperatorInterface& op) : op_(op) {}
    void SetParentWidget(QWidget* parent) { parent_ = parent; }
    // Puts the message boxes over the given window (null: back where they were), so that the
    // calibration dialog's messages come up over it.
    std::function<void(QWidget*)> setMessageParent;

    DialogResult<std::string> AskCalibrationPassword() override;
    DialogResult<NewPasswordEntry> AskNewCalibrationPassword() override;
    DialogOutcome RunCalibrationDialog(CalibSession& session) override;

private:
    OperatorInterface& op_;
    QPointer<QWidget> parent_;
};

}  // namespace tavrix
