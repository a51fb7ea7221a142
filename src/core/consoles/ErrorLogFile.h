#pragma once

#include <string>
#include <vector>

namespace tavrix {

// The command file runner's "ErrorLog.txt": created (or truncated) before the run, every record
// written straight through to the file with each LF as CR LF, so nothing waits in a buffer when
// the program dies. A failed write is remembered, never ignored.
class ErrorLogFile {
public:
    static constexpr const char* kFileName = "ErrorLog.txt";

    ErrorLogFile() = default;
    ~ErrorLogFile();
    ErrorLogFile(const ErrorLogFile&) = delete;
    ErrorLogFile& operator=(const ErrorLogFile&) = delete;

    // Creates or truncates the file; false with the reason in Error(). A symlink, a FIFO or a
    // device of that name is refused, never followed or written.
    bool Create(const std::string& path);
    // The places tried in order: `explicitPath` alone when given; otherwise "ErrorLog.txt" in the
    // current directory, then in `fallbackFolder` (created if missing) when that is not empty.
    bool CreateFirstOf(const std::vector<std::string>& paths);
    static std::vector<std::string> Candidates(const std::string& explicitPath,
                                               const std::string& fallbackFolder);

    void Record(const std::string& text);
    void Close();

    bool IsOpen() const { return fd_ >= 0; }
    // A record that did not reach the file completely.
    bool WriteFailed() const { return writeFailed_; }
    const std::string& Path() const { return path_; }
    // The reason of the last failure (create or write), as strerror gives it.
    const std::string& Error() const { return error_; }
    // After CreateFirstOf: why the places before the one used were refused ("PATH: reason").
    const std::string& Skipped() const { return skipped_; }

private:
    int fd_ = -1;
    std::string path_;
    std::string error_;
    std::string skipped_;
    bool writeFailed_ = false;
};

}  // namespace tavrix
