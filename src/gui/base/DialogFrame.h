#pragma once

#include <Qt>

class QDialog;
class QDialogButtonBox;

namespace tavrix {

// The frame of a dialog: title and close box only (no minimise or maximise button), and wide
// enough that the whole title shows. Call at the end of the dialog's constructor. Without these
// hints a window manager gives every window minimise and maximise buttons.
void ModalDialogFrame(QDialog& dialog);

// A window that only its own buttons end (a transfer, a capture): a title, no close box, no
// minimise or maximise button; wide enough for its title.
void ProgressDialogFrame(QDialog& dialog);

// A floating window the operator sizes (monitor, terminal): title, maximise and close box, no
// minimise button (it floats over the main window and goes with it). `type` is Qt::Dialog or
// Qt::Window.
void ResizableWindowFrame(QDialog& dialog, Qt::WindowType type = Qt::Dialog);

// "OK" and "Cancel" buttons that accept and reject `dialog`.
QDialogButtonBox* OkCancelButtons(QDialog& dialog);

// The width a window needs for its whole title to show in the title bar (text plus room for
// the window manager's icon and buttons).
int TitleWidth(const QDialog& dialog);

}  // namespace tavrix
