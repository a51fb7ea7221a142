#include "calibration/CCalibDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "calibration/CCalibPage.h"
#include "calibration/CalibPassword.h"
#include "calibration/CalibTexts.h"

namespace tavrix {

namespace ct = calib_texts;

CCalibStepSheet::CCalibStepSheet(CalibSession& session, QWidget* parent) : QTabWidget(parent) {
    setWindowTitle(ct::kSheetTitle);
    for (int s = 0; s < session.StepCount(); ++s) {
        auto* page = new CCalibPage(session, s, this);
        pages_.push_back(page);
        addTab(page, QString::fromLatin1(session.Step(s).tabName));
    }
}

CCalibDlg::CCalibDlg(CalibSession& session, CalibrationDialogs& dialogs, OperatorInterface& op,
                     QWidget* parent)
    : QDialog(parent), session_(session), dialogs_(dialogs), op_(op) {
    setWindowTitle(ct::kDialogTitle);
    session_.Open(*this);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel("Channel:", this));
    channels_ = new QComboBox(this);
    for (const std::string& name : session_.ChannelNames())
        channels_->addItem(QString::fromStdString(name));
    channels_->setCurrentIndex(0);
    top->addWidget(channels_);
    top->addStretch(1);
    apply_ = new QPushButton("APPLY", this);
    apply_->setDefault(true);
    change_ = new QPushButton("Change  \n Password", this);
    cancel_ = new QPushButton("Cancel", this);
    top->addWidget(apply_);
    top->addWidget(change_);
    top->addWidget(cancel_);

    sheet_ = new CCalibStepSheet(session_, this);
    auto* l = new QVBoxLayout(this);
    l->addLayout(top);
    l->addWidget(sheet_, 1);

    session_.pageChanged = [this](int page) { OnPageChanged(page); };
    connect(channels_, &QComboBox::currentIndexChanged, this,
            [this](int c) { session_.SelectChannel(c); });
    connect(sheet_, &QTabWidget::currentChanged, this, [this](int i) {
        if (activated_) session_.ActivatePage(i);
    });
    connect(apply_, &QPushButton::clicked, this, [this] {
        apply_->setFocus();  // the focused field is read first
        session_.ApplyCalibration();
    });
    connect(change_, &QPushButton::clicked, this,
            [this] { ChangeCalibrationPassword(dialogs_, session_.Exchange().transact, op_); });
    connect(cancel_, &QPushButton::clicked, this, &CCalibDlg::reject);
}

CCalibDlg::~CCalibDlg() {
    session_.Close();
    session_.pageChanged = nullptr;
    if (waitCursor_) QApplication::restoreOverrideCursor();
}

QPushButton* CCalibDlg::Button(int id) const {
    switch (id) {
        case 1:
            return apply_;
        case 2:
            return cancel_;
        case 1222:
            return change_;
        default:
            return nullptr;
    }
}

void CCalibDlg::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (activated_) return;
    activated_ = true;
    // The first page becomes the active one once the dialog is up.
    QTimer::singleShot(0, this, [this] { session_.ActivatePage(sheet_->currentIndex()); });
}

void CCalibDlg::OnPageChanged(int page) {
    if (page >= 0 && page < sheet_->PageCount()) sheet_->Page(page)->Refresh();
    bool wait = false;
    for (int s = 0; s < session_.StepCount(); ++s) wait = wait || session_.Page(s).waitCursor;
    if (wait != waitCursor_) {
        waitCursor_ = wait;
        if (wait)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
    }
}

bool CCalibDlg::Start(int page, int timerId, int intervalMs) {
    QTimer*& t = timers_[{page, timerId}];
    if (!t) {
        t = new QTimer(this);
        connect(t, &QTimer::timeout, this,
                [this, page, timerId] { session_.OnTimer(page, timerId); });
    }
    t->start(intervalMs);
    return t->isActive();
}

void CCalibDlg::Stop(int page, int timerId) {
    auto it = timers_.find({page, timerId});
    if (it != timers_.end() && it->second) it->second->stop();
}

void CCalibDlg::reject() {
    if (!session_.ConfirmQuit()) return;
    session_.Close();
    QDialog::reject();
}

}  // namespace tavrix
