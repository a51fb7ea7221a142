#pragma once

#include <QPointer>
#include <QWidget>

#include "calibration/CalibrationDialogs.h"

namespace tavrix {

// The calibration dialogs on the screen.
class QtCalibrationDialogs : public CalibrationDialogs {
public:
    explicit QtCalibrationDialogs(OperatorInterface& op) : op_(op) {}
    void SetParentWidget(QWidget* parent) { parent_ = parent; }

    DialogResult<std::string> AskCalibrationPassword() override;
    DialogResult<NewPasswordEntry> AskNewCalibrationPassword() override;
    DialogOutcome RunCalibrationDialog(CalibSession& session) override;

private:
    OperatorInterface& op_;
    QPointer<QWidget> parent_;
};

}  // namespace tavrix
