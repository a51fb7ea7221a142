#include "logging/CDataLoggingInProcMessage.h"
#include "base/DialogFrame.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "base/MessageBoxes.h"
#include "base/Texts.h"

namespace tavrix {

namespace {
// A read-only field's room around its text (the line edit's own margins), with some to spare.
constexpr int kFieldRoom = 12;

QLineEdit* ReadOnlyField(QWidget* parent, int id) {
    auto* f = new QLineEdit(parent);
    f->setReadOnly(true);
    f->setFrame(false);
    f->setFocusPolicy(Qt::NoFocus);
    f->setObjectName(QString("field%1").arg(id));
    return f;
}
}  // namespace

CDataLoggingInProcMessage::CDataLoggingInProcMessage(QWidget* parent) : QDialog(parent) {
    setWindowTitle(logging_texts::kProgressTitle);
    setModal(false);
    auto* top = new QVBoxLayout(this);
    const char* captions[3] = {
        "Logging Input Channels:", "Logging Output Channels:", "Logging Control Setpoints:"};
    const int groupStart[3] = {0, 8, 12}, groupSize[3] = {8, 4, 4};
    for (int g = 0; g < 3; ++g) {
        top->addWidget(new QLabel(captions[g], this));
        auto* grid = new QGridLayout;
        // Each slot of a group is wide enough for the longest label that group can show.
        int widest = 0;
        for (int k = 0; k < groupSize[g]; ++k)
            widest =
                std::max(widest, fontMetrics().horizontalAdvance(QString::fromLatin1(
                                     kLogSources[static_cast<size_t>(groupStart[g] + k)].label)));
        for (int k = 0; k < groupSize[g]; ++k) {
            const int i = groupStart[g] + k;
            auto* f = ReadOnlyField(this, LoggingProgressModel::kSlotIds[static_cast<size_t>(i)]);
            f->setMinimumWidth(widest + kFieldRoom);
            grid->addWidget(f, k / 4, k % 4);
            slots_[static_cast<size_t>(i)] = f;
        }
        top->addLayout(grid);
    }
    auto* form = new QGridLayout;
    interval_ = ReadOnlyField(this, LoggingProgressModel::kIntervalId);
    file_ = ReadOnlyField(this, LoggingProgressModel::kFileId);
    entries_ = ReadOnlyField(this, LoggingProgressModel::kEntriesId);
    form->addWidget(new QLabel("At interval :", this), 0, 0);
    auto* intervalRow = new QHBoxLayout;
    intervalRow->addWidget(interval_);
    intervalRow->addWidget(new QLabel("sec", this));
    intervalRow->addStretch(1);
    form->addLayout(intervalRow, 0, 1);
    // Room for a usual path; a longer one scrolls in the field and shows whole as its tip.
    file_->setMinimumWidth(fontMetrics().averageCharWidth() * 60);
    form->addWidget(new QLabel("Output to File :", this), 1, 0);
    form->addWidget(file_, 1, 1);
    form->addWidget(new QLabel("Number of entries :", this), 2, 0);
    form->addWidget(entries_, 2, 1);
    top->addLayout(form);
    stop_ = new QPushButton("Stop", this);
    stop_->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(stop_);
    buttons->addStretch(1);
    top->addLayout(buttons);
    connect(stop_, &QPushButton::clicked, this, &CDataLoggingInProcMessage::PressStop);
    ModalDialogFrame(*this);
}

void CDataLoggingInProcMessage::Refresh() {
    for (int i = 0; i < kLogSourceCount; ++i)
        slots_[static_cast<size_t>(i)]->setText(
            QString::fromStdString(model_.labels[static_cast<size_t>(i)]));
    interval_->setText(QString::fromStdString(model_.intervalText));
    file_->setText(QString::fromStdString(model_.fileText));
    // Always rich text with the path escaped, so that no file name is taken for markup.
    file_->setToolTip("<p style='white-space:pre'>" + file_->text().toHtmlEscaped() + "</p>");
    file_->setCursorPosition(0);
    entries_->setText(QString::fromStdString(model_.entriesText));
}

void CDataLoggingInProcMessage::Show() {
    Refresh();
    show();
    raise();
}

void CDataLoggingInProcMessage::PressStop() {
    const std::string problem = model_.CheckFields();
    if (problem.empty())
        hide();
    else
        Tell(problem, MessageIcon::Exclamation);
    // The run stops whatever the check said.
    if (onStop) onStop();
}

void CDataLoggingInProcMessage::closeEvent(QCloseEvent* e) {
    e->ignore();
    // The program closing its windows as it ends: the view ends the run itself.
    if (!e->spontaneous()) {
        hide();
        return;
    }
    if (isVisible() && Ask(texts::kCloseLoggingWindow)) PressStop();
}

bool CDataLoggingInProcMessage::Ask(const std::string& text) {
    if (op_) return op_->AskYesNo(text, MessageIcon::Question);
    return ShowMessageBox(this, QString::fromStdString(text), MessageIcon::Question,
                          QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void CDataLoggingInProcMessage::Tell(const std::string& text, MessageIcon icon) {
    if (op_)
        op_->ShowMessage(text, icon);
    else
        ShowMessageBox(this, QString::fromStdString(text), icon);
}

}  // namespace tavrix
