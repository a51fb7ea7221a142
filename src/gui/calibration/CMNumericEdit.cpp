#include "calibration/CMNumericEdit.h"

#include <QApplication>
#include <QKeyEvent>
#include <cstdlib>

namespace tavrix {

CMNumericEdit::CMNumericEdit(QWidget* parent) : QLineEdit(parent) {}

QString CMNumericEdit::Stepped(const QString& text, int direction) {
    const QByteArray bytes = text.toLatin1();
    const long value = std::strtol(bytes.constData(), nullptr, 10);
    if (direction > 0 && value < 65536) return QString::number(value + 1);
    if (direction < 0 && value >= -65535) return QString::number(value - 1);
    return text;
}

void CMNumericEdit::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
        case Qt::Key_Up:
            setText(Stepped(text(), +1));
            return;
        case Qt::Key_Down:
            setText(Stepped(text(), -1));
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return;
        case Qt::Key_Backspace:
            QLineEdit::keyPressEvent(e);
            return;
        default:
            break;
    }
    const QString t = e->text();
    if (t.isEmpty() || (e->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        // Moving keys, Delete and the editing shortcuts.
        QLineEdit::keyPressEvent(e);
        return;
    }
    for (QChar c : t) {
        if (!(c.isDigit() && c.unicode() < 128) && c != '-' && c != '.') {
            QApplication::beep();
            return;
        }
    }
    QLineEdit::keyPressEvent(e);
}

}  // namespace tavrix
