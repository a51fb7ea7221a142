#include "link/CGPIBAddrEditDlg.h"

#include "base/DialogFrame.h"
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tavrix {

CGPIBAddrEditDlg::CGPIBAddrEditDlg(int current, QWidget* parent) : QDialog(parent) {
    setWindowTitle("Edit GPIB Address Dialog");
    combo_ = new QComboBox(this);
    combo_->setObjectName("combo1137");
    for (int i = 0; i <= 31; ++i) combo_->addItem(QString::number(i));
    combo_->setCurrentIndex(current >= 0 && current <= 31 ? current : -1);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel("Enter New GPIB Address:", this));
    row->addWidget(combo_);
    QDialogButtonBox* buttons = OkCancelButtons(*this);
    auto* top = new QVBoxLayout(this);
    top->addLayout(row);
    top->addWidget(buttons);
    setMinimumWidth(260);
    ModalDialogFrame(*this);
    // The address is what the operator came to change.
    combo_->setFocus(Qt::OtherFocusReason);
}

int CGPIBAddrEditDlg::Address() const {
    return combo_->currentIndex();
}

}  // namespace tavrix
