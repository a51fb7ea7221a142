#pragma once

class QDialog;

namespace tavrix {

// The frame of a modal dialog: title and close box only (no minimise or maximise button), and
// wide enough that the whole title shows. Call at the end of the dialog's constructor.
void ModalDialogFrame(QDialog& dialog);

// The width a window needs for its whole title to show in the title bar (text plus room for
// the window manager's icon and buttons).
int TitleWidth(const QDialog& dialog);

}  // namespace tavrix
