#include "base/MessageBoxes.h"

namespace tavrix {

QMessageBox::Icon ToQtIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Stop:
            return QMessageBox::Critical;
        case MessageIcon::Exclamation:
            return QMessageBox::Warning;
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::Question:
            return QMessageBox::Question;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButton ShowMessageBox(QWidget* parent, const QString& text, MessageIcon icon,
                                           QMessageBox::StandardButtons buttons) {
    QMessageBox box(ToQtIcon(icon), QString::fromLatin1(kAppTitle), text, buttons, parent);
    box.setObjectName("tavrixMessageBox");
    // Messages carry file names and instrument replies: never interpreted as markup.
    box.setTextFormat(Qt::PlainText);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace tavrix
