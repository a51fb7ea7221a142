#pragma once

#include <QDialog>

#include "serve/ShareSettings.h"

class QCheckBox;
class QLineEdit;
class QSpinBox;

namespace tavrix {

// "Share Instrument": the sharing port's and the metrics endpoint's settings.
class CShareDlg : public QDialog {
    Q_OBJECT
public:
    explicit CShareDlg(const ShareSettings& preset, QWidget* parent = nullptr);
    ShareSettings Settings() const;

    QCheckBox* Enabled() const { return enabled_; }
    QLineEdit* Listen() const { return listen_; }
    QLineEdit* Allow() const { return allow_; }
    QCheckBox* ReadOnly() const { return readOnly_; }
    QSpinBox* MaxClients() const { return maxClients_; }
    QLineEdit* Audit() const { return audit_; }
    QLineEdit* Metrics() const { return metrics_; }

private:
    QCheckBox* enabled_;
    QLineEdit* listen_;
    QLineEdit* allow_;
    QCheckBox* readOnly_;
    QSpinBox* maxClients_;
    QLineEdit* audit_;
    QLineEdit* metrics_;
};

}  // namespace tavrix
