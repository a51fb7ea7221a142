#include "link/CShareDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "base/DialogFrame.h"

namespace tavrix {

CShareDlg::CShareDlg(const ShareSettings& preset, QWidget* parent) : QDialog(parent) {
    setWindowTitle("Share Instrument");
    enabled_ = new QCheckBox("&Share the instrument now and whenever the program starts", this);
    enabled_->setObjectName("shareEnabled");
    enabled_->setChecked(preset.enabled);
    listen_ = new QLineEdit(QString::fromStdString(preset.listen), this);
    listen_->setObjectName("shareListen");
    listen_->setPlaceholderText("127.0.0.1:5025");
    allow_ = new QLineEdit(QString::fromStdString(preset.allow), this);
    allow_->setObjectName("shareAllow");
    allow_->setPlaceholderText("e.g. 192.168.1.0/24, 10.0.0.5");
    readOnly_ = new QCheckBox("&Read only: relay lines that only ask", this);
    readOnly_->setObjectName("shareReadOnly");
    readOnly_->setChecked(preset.readOnly);
    maxClients_ = new QSpinBox(this);
    maxClients_->setObjectName("shareMaxClients");
    maxClients_->setRange(1, 64);
    maxClients_->setValue(preset.maxClients);
    audit_ = new QLineEdit(QString::fromStdString(preset.audit), this);
    audit_->setObjectName("shareAudit");
    audit_->setPlaceholderText("none");
    auto* browse = new QPushButton("&Browse...", this);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getSaveFileName(
            this, "Audit File", audit_->text(), "Text Files (*.txt *.log);;All Files (*)", nullptr,
            QFileDialog::DontConfirmOverwrite);  // the audit file is appended to
        if (!file.isEmpty()) audit_->setText(file);
    });
    auto* auditRow = new QHBoxLayout;
    auditRow->addWidget(audit_, 1);
    auditRow->addWidget(browse);
    metrics_ = new QLineEdit(QString::fromStdString(preset.metrics), this);
    metrics_->setObjectName("shareMetrics");
    metrics_->setPlaceholderText("off, or [ADDR:]PORT such as 9101");

    auto* form = new QFormLayout;
    form->addRow("&Listen on (ADDR:PORT):", listen_);
    form->addRow("&Allowed client networks:", allow_);
    form->addRow("&Most clients at once:", maxClients_);
    auto* auditLabel = new QLabel("A&udit file:", this);
    auditLabel->setBuddy(audit_);
    form->addRow(auditLabel, auditRow);
    form->addRow("Metrics &endpoint:", metrics_);

    auto* note = new QLabel(
        "Clients on other machines need an address other than 127.0.0.1 and their network in "
        "the allowed list. Calibration and its password are never reachable through the "
        "share.\nThe metrics endpoint serves http://ADDR:PORT/metrics for a monitoring system; "
        "it serves what logging and the monitors read.",
        this);
    note->setWordWrap(true);

    QDialogButtonBox* buttons = OkCancelButtons(*this);

    auto* top = new QVBoxLayout(this);
    top->addWidget(enabled_);
    top->addLayout(form);
    top->addWidget(readOnly_);
    top->addWidget(note);
    top->addWidget(buttons);
    setMinimumWidth(460);
    ModalDialogFrame(*this);
    enabled_->setFocus(Qt::OtherFocusReason);
}

ShareSettings CShareDlg::Settings() const {
    ShareSettings s;
    s.enabled = enabled_->isChecked();
    s.listen = listen_->text().trimmed().toStdString();
    s.allow = allow_->text().trimmed().toStdString();
    s.readOnly = readOnly_->isChecked();
    s.maxClients = maxClients_->value();
    s.audit = audit_->text().trimmed().toStdString();
    s.metrics = metrics_->text().trimmed().toStdString();
    return s;
}

}  // namespace tavrix
