#include "base/FileFolders.h"

#include <sys/stat.h>
#include <algorithm>
#include <cctype>

namespace tavrix {

FileKind FileKindOfExtension(std::string e) {
    if (!e.empty() && e[0] == '.') e.erase(0, 1);
    std::transform(e.begin(), e.end(), e.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (e == "crv" || e == "340") return FileKind::Curves;
    if (e == "pid") return FileKind::PidTables;
    if (e == "csv" || e == "txt") return FileKind::Logs;
    if (e == "png" || e == "svg") return FileKind::Images;
    if (e == "xml") return FileKind::CommandFiles;
    return FileKind::Other;
}

FileKind FileKindOf(const FileDialogRequest& request) {
    return FileKindOfExtension(request.defaultExtension);
}

const char* FileFolders::KeyOf(FileKind kind) {
    switch (kind) {
        case FileKind::Curves:
            return "CURVES";
        case FileKind::PidTables:
            return "PIDTABLES";
        case FileKind::Logs:
            return "LOGS";
        case FileKind::Images:
            return "IMAGES";
        case FileKind::CommandFiles:
            return "COMMANDFILES";
        case FileKind::Other:
            break;
    }
    return nullptr;
}

std::string FileFolders::StartFolder(FileKind kind) const {
    const char* key = KeyOf(kind);
    if (!key) return {};
    const std::string folder = settings_.GetString(settings::kFolders, key, "");
    struct stat st {};
    if (folder.empty() || stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
    return folder;
}

void FileFolders::Remember(FileKind kind, const std::string& chosenPath) {
    const char* key = KeyOf(kind);
    const size_t slash = chosenPath.rfind('/');
    if (!key || slash == std::string::npos) return;
    const std::string folder = slash == 0 ? "/" : chosenPath.substr(0, slash);
    if (settings_.GetString(settings::kFolders, key, "") != folder)
        settings_.WriteString(settings::kFolders, key, folder);
}

}  // namespace tavrix
