#pragma once

#include <QDialog>

#include "curves/CurveDialogModels.h"

class QComboBox;
class QPushButton;

namespace tavrix {

// The user-curve chooser: the instrument's eight user curves by name; the chosen position + 1
// is the curve number.
class CCalTblNumReq : public QDialog {
    Q_OBJECT
public:
    explicit CCalTblNumReq(const UserCurveChoice& choice, QWidget* parent = nullptr);

    const UserCurveChoice& Choice() const { return choice_; }
    QComboBox* Combo() const { return combo_; }
    QPushButton* OkButton() const { return ok_; }

    // OK: a number typed into the field must be 1..8, else the dialog says so and stays open.
    void accept() override;

private:
    UserCurveChoice choice_;
    bool typed_ = false;  // the field was typed into since the last choice from the list
    QComboBox* combo_;
    QPushButton* ok_;
};

}  // namespace tavrix
