#include "consoles/ErrorLogFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/FileSafety.h"

namespace tavrix {

ErrorLogFile::~ErrorLogFile() {
    Close();
}

bool ErrorLogFile::Create(const std::string& path) {
    Close();
    writeFailed_ = false;
    error_.clear();
    path_ = path;
    // A symlink of that name is refused rather than followed (it would truncate whatever it
    // points to), and so is anything but a regular file.
    const int fd = files::OpenOutput(path, {files::OutputMode::Truncate, 0644, true}, error_);
    if (fd < 0) return false;
    fd_ = fd;
    return true;
}

std::vector<std::string> ErrorLogFile::Candidates(const std::string& explicitPath,
                                                  const std::string& fallbackFolder) {
    namespace fs = std::filesystem;
    if (!explicitPath.empty()) return {explicitPath};
    std::vector<std::string> out;
    std::error_code ec;
    const fs::path cwd = fs::current_path(ec);
    out.push_back(ec ? std::string(kFileName) : (cwd / kFileName).string());
    if (!fallbackFolder.empty()) {
        const std::string other = (fs::path(fallbackFolder) / kFileName).string();
        if (other != out.front()) out.push_back(other);
    }
    return out;
}

bool ErrorLogFile::CreateFirstOf(const std::vector<std::string>& paths) {
    std::string reasons;
    for (size_t i = 0; i < paths.size(); ++i) {
        if (i > 0) {
            // The fallback is the program's own folder, which may not exist yet.
            std::error_code ec;
            std::filesystem::create_directories(std::filesystem::path(paths[i]).parent_path(), ec);
        }
        if (Create(paths[i])) {
            skipped_ = reasons;
            return true;
        }
        reasons += (reasons.empty() ? "" : "; ") + paths[i] + ": " + error_;
    }
    error_ = reasons;
    return false;
}

void ErrorLogFile::Record(const std::string& text) {
    if (fd_ < 0) {
        writeFailed_ = true;
        return;
    }
    std::string bytes;
    bytes.reserve(text.size() + 4);
    for (char c : text) {
        if (c == '\n') bytes.push_back('\r');
        bytes.push_back(c);
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            writeFailed_ = true;
            error_ = std::strerror(n < 0 ? errno : EIO);
            return;
        }
        done += static_cast<size_t>(n);
    }
}

void ErrorLogFile::Close() {
    if (fd_ < 0) return;
    if (::close(fd_) != 0 && !writeFailed_) {
        writeFailed_ = true;
        error_ = std::strerror(errno);
    }
    fd_ = -1;
}

}  // namespace tavrix
