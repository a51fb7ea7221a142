#pragma once

#include <QDialog>
#include <array>

#include "logging/LoggingDialogs.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace tavrix {

// The data logging setup dialog: the sixteen sources, "Select All", the interval and Start.
// Its rules are DataLogSetupModel's; the dialog binds them to its controls.
class CDataLogSetup : public QDialog {
    Q_OBJECT
public:
    // Messages go to `op` when one is given (tests), else to a message box.
    void SetMessageTarget(OperatorInterface* op) { op_ = op; }
    explicit CDataLogSetup(const DataLogSetupModel& preset, QWidget* parent = nullptr);
    const DataLogSetupModel& Model() const { return model_; }

    QCheckBox* Box(int sourceIndex) const { return boxes_[static_cast<size_t>(sourceIndex)]; }
    QPushButton* SelectAllButton() const { return selectAll_; }
    QPushButton* ApplyButton() const { return apply_; }
    QPushButton* StartButton() const { return start_; }
    QPushButton* CancelButton() const { return cancel_; }
    QLineEdit* IntervalEdit() const { return interval_; }

public slots:
    void accept() override;

private:
    void Tell(const std::string& text, MessageIcon icon);
    OperatorInterface* op_ = nullptr;
    bool TakeInterval(const std::string& message);

    DataLogSetupModel model_;
    std::array<QCheckBox*, kLogSourceCount> boxes_{};
    QPushButton* selectAll_;
    QPushButton* apply_;
    QPushButton* start_;
    QPushButton* cancel_;
    QLineEdit* interval_;
};

}  // namespace tavrix
