#include "curves/CPIDTblNumReq.h"

#include "base/DialogFrame.h"
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/MessageBoxes.h"
#include "curves/CurveDialogModels.h"
#include "curves/CurveTexts.h"

namespace tavrix {

namespace ct = curve_texts;

CPIDTblNumReq::CPIDTblNumReq(int preset, QWidget* parent) : QDialog(parent), number_(preset) {
    setWindowTitle(ct::kPidNumberTitle);
    combo_ = new QComboBox(this);
    combo_->setObjectName("combo1013");
    combo_->setEditable(true);
    combo_->setInsertPolicy(QComboBox::NoInsert);
    for (const char* entry : PidTableNumber::kEntries) combo_->addItem(entry);
    const QString text = QString::number(preset);
    combo_->setCurrentIndex(combo_->findText(text));
    combo_->setEditText(text);

    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(ct::kPidNumberPrompt, this));
    row->addWidget(combo_, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    ok_->setText("OK");
    buttons->button(QDialogButtonBox::Cancel)->setText("Cancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &CPIDTblNumReq::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* top = new QVBoxLayout(this);
    top->addLayout(row);
    top->addWidget(buttons);
    setMinimumWidth(fontMetrics().averageCharWidth() * 40);
    ModalDialogFrame(*this);
}

void CPIDTblNumReq::accept() {
    int n = 0;
    if (!PidTableNumber::Parse(combo_->currentText().toStdString(), n)) {
        ShowMessageBox(this, ct::kEnterAnInteger, MessageIcon::Exclamation);
        combo_->setFocus();
        combo_->lineEdit()->selectAll();
        return;
    }
    number_ = n;
    QDialog::accept();
}

}  // namespace tavrix
