#include "curves/CCalTblNumReq.h"

#include "base/DialogFrame.h"
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/MessageBoxes.h"
#include "curves/CurveTexts.h"

namespace tavrix {

namespace ct = curve_texts;

CCalTblNumReq::CCalTblNumReq(const UserCurveChoice& choice, QWidget* parent)
    : QDialog(parent), choice_(choice) {
    setWindowTitle(ct::kChooserTitle);
    auto* note = new QLabel(ct::kChooserNote, this);
    note->setWordWrap(true);

    combo_ = new QComboBox(this);
    combo_->setObjectName("combo1009");
    combo_->setEditable(true);
    // Typed text never becomes an entry, and is not completed into one of the names.
    combo_->setInsertPolicy(QComboBox::NoInsert);
    combo_->setCompleter(nullptr);
    for (const std::string& name : choice_.names) combo_->addItem(QString::fromStdString(name));
    combo_->setCurrentIndex(0);
    choice_.Select(0);
    connect(combo_, &QComboBox::currentIndexChanged, this, [this](int i) {
        choice_.Select(i);
        typed_ = false;
    });
    connect(combo_, &QComboBox::activated, this, [this](int i) {
        choice_.Select(i);
        typed_ = false;
    });
    connect(combo_->lineEdit(), &QLineEdit::textEdited, this, [this] { typed_ = true; });
    combo_->setMinimumWidth(fontMetrics().averageCharWidth() * 22);

    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(ct::kChooserPrompt, this));
    row->addWidget(combo_, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    ok_->setText("OK");
    buttons->button(QDialogButtonBox::Cancel)->setText("Cancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* top = new QVBoxLayout(this);
    top->addWidget(note);
    top->addLayout(row);
    top->addWidget(buttons);
    setMinimumWidth(fontMetrics().averageCharWidth() * 58);
    ModalDialogFrame(*this);
}

void CCalTblNumReq::accept() {
    if (typed_ && !choice_.TakeTyped(combo_->currentText().toStdString())) {
        ShowMessageBox(this, ct::kChooserTypedRange, MessageIcon::Exclamation);
        combo_->setFocus();
        combo_->lineEdit()->selectAll();
        return;
    }
    QDialog::accept();
}

}  // namespace tavrix
