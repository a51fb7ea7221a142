#pragma once

#include <QObject>
#include <functional>

#include "logging/DataLoggingEngine.h"

class QTimer;

namespace tavrix {

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
