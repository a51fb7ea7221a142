#include "calgen/CReferencePointDialog.h"

#include "base/DialogFrame.h"
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/MessageBoxes.h"

namespace tavrix {

CReferencePointDialog::CReferencePointDialog(DesktopPrograms& desktop, OperatorInterface& op,
                                             int vaporPressureId, QWidget* parent)
    : QDialog(parent), launcher_(desktop, op), vaporId_(vaporPressureId) {
    ok_ = new QPushButton("OK", this);
    ok_->setObjectName("button1");
    ok_->setDefault(true);
    cancel_ = new QPushButton("Cancel", this);
    cancel_->setObjectName("button2");
    cancel_->setAutoDefault(false);
    vapor_ = new QPushButton(kVaporPressureText, this);
    vapor_->setObjectName(QString("button%1").arg(vaporPressureId));
    vapor_->setAutoDefault(false);
    connect(ok_, &QPushButton::clicked, this, &CReferencePointDialog::OnOk);
    connect(cancel_, &QPushButton::clicked, this, &CReferencePointDialog::reject);
    // The dialog stays open whatever the calculator does.
    connect(vapor_, &QPushButton::clicked, this, [this] { launcher_.Press(); });
    ModalDialogFrame(*this);
}

QLineEdit* CReferencePointDialog::Edit(int controlId) const {
    auto it = edits_.find(controlId);
    return it == edits_.end() ? nullptr : it->second;
}

QPushButton* CReferencePointDialog::Button(int controlId) const {
    if (controlId == 1) return ok_;
    if (controlId == 2) return cancel_;
    if (controlId == vaporId_) return vapor_;
    return nullptr;
}

QLineEdit* CReferencePointDialog::MakeEdit(int controlId) {
    auto* e = new QLineEdit(QString::fromStdString(Form().EditText(controlId)), this);
    e->setObjectName(QString("edit%1").arg(controlId));
    e->setMinimumWidth(e->fontMetrics().horizontalAdvance("0000.000000") + 12);
    edits_[controlId] = e;
    return e;
}

QLabel* CReferencePointDialog::MakeText(const QString& text, int controlId) {
    auto* l = new QLabel(text, this);
    if (controlId) l->setObjectName(QString("text%1").arg(controlId));
    return l;
}

void CReferencePointDialog::Finish(QGridLayout* body) {
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    buttons->addSpacing(8);
    buttons->addWidget(vapor_);
    buttons->addStretch();
    auto* top = new QHBoxLayout(this);
    top->addLayout(body, 1);
    top->addSpacing(8);
    top->addLayout(buttons);
    top->setSizeConstraint(QLayout::SetFixedSize);

    // The operator types at once: the focus starts in the first field (top row, leftmost),
    // and the fields come before the buttons in the tab order.
    QLineEdit* first = nullptr;
    for (int r = 0; r < body->rowCount() && !first; ++r)
        for (int c = 0; c < body->columnCount() && !first; ++c)
            if (QLayoutItem* item = body->itemAtPosition(r, c))
                first = qobject_cast<QLineEdit*>(item->widget());
    if (first) {
        first->setFocus();
        first->selectAll();
    }
}

void CReferencePointDialog::OnOk() {
    std::string message;
    const int refused = Form().Accept(
        [this](int id) {
            const QLineEdit* e = Edit(id);
            return e ? e->text().toStdString() : std::string();
        },
        message);
    if (refused != 0) {
        ShowMessageBox(this, QString::fromStdString(message), MessageIcon::Exclamation);
        if (QLineEdit* e = Edit(refused)) {
            e->setFocus();
            e->selectAll();
        }
        return;
    }
    accept();
}

void CReferencePointDialog::reject() {
    launcher_.OnDialogCancel();
    QDialog::reject();
}

}  // namespace tavrix
