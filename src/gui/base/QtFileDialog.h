#pragma once

#include <QStringList>

#include "base/OperatorInterface.h"

class QFileDialog;

namespace tavrix {

// The request's "label|patterns|..||" filter as Qt name filters. Each entry keeps its label as
// the text shown and gets its patterns appended in parentheses, where Qt reads them (the
// dialog hides that part); "*.*" means every file, as it does for the operator.
QStringList QtNameFilters(const FileDialogRequest& request);

// Sets up an open (`save` false) or save dialog as the request asks: filters, default
// extension, overwrite prompt, existing files only, the starting name.
void ConfigureFileDialog(QFileDialog& dialog, const FileDialogRequest& request, bool save);

}  // namespace tavrix
