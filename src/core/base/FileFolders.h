#pragma once

#include <string>

#include "base/FileDialogRequest.h"
#include "base/SettingsStore.h"

namespace tavrix {

// The kinds of file the program asks for, each remembered in a folder of its own.
enum class FileKind { Curves, PidTables, Logs, Images, CommandFiles, Other };

// The kind a file dialog asks for, by its default extension: curves (.crv, .340), PID tables
// (.pid), logs (.csv data logs and uploads, .txt message logs), images (.png, .svg), command
// files (.xml).
FileKind FileKindOf(const FileDialogRequest& request);
FileKind FileKindOfExtension(std::string extension);

// The folder each kind of file was last chosen in, kept in the settings ("FOLDERS"), so that a
// file dialog starts where the operator last was for that kind of file.
class FileFolders {
public:
    explicit FileFolders(SettingsStore& settings) : settings_(settings) {}

    // The folder to start in: the last one used for `kind` while it still exists, else "".
    std::string StartFolder(FileKind kind) const;
    // Keeps the folder of `chosenPath` for `kind`. Nothing for FileKind::Other.
    void Remember(FileKind kind, const std::string& chosenPath);

    static const char* KeyOf(FileKind kind);

private:
    SettingsStore& settings_;
};

}  // namespace tavrix
