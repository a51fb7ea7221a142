#pragma once

#include <QMargins>
#include <QRect>

class QWidget;

namespace tavrix {

// A floating window's place as the settings keep it: its outer frame on the screen (title bar
// and borders included). Stored and restored as the same rectangle, so a window closed and
// reopened any number of times, or across runs, stays where it was put.
QRect ScreenRectOf(const QWidget& w);

// Puts `w`'s outer frame at `r` (for a window of fixed size, only its top-left). Until the
// window manager has framed the window the frame's size is not known: the margins of a framed
// window of this program stand in for it, and the first show puts the frame exactly at `r`.
void PlaceAtScreenRect(QWidget& w, const QRect& r);

// The frame margins of `w` once the window manager has framed it, else those last seen on any
// window of this program (none on a platform without frames).
QMargins FrameMarginsOf(const QWidget& w);

}  // namespace tavrix
