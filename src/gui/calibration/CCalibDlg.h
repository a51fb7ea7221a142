#pragma once

#include <QDialog>
#include <QTabWidget>
#include <map>
#include <utility>
#include <vector>

#include "calibration/CalibSession.h"
#include "calibration/CalibrationDialogs.h"

class QComboBox;
class QPushButton;
class QTimer;

namespace tavrix {

class CCalibPage;

// The property sheet "Calibration": one page per step, each tab named after its step.
class CCalibStepSheet : public QTabWidget {
    Q_OBJECT
public:
    CCalibStepSheet(CalibSession& session, QWidget* parent = nullptr);
    CCalibPage* Page(int i) const { return pages_[static_cast<size_t>(i)]; }
    int PageCount() const { return static_cast<int>(pages_.size()); }

private:
    std::vector<CCalibPage*> pages_;
};

// "Instrument Calibration": the channel list, the sheet, "APPLY", "Change  \n Password" and
// "Cancel". The session holds every rule; this window binds it and owns the capture timers.
class CCalibDlg : public QDialog, public CaptureTimers {
    Q_OBJECT
public:
    CCalibDlg(CalibSession& session, CalibrationDialogs& dialogs, OperatorInterface& op,
              QWidget* parent = nullptr);
    ~CCalibDlg() override;

    CCalibStepSheet* Sheet() const { return sheet_; }
    QComboBox* ChannelList() const { return channels_; }
    QPushButton* Button(int id) const;  // 1 APPLY, 2 Cancel, 1222 Change Password

    // CaptureTimers
    bool Start(int page, int timerId, int intervalMs) override;
    void Stop(int page, int timerId) override;

    void reject() override;

protected:
    void showEvent(QShowEvent* e) override;

private:
    void OnPageChanged(int page);

    CalibSession& session_;
    CalibrationDialogs& dialogs_;
    OperatorInterface& op_;
    QComboBox* channels_;
    CCalibStepSheet* sheet_;
    QPushButton *apply_, *change_, *cancel_;
    std::map<std::pair<int, int>, QTimer*> timers_;
    bool waitCursor_ = false;
    bool activated_ = false;
};

}  // namespace tavrix
