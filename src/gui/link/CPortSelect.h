#pragma once

#include <QDialog>

class QRadioButton;

namespace tavrix {

// "Port Select Dialog": RS232 (0), GPIB (2) or LAN (3).
class CPortSelect : public QDialog {
    Q_OBJECT
public:
    explicit CPortSelect(int current, QWidget* parent = nullptr);

    int OldPortType() const { return old_; }
    int PortType() const;
    QRadioButton* Radio(int portType) const;

private:
    int old_;
    QRadioButton* rs232_;
    QRadioButton* gpib_;
    QRadioButton* lan_;
};

}  // namespace tavrix
