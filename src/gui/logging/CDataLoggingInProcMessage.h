#pragma once

#include <QDialog>
#include <array>

#include "logging/LoggingDialogs.h"

class QLineEdit;
class QPushButton;

namespace tavrix {

// The window shown while data logging runs: what is logged, where, at which interval and how
// many entries so far; its Stop button ends the run. Created hidden with the view.
class CDataLoggingInProcMessage : public QDialog, public LoggingProgressWindow {
    Q_OBJECT
public:
    // Messages go to `op` when one is given (tests), else to a message box.
    void SetMessageTarget(OperatorInterface* op) { op_ = op; }
    explicit CDataLoggingInProcMessage(QWidget* parent = nullptr);

    LoggingProgressModel& Model() override { return model_; }
    void Show() override;
    void Refresh() override;
    void PressStop() override;

    QLineEdit* Slot(int i) const { return slots_[static_cast<size_t>(i)]; }
    QLineEdit* IntervalField() const { return interval_; }
    QLineEdit* FileField() const { return file_; }
    QLineEdit* EntriesField() const { return entries_; }
    QPushButton* StopButton() const { return stop_; }

public slots:
    void accept() override { PressStop(); }
    // Esc does nothing: a run planned for days ends only with Stop.
    void reject() override {}

protected:
    // The close box asks first, and stops the run only on Yes.
    void closeEvent(QCloseEvent* e) override;

private:
    void Tell(const std::string& text, MessageIcon icon);
    bool Ask(const std::string& text);
    OperatorInterface* op_ = nullptr;
    LoggingProgressModel model_;
    std::array<QLineEdit*, kLogSourceCount> slots_{};
    QLineEdit* interval_;
    QLineEdit* file_;
    QLineEdit* entries_;
    QPushButton* stop_;
};

}  // namespace tavrix
