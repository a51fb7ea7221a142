#pragma once

#include <QMessageBox>
#include <QString>

#include "base/OperatorInterface.h"

namespace tavrix {

// Title of every message box of the program.
inline constexpr const char* kAppTitle = "Tavrix Utility Software";

QMessageBox::Icon ToQtIcon(MessageIcon icon);

// A modal message box with the program's title; returns the button pressed.
QMessageBox::StandardButton ShowMessageBox(QWidget* parent, const QString& text, MessageIcon icon,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok);

}  // namespace tavrix
