#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "logging/DataLoggingEngine.h"
#include "logging/LoggingDialogs.h"

class QTimer;

namespace tavrix {

// The logging setup dialog behind the engine.
class QtLoggingDialogs : public LoggingDialogs {
public:
    QtLoggingDialogs(QWidget* parent, OperatorInterface* messages)
        : parent_(parent), messages_(messages) {}
    DialogResult<DataLogSetupModel> AskLogSetup(const DataLogSetupModel& preset) override;

private:
    QPointer<QWidget> parent_;
    OperatorInterface* messages_;
};

// Timer 100 of the view on a QTimer of the GUI thread.
class QtLogTimer : public LogTimer {
public:
    QtLogTimer(QObject* owner, std::function<void()> onTick);
    int SetTimer(int id, int periodMs) override;
    void KillTimer(int id) override;
    QTimer* Timer() const { return timer_; }

private:
    QTimer* timer_;
};

}  // namespace tavrix
