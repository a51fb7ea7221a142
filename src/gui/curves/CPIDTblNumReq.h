#pragma once

#include <QDialog>

class QComboBox;
class QPushButton;

namespace tavrix {

// The PID table number request: a list "1".."6", and any integer typed into the field.
class CPIDTblNumReq : public QDialog {
    Q_OBJECT
public:
    explicit CPIDTblNumReq(int preset = 1, QWidget* parent = nullptr);

    int TableNumber() const { return number_; }
    QComboBox* Combo() const { return combo_; }
    QPushButton* OkButton() const { return ok_; }

    void accept() override;

private:
    int number_;
    QComboBox* combo_;
    QPushButton* ok_;
};

}  // namespace tavrix
