#pragma once

#include <QStringList>

#include "base/FileFolders.h"
#include "base/OperatorInterface.h"

class QFileDialog;

namespace tavrix {

// The request's "label|patterns|..||" filter as Qt name filters. Each entry keeps its label as
// the text shown and gets its patterns appended in parentheses, where Qt reads them (the
// dialog hides that part); "*.*" means every file, as it does for the operator.
QStringList QtNameFilters(const FileDialogRequest& request);

// Sets up an open (`save` false) or save dialog as the request asks: filters, default
// extension, overwrite prompt, existing files only, the starting name, and the folder last
// used for the request's kind of file.
void ConfigureFileDialog(QFileDialog& dialog, const FileDialogRequest& request, bool save);

// The running program's folders per kind of file (set by the view; without them every dialog
// starts in the current folder). The view clears them before they go.
void SetFileFolders(FileFolders* folders);
// `fileName` in the folder last used for `kind`, or `fileName` alone.
QString StartPath(FileKind kind, const QString& fileName = {});
// The operator chose `path` for `kind`: its folder is where the next such dialog starts.
void RememberChosenFile(FileKind kind, const QString& path);

}  // namespace tavrix
