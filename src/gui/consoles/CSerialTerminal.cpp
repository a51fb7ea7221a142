#include "consoles/CSerialTerminal.h"
#include "base/DialogFrame.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "app/Commands.h"
#include "base/ScreenRect.h"

namespace tavrix {

CCommandEdit::CCommandEdit(TerminalModel& model, QWidget* parent)
    : QLineEdit(parent), model_(model) {
    // The line is read into a buffer of 48 bytes: the field takes no more than fits, so a
    // pasted line is cut where the operator can see it, not silently when it is sent.
    setMaxLength(static_cast<int>(kTerminalLineMax));
    // The instrument reads 8-bit text: a character outside Latin-1 would reach it as "?" and
    // could turn a command into a query.
    setValidator(new QRegularExpressionValidator(
        QRegularExpression("[\\x{20}-\\x{7e}\\x{a0}-\\x{ff}]*"), this));
}

void CCommandEdit::Send() {
    const std::string& line = model_.Send(text().toLatin1().toStdString());
    if (destination_) destination_(WM_TERMINAL_COMMAND, reinterpret_cast<intptr_t>(&line), 0);
}

void CCommandEdit::keyPressEvent(QKeyEvent* e) {
    const int key = e->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
        const auto line = key == Qt::Key_Up
                              ? model_.History().Older(text().toLatin1().toStdString())
                              : model_.History().Newer();
        if (line) setText(QString::fromLatin1(*line));
        e->accept();
        return;
    }
    QLineEdit::keyPressEvent(e);
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        e->accept();
        Send();
    }
}

CSerialTerminal::CSerialTerminal(SettingsStore& settings, QWidget* parent)
    : QDialog(parent), settings_(settings), model_(&settings) {
    setWindowTitle("Serial Terminal");
    setModal(false);
    ResizableWindowFrame(*this, Qt::Window);

    auto* label = new QLabel("Enter Command:", this);
    edit_ = new CCommandEdit(model_, this);
    edit_->setObjectName("commandEdit");
    send_ = new QPushButton("Send", this);
    quit_ = new QPushButton("Quit", this);
    // Enter belongs to the field, not to a default button.
    for (QPushButton* b : {send_, quit_}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    connect(send_, &QPushButton::clicked, edit_, &CCommandEdit::Send);
    connect(quit_, &QPushButton::clicked, this, &QDialog::hide);

    auto* row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(edit_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(send_);
    buttons->addWidget(quit_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addLayout(buttons);
    resize(460, sizeHint().height());
}

void CSerialTerminal::SetDestination(TerminalDestination destination) {
    edit_->SetDestination(std::move(destination));
}

void CSerialTerminal::closeEvent(QCloseEvent* e) {
    const QRect r = ScreenRectOf(*this);
    settings_.WriteInt(settings::kTerminalPos, settings::kWinLeft, r.left());
    settings_.WriteInt(settings::kTerminalPos, settings::kWinTop, r.top());
    settings_.WriteInt(settings::kTerminalPos, settings::kWinRight, r.right() + 1);
    settings_.WriteInt(settings::kTerminalPos, settings::kWinBottom, r.bottom() + 1);
    QDialog::closeEvent(e);
}

}  // namespace tavrix
