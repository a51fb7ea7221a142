#include "calibration/CCalibPage.h"
#include "base/DialogFrame.h"

#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/CNumeric.h"
#include "calibration/CMNumericEdit.h"
#include "calibration/CalibTexts.h"

namespace tavrix {

namespace ct = calib_texts;

CCapturingDataDiag::CCapturingDataDiag(QWidget* parent) : QDialog(parent) {
    setWindowTitle(ct::kCapturingTitle);
    setModal(false);
    auto* l = new QVBoxLayout(this);
    l->addWidget(new QLabel("Capturing input data from instrument ", this));
    l->addWidget(new QLabel("Wait for the process to complete", this));
    l->addWidget(new QLabel("Press the Abort button to terminate the process", this));
    ProgressDialogFrame(*this);
}

namespace {
QString Latin(const std::string& s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}
QString Number(double v) {
    return Latin(FormatC("%.15g", v));
}
}  // namespace

CCalibPage::CCalibPage(CalibSession& session, int index, QWidget* parent)
    : QWidget(parent), session_(session), index_(index) {
    auto* outer = new QVBoxLayout(this);
    auto* head = new QHBoxLayout;
    title_ = new QLabel(this);
    QFont bold = title_->font();
    bold.setBold(true);
    title_->setFont(bold);
    current_ = new QLabel(this);
    total_ = new QLabel(this);
    head->addWidget(title_, 1);
    head->addWidget(current_);
    head->addWidget(new QLabel("of ", this));
    head->addWidget(total_);
    head->addWidget(new QLabel("Steps", this));
    outer->addLayout(head);

    auto* grid = new QGridLayout;
    upperPrompt_ = new QLabel(this);
    lowerPrompt_ = new QLabel(this);
    upperTarget_ = new CMNumericEdit(this);
    lowerTarget_ = new CMNumericEdit(this);
    capturedUpper_ = new QLabel(this);
    capturedLower_ = new QLabel(this);
    for (QLabel* l : {capturedUpper_, capturedLower_}) {
        l->setFrameShape(QFrame::StyledPanel);
        l->setMinimumWidth(120);
    }
    captureUpper_ = new QPushButton("Capture", this);
    captureLower_ = new QPushButton("Capture", this);
    abortUpper_ = new QPushButton("Abort", this);
    abortLower_ = new QPushButton("Abort", this);
    grid->addWidget(upperPrompt_, 0, 0, 1, 4);
    grid->addWidget(new QLabel("1.", this), 1, 0);
    grid->addWidget(upperTarget_, 1, 1, Qt::AlignLeft);
    grid->addWidget(new QLabel("2.", this), 1, 2);
    grid->addWidget(capturedUpper_, 1, 3);
    grid->addWidget(captureUpper_, 1, 4);
    grid->addWidget(abortUpper_, 1, 5);
    grid->addWidget(lowerPrompt_, 2, 0, 1, 4);
    grid->addWidget(new QLabel("3.", this), 3, 0);
    grid->addWidget(lowerTarget_, 3, 1, Qt::AlignLeft);
    grid->addWidget(new QLabel("4.", this), 3, 2);
    grid->addWidget(capturedLower_, 3, 3);
    grid->addWidget(captureLower_, 3, 4);
    grid->addWidget(abortLower_, 3, 5);
    grid->setColumnStretch(6, 1);
    outer->addLayout(grid);

    auto* results = new QGroupBox("Calibration Reults", this);
    auto* rl = new QGridLayout(results);
    gain_ = new CMNumericEdit(results);
    offset_ = new CMNumericEdit(results);
    status_ = new QLabel(results);
    calibrate_ = new QPushButton("Calibrate", results);
    rl->addWidget(new QLabel("Gain:", results), 0, 0);
    rl->addWidget(gain_, 0, 1, Qt::AlignLeft);
    rl->addWidget(new QLabel("Offset:", results), 1, 0);
    rl->addWidget(offset_, 1, 1, Qt::AlignLeft);
    rl->addWidget(new QLabel("Status:", results), 2, 0);
    rl->addWidget(status_, 2, 1);
    rl->addWidget(calibrate_, 0, 2, 3, 1);
    rl->setColumnStretch(3, 1);
    outer->addWidget(results);
    outer->addStretch(1);

    for (CMNumericEdit* e : {upperTarget_, lowerTarget_, gain_, offset_}) {
        e->installEventFilter(this);
        e->setMaximumWidth(e->fontMetrics().horizontalAdvance(QString(18, '0')));
    }
    connect(captureUpper_, &QPushButton::clicked, this,
            [this] { session_.StartCapture(index_, kCapturingUpper); });
    connect(captureLower_, &QPushButton::clicked, this,
            [this] { session_.StartCapture(index_, kCapturingLower); });
    connect(abortUpper_, &QPushButton::clicked, this, [this] { session_.AbortCapture(index_); });
    connect(abortLower_, &QPushButton::clicked, this, [this] { session_.AbortCapture(index_); });
    connect(calibrate_, &QPushButton::clicked, this,
            [this] { session_.ComputeGainOffset(index_); });

    capturing_ = new CCapturingDataDiag(this);
    Refresh();
}

QWidget* CCalibPage::Control(int id) const {
    switch (id) {
        case 1196:
            return title_;
        case 1199:
            return upperPrompt_;
        case 1200:
            return captureUpper_;
        case 1201:
            return captureLower_;
        case 1202:
            return lowerPrompt_;
        case 1205:
            return lowerTarget_;
        case 1206:
            return upperTarget_;
        case 1207:
            return current_;
        case 1209:
            return total_;
        case 1211:
            return capturedUpper_;
        case 1212:
            return capturedLower_;
        case 1214:
            return gain_;
        case 1215:
            return offset_;
        case 1216:
            return status_;
        case 1220:
            return calibrate_;
        case 1226:
            return abortUpper_;
        case 1227:
            return abortLower_;
        default:
            return nullptr;
    }
}

void CCalibPage::Refresh() {
    const CalibPage& p = session_.Page(index_);
    title_->setText(Latin(p.title));
    current_->setText(Latin(p.currentStepText));
    total_->setText(Latin(p.totalStepsText));
    upperPrompt_->setText(Latin(p.upperPrompt));
    lowerPrompt_->setText(Latin(p.lowerPrompt));
    upperTarget_->setText(Number(p.upperTarget));
    lowerTarget_->setText(Number(p.lowerTarget));
    capturedUpper_->setText(Latin(p.capturedUpperText));
    capturedLower_->setText(Latin(p.capturedLowerText));
    // A value the range never had from the instrument or the operator shows as an empty field.
    gain_->setText(p.hasGain ? Latin(FormatC("%5.7f", p.gain)) : QString());
    offset_->setText(p.hasOffset ? Latin(FormatC("%5.7f", p.offset)) : QString());
    status_->setText(p.StatusText());
    captureUpper_->setEnabled(p.upperCaptureEnabled);
    captureLower_->setEnabled(p.lowerCaptureEnabled);
    abortUpper_->setEnabled(p.upperAbortEnabled);
    abortLower_->setEnabled(p.lowerAbortEnabled);
    calibrate_->setEnabled(p.calibrateEnabled);
    lowerTarget_->setEnabled(p.lowerTargetEnabled);
    if (p.capturingDialogShown && !capturing_->isVisible()) {
        capturing_->show();
    } else if (!p.capturingDialogShown && capturing_->isVisible()) {
        capturing_->hide();
    }
}

bool CCalibPage::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut && !leaving_) {
        if (auto* edit = qobject_cast<CMNumericEdit*>(watched)) Leave(edit);
    }
    return QWidget::eventFilter(watched, event);
}

void CCalibPage::Leave(CMNumericEdit* edit) {
    // A refusal shows a message box, which takes the focus again: handle one leave at a time.
    leaving_ = true;
    const std::string text = edit->text().toStdString();
    bool ok = true;
    if (edit == upperTarget_)
        ok = session_.LeaveUpperTarget(index_, text);
    else if (edit == lowerTarget_)
        ok = session_.LeaveLowerTarget(index_, text);
    else if (edit == gain_)
        ok = session_.LeaveGain(index_, text);
    else if (edit == offset_)
        ok = session_.LeaveOffset(index_, text);
    Refresh();
    if (!ok) edit->setFocus();
    leaving_ = false;
}

}  // namespace tavrix
