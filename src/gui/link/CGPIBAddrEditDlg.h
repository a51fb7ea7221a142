#pragma once

#include <QDialog>

class QComboBox;

namespace tavrix {

// "Edit GPIB Address Dialog": primary address 0..31.
class CGPIBAddrEditDlg : public QDialog {
    Q_OBJECT
public:
    explicit CGPIBAddrEditDlg(int current, QWidget* parent = nullptr);
    int Address() const;
    QComboBox* Combo() const { return combo_; }

private:
    QComboBox* combo_;
};

}  // namespace tavrix
