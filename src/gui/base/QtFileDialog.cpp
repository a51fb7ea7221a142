#include "base/QtFileDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QTreeView>
#include <algorithm>

namespace tavrix {

namespace {
constexpr int kFileDialogWidth = 940;
constexpr int kFileDialogHeight = 480;

FileFolders*& Folders() {
    static FileFolders* folders = nullptr;
    return folders;
}
}  // namespace

void SetFileFolders(FileFolders* folders) {
    Folders() = folders;
}

QString StartPath(FileKind kind, const QString& fileName) {
    const std::string folder = Folders() ? Folders()->StartFolder(kind) : std::string();
    if (folder.empty()) return fileName;
    const QString dir = QString::fromLocal8Bit(folder.c_str());
    return fileName.isEmpty() ? dir : dir + "/" + fileName;
}

void RememberChosenFile(FileKind kind, const QString& path) {
    if (Folders() && !path.isEmpty()) Folders()->Remember(kind, path.toLocal8Bit().toStdString());
}

QStringList QtNameFilters(const FileDialogRequest& request) {
    QStringList filters;
    for (const auto& entry : request.FilterEntries()) {
        QStringList patterns;
        for (const std::string& p : entry.patterns)
            patterns << (p == "*.*" ? QString("*") : QString::fromStdString(p));
        if (patterns.isEmpty()) patterns << "*";
        filters << QString::fromStdString(entry.label).trimmed() + " (" + patterns.join(' ') + ")";
    }
    if (filters.isEmpty()) filters << "(*)";
    return filters;
}

void ConfigureFileDialog(QFileDialog& dialog, const FileDialogRequest& request, bool save) {
    // Qt's own dialog on every desktop: it shows the labels exactly as given.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(!save && (request.options & kFileMustExist) ? QFileDialog::ExistingFile
                                                                   : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite,
                     !(save && (request.options & kOverwritePrompt)));
    dialog.setNameFilters(QtNameFilters(request));
    // A leading "." is dropped by Qt, so "crv" and ".340" both work.
    dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
    // Each kind on its own: without a folder of its own, the current folder, not the one the
    // last dialog of another kind was left in.
    const QString folder = StartPath(FileKindOf(request));
    dialog.setDirectory(folder.isEmpty() ? QDir::currentPath() : folder);
    if (!request.initialName.empty())
        dialog.selectFile(QString::fromStdString(request.initialName));
    // Wide enough that name, size, type and date can all be read.
    dialog.setViewMode(QFileDialog::Detail);
    dialog.resize(std::max(dialog.width(), kFileDialogWidth),
                  std::max(dialog.height(), kFileDialogHeight));
    if (auto* tree = dialog.findChild<QTreeView*>("treeView")) {
        const int unit = tree->fontMetrics().averageCharWidth();
        QHeaderView* h = tree->header();
        h->resizeSection(0, unit * 36);  // name
        h->resizeSection(1, unit * 12);  // size
        h->resizeSection(2, unit * 22);  // type
        h->resizeSection(3, unit * 28);  // date modified
    }
}

}  // namespace tavrix
