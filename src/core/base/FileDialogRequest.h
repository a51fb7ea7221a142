#pragma once

#include <string>
#include <vector>

namespace tavrix {

// Options of the open/save file dialogs.
enum FileDialogOption : unsigned {
    kFileMustExist = 1u << 0,
    kHideReadOnly = 1u << 1,
    kOverwritePrompt = 1u << 2,
};

// An open or save file dialog: the filter text as "label|patterns|label|patterns||" (patterns
// separated by ";"), the extension added to a name typed without one, the options and the
// name the dialog starts with.
struct FileDialogRequest {
    std::string filter;
    std::string defaultExtension;
    unsigned options = 0;
    std::string initialName;

    struct FilterEntry {
        std::string label;
        std::vector<std::string> patterns;
    };
    // The filter text split into its entries, in order.
    std::vector<FilterEntry> FilterEntries() const;
};

}  // namespace tavrix
