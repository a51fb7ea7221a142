#include "link/CPortSelect.h"

#include "base/DialogFrame.h"
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace tavrix {

CPortSelect::CPortSelect(int current, QWidget* parent) : QDialog(parent), old_(current) {
    setWindowTitle("Port Select Dialog");
    auto* text = new QLabel(
        "Select the port to communicate with controller\nClick GPIB to change GPIB address", this);
    rs232_ = new QRadioButton("RS232", this);
    gpib_ = new QRadioButton("GPIB...", this);
    lan_ = new QRadioButton("LAN", this);
    rs232_->setObjectName("radio1084");
    gpib_->setObjectName("radio1086");
    lan_->setObjectName("radio1087");
    if (QRadioButton* r = Radio(current)) r->setChecked(true);

    QDialogButtonBox* buttons = OkCancelButtons(*this);

    auto* radios = new QVBoxLayout;
    radios->setContentsMargins(16, 4, 0, 4);
    radios->addWidget(rs232_);
    radios->addWidget(gpib_);
    radios->addWidget(lan_);
    auto* top = new QVBoxLayout(this);
    top->addWidget(text);
    top->addLayout(radios);
    top->addWidget(buttons);
    ModalDialogFrame(*this);
}

int CPortSelect::PortType() const {
    if (gpib_->isChecked()) return 2;
    if (lan_->isChecked()) return 3;
    if (rs232_->isChecked()) return 0;
    return old_;
}

QRadioButton* CPortSelect::Radio(int portType) const {
    switch (portType) {
        case 0:
            return rs232_;
        case 2:
            return gpib_;
        case 3:
            return lan_;
        default:
            return nullptr;
    }
}

}  // namespace tavrix
