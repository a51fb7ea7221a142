#include "curves/CTfrDlg.h"
#include "base/DialogFrame.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>

namespace tavrix {

CTfrDlg::CTfrDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Download/Upload Message");
    setModal(false);
    message_ = new QLabel("Transferring data. Please wait.....", this);
    message_->setTextFormat(Qt::PlainText);
    message_->setMinimumWidth(message_->fontMetrics().averageCharWidth() * 72);
    bar_ = new QProgressBar(this);
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->setTextVisible(false);
    auto* grid = new QGridLayout(this);
    grid->addWidget(message_, 0, 0, 1, 3);
    grid->addWidget(bar_, 1, 0, 1, 3);
    grid->addWidget(new QLabel("0%", this), 2, 0, Qt::AlignLeft);
    grid->addWidget(new QLabel("100%", this), 2, 2, Qt::AlignRight);
    grid->setColumnStretch(1, 1);
    ProgressDialogFrame(*this);
}

void CTfrDlg::SetMessage(const std::string& text) {
    if (text.empty()) return;
    message_->setText(QString::fromStdString(text.substr(0, kMessageMax)));
    Paint();
}

void CTfrDlg::SetRange(int low, int high) {
    bar_->setRange(low, high);
}

void CTfrDlg::SetPos(int pos) {
    bar_->setValue(pos);
    Paint();
}

void CTfrDlg::Open() {
    adjustSize();
    QRect area = parentWidget() ? parentWidget()->window()->frameGeometry()
                                : QGuiApplication::primaryScreen()->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
    show();
    raise();
    Paint();
}

void CTfrDlg::Finish() {
    finishing_ = true;
    close();
}

void CTfrDlg::closeEvent(QCloseEvent* e) {
    if (finishing_)
        QDialog::closeEvent(e);
    else
        e->ignore();
}

void CTfrDlg::reject() {
    if (finishing_) QDialog::reject();
}

QString CTfrDlg::MessageText() const {
    return message_->text();
}
int CTfrDlg::Pos() const {
    return bar_->value();
}

void CTfrDlg::Paint() {
    // The transfer runs on the GUI thread: let the window paint between lines.
    if (isVisible()) QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace tavrix
