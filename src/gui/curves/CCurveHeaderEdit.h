#pragma once

#include <QDialog>

#include "curves/CurveDialogModels.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace tavrix {

// "Edit Curve Header:": name, type, multiplier and unit of a curve about to be sent or saved.
// The controls are filled from a CurveHeaderEdit and read back into it on "Accept".
class CCurveHeaderEdit : public QDialog {
    Q_OBJECT
public:
    explicit CCurveHeaderEdit(const CurveHeaderEdit& header, QWidget* parent = nullptr);

    // The members as the controls left them (after "Accept"); as opened otherwise.
    const CurveHeaderEdit& Header() const { return header_; }

    QLineEdit* NameEdit() const { return name_; }
    QComboBox* TypeCombo() const { return type_; }
    QLineEdit* MultiplierEdit() const { return multiplier_; }
    QComboBox* UnitCombo() const { return unit_; }
    QLineEdit* CountEdit() const { return count_; }
    QCheckBox* SaveBox() const { return save_; }
    QPushButton* AcceptButton() const { return accept_; }
    QPushButton* AbortButton() const { return abort_; }
    QPushButton* DisplayCurveButton() const { return display_; }

    void accept() override;

private:
    void DisplayCurve();

    CurveHeaderEdit header_;
    QLineEdit* name_;
    QComboBox* type_;
    QLineEdit* multiplier_;
    QComboBox* unit_;
    QLineEdit* count_;
    QCheckBox* save_;
    QPushButton* accept_;
    QPushButton* abort_;
    QPushButton* display_;
};

}  // namespace tavrix
