#pragma once

#include <string>

#include "base/FileSafety.h"

namespace tavrix {

// Writes the data log. Each call opens the file, writes its text with one write, makes it
// reach the disk and closes the file again, so a reader (or a crash) never sees half a line
// and the file stays free for others to read. "\n" becomes CR LF on disk, as in a text-mode
// file. A write that fails part-way is cut back off, so what was there before stays whole.
class LogFileWriter {
public:
    // Creates or empties the file; false (with `error` set) when it cannot.
    static bool Create(const std::string& path, std::string& error);
    // Appends to an existing file (one that was removed is not made again).
    static bool Append(const std::string& path, const std::string& text, bool sync,
                       std::string& error);
    static std::string ToDisk(const std::string& text);

    // A run owns its file: an exclusive lock held from before the file is emptied to after
    // its closing lines. Busy: `message` says who has the file; Failed: why it cannot be used.
    static files::ExclusiveLock::Result Lock(const std::string& path, files::ExclusiveLock& lock,
                                             std::string& message);
};

}  // namespace tavrix
