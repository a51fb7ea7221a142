#include "base/DialogFrame.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QEvent>
#include <QFontMetrics>
#include <QLayout>
#include <algorithm>

namespace tavrix {

namespace {
// Widens the dialog when it shows, after its layout has had its say.
class TitleFitter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Show) {
            auto* d = static_cast<QDialog*>(watched);
            // An explicit minimum replaces the layout's own, so it keeps what the layout needs.
            int need = TitleWidth(*d);
            if (d->layout()) need = std::max(need, d->layout()->totalMinimumSize().width());
            if (d->minimumWidth() < need) d->setMinimumWidth(need);
            if (d->width() < need) d->resize(need, d->height());
        }
        return false;
    }
};
}  // namespace

int TitleWidth(const QDialog& dialog) {
    // Title bars commonly use a bold face of the application font; the rest is the icon and
    // the close box with the window manager's margins.
    QFont f = QApplication::font();
    f.setBold(true);
    return QFontMetrics(f).horizontalAdvance(dialog.windowTitle()) + 120;
}

QDialogButtonBox* OkCancelButtons(QDialog& dialog) {
    auto* buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText("OK");
    buttons->button(QDialogButtonBox::Cancel)->setText("Cancel");
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    return buttons;
}

void ModalDialogFrame(QDialog& dialog) {
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint);
    dialog.installEventFilter(new TitleFitter(&dialog));
}

void ProgressDialogFrame(QDialog& dialog) {
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    dialog.installEventFilter(new TitleFitter(&dialog));
}

void ResizableWindowFrame(QDialog& dialog, Qt::WindowType type) {
    dialog.setWindowFlags(type | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                          Qt::WindowCloseButtonHint);
    // The operator's size is kept: only the smallest size allows for the title.
    dialog.setMinimumWidth(std::max(dialog.minimumWidth(), TitleWidth(dialog)));
}

}  // namespace tavrix
