#include "base/ScreenRect.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace tavrix {

namespace {

QMargins& LastSeenMargins() {
    static QMargins margins;
    return margins;
}

// The frame around the client area, when the window manager has put one there.
bool Framed(const QWidget& w, QMargins* margins) {
    if (!w.isWindow() || !w.windowHandle() || !w.isVisible()) return false;
    const QMargins m = w.windowHandle()->frameMargins();
    if (m.isNull()) return false;
    if (margins) *margins = m;
    LastSeenMargins() = m;
    return true;
}

bool FixedSize(const QWidget& w) {
    return w.minimumSize() == w.maximumSize();
}

QRect ClientRect(const QWidget& w, const QRect& frame, const QMargins& m) {
    if (FixedSize(w)) return QRect(frame.topLeft() + QPoint(m.left(), m.top()), w.size());
    return frame.marginsRemoved(m);
}

// Once the window shows and has its frame, moves it so that the frame is where it was asked
// to be. Gives up quietly where windows get no frame (the offscreen platform).
class FrameFixer : public QObject {
public:
    FrameFixer(QWidget& w, const QRect& frame) : QObject(&w), w_(&w), frame_(frame) {
        setObjectName("tavrixFrameFixer");
        w.installEventFilter(this);
        timer_.setInterval(15);
        connect(&timer_, &QTimer::timeout, this, &FrameFixer::Check);
    }

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Show && !timer_.isActive()) {
            clock_.start();
            timer_.start();
        }
        return false;
    }

private:
    void Check() {
        QMargins m;
        if (!w_ || Framed(*w_, &m)) {
            if (w_) {
                const QRect want = ClientRect(*w_, frame_, m);
                if (w_->geometry() != want) w_->setGeometry(want);
            }
            deleteLater();
            timer_.stop();
        } else if (clock_.elapsed() > 3000) {
            deleteLater();
            timer_.stop();
        }
    }

    QPointer<QWidget> w_;
    QRect frame_;
    QTimer timer_;
    QElapsedTimer clock_;
};

}  // namespace

QMargins FrameMarginsOf(const QWidget& w) {
    QMargins m;
    if (Framed(w, &m)) return m;
    return LastSeenMargins();
}

QRect ScreenRectOf(const QWidget& w) {
    QMargins m;
    Framed(w, &m);  // keeps the margins for windows not framed yet
    return w.frameGeometry();
}

void PlaceAtScreenRect(QWidget& w, const QRect& r) {
    if (auto* old = w.findChild<QObject*>("tavrixFrameFixer", Qt::FindDirectChildrenOnly))
        delete old;
    QMargins m;
    const bool framed = Framed(w, &m);
    if (!framed) m = LastSeenMargins();
    w.setGeometry(ClientRect(w, r, m));
    if (!framed) new FrameFixer(w, r);
}

}  // namespace tavrix
