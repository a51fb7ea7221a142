#include "calibration/CCalibPasswordDialogs.h"
#include "base/DialogFrame.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "calibration/CalibPassword.h"
#include "calibration/CalibTexts.h"

namespace tavrix {

namespace ct = calib_texts;

namespace {
QLineEdit* HiddenEdit(QWidget* parent) {
    auto* e = new QLineEdit(parent);
    e->setEchoMode(QLineEdit::Password);
    // Nothing typed here goes to the clipboard or an input method's memory.
    e->setAttribute(Qt::WA_InputMethodEnabled, false);
    e->setContextMenuPolicy(Qt::NoContextMenu);
    return e;
}

std::string Take(QLineEdit* e) {
    QByteArray bytes = e->text().toLatin1();
    std::string s(bytes.constData(), static_cast<size_t>(bytes.size()));
    bytes.fill('\0');
    e->clear();
    return s;
}
}  // namespace

CVerifyPW::CVerifyPW(QWidget* parent) : QDialog(parent) {
    setWindowTitle(ct::kVerifyTitle);
    auto* form = new QFormLayout;
    edit_ = HiddenEdit(this);
    form->addRow("Password:", edit_);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton("Verify", QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* l = new QVBoxLayout(this);
    l->addLayout(form);
    l->addWidget(buttons);
    ModalDialogFrame(*this);
}

CVerifyPW::~CVerifyPW() {
    edit_->clear();
}

std::string CVerifyPW::TakePassword() {
    return Take(edit_);
}

CChangePswd::CChangePswd(OperatorInterface& op, QWidget* parent) : QDialog(parent), op_(op) {
    setWindowTitle(ct::kChangeTitle);
    auto* l = new QVBoxLayout(this);
    l->addWidget(new QLabel(ct::kChangeAdvice, this));
    auto* form = new QFormLayout;
    new_ = HiddenEdit(this);
    retype_ = HiddenEdit(this);
    form->addRow("New:", new_);
    form->addRow("Re-Type:", retype_);
    l->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CChangePswd::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    l->addWidget(buttons);
    retype_->setEnabled(false);
    connect(new_, &QLineEdit::textEdited, this, [this] { retype_->setEnabled(true); });
    new_->installEventFilter(this);
    ModalDialogFrame(*this);
}

CChangePswd::~CChangePswd() {
    new_->clear();
    retype_->clear();
}

std::string CChangePswd::TakeNew() {
    return Take(new_);
}

std::string CChangePswd::TakeRetyped() {
    return Take(retype_);
}

bool CChangePswd::eventFilter(QObject* watched, QEvent* event) {
    if (watched != new_) return QDialog::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(event);
        const QString t = k->text();
        const bool typing = !t.isEmpty() && t.at(0).isPrint() &&
                            !(k->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
        if (typing && !ChangePasswordForm::Fits(static_cast<size_t>(new_->text().size()),
                                                static_cast<size_t>(new_->selectedText().size()),
                                                static_cast<size_t>(t.size()))) {
            op_.ShowMessage(ct::kPasswordTooLong, MessageIcon::Stop);
            return true;
        }
    } else if (event->type() == QEvent::FocusOut && !checking_) {
        const std::string text = new_->text().toStdString();
        if (const char* m = ChangePasswordForm::CheckOnLeave(text)) {
            checking_ = true;
            op_.ShowMessage(m, MessageIcon::Stop);
            new_->setFocus();
            checking_ = false;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CChangePswd::accept() {
    NewPasswordEntry e;
    e.newText = new_->text().toStdString();
    e.retyped = retype_->text().toStdString();
    const std::string refusal = ChangePasswordForm::CheckOnOk(e);
    WipeSecret(e.newText);
    WipeSecret(e.retyped);
    if (!refusal.empty()) {
        op_.ShowMessage(refusal, MessageIcon::Exclamation);
        return;
    }
    QDialog::accept();
}

}  // namespace tavrix
