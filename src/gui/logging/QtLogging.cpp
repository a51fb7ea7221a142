#include "logging/QtLogging.h"

#include <QTimer>

namespace tavrix {

QtLogTimer::QtLogTimer(QObject* owner, std::function<void()> onTick) : timer_(new QTimer(owner)) {
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_, &QTimer::timeout, owner, std::move(onTick));
}

int QtLogTimer::SetTimer(int id, int periodMs) {
    if (periodMs <= 0) return 0;
    timer_->start(periodMs);
    return id;
}

void QtLogTimer::KillTimer(int) {
    timer_->stop();
}

}  // namespace tavrix
