#include "base/SettingsStore.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>

#include "base/IniText.h"

namespace tavrix {

namespace {
constexpr const char* kFileName = "Tavrix.INI";
constexpr const char* kCompanyFolder = "Orvella, Inc";

// A settings file larger than this is not one of ours: it is neither read nor overwritten.
constexpr off_t kMaxFileBytes = 1 << 20;

enum class Loaded { kAbsent, kRead, kUnusable };

// Reads the store's text. Only a regular file is read: a FIFO, a device or a folder of that
// name would block or mislead every read, so it counts as unusable (reads give the defaults,
// writes are refused and leave it alone).
Loaded LoadText(const std::string& path, std::string& text) {
    text.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return errno == ENOENT ? Loaded::kAbsent : Loaded::kUnusable;
    struct stat st {};
    Loaded result = Loaded::kRead;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileBytes) {
        result = Loaded::kUnusable;
    } else {
        char buf[4096];
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) {
                text.append(buf, static_cast<size_t>(n));
                if (text.size() > static_cast<size_t>(kMaxFileBytes)) {
                    result = Loaded::kUnusable;
                    break;
                }
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) result = Loaded::kUnusable;
            break;
        }
    }
    ::close(fd);
    return result;
}

// Writes `data` to `path` so that a reader sees either the old or the new file, never a part.
bool WriteAtomically(const std::string& folder, const std::string& path, const std::string& data) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    std::string tmpl = folder + "/.Tavrix.INI.XXXXXX";
    int fd = mkstemp(tmpl.data());
    if (fd < 0) return false;
    const char* p = data.data();
    size_t left = data.size();
    bool ok = true;
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (ok) {
        ::chmod(tmpl.c_str(), 0644);
        ok = std::rename(tmpl.c_str(), path.c_str()) == 0;
    }
    if (!ok) ::unlink(tmpl.c_str());
    return ok;
}
}  // namespace

SettingsStore::SettingsStore() : folder_(DefaultFolder()) {}
SettingsStore::SettingsStore(std::string folder) : folder_(std::move(folder)) {}

namespace {
std::string ConfigBase() {
    std::string base;
    if (const char* xdg = getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
        base = xdg;
    } else if (const char* home = getenv("HOME"); home && *home) {
        base = std::string(home) + "/.config";
    } else {
        base = ".";
    }
    return base;
}
}  // namespace

std::string SettingsStore::DefaultFolder() {
    if (const char* dir = getenv("TAVRIX_CONFIG_DIR"); dir && *dir) return dir;
    return ConfigBase() + "/" + kCompanyFolder;
}

std::string SettingsStore::SimulatorFolder() {
    if (const char* dir = getenv("TAVRIX_CONFIG_DIR"); dir && *dir) return dir;
    return ConfigBase() + "/" + kCompanyFolder + " (simulator)";
}

std::string SettingsStore::FilePath() const {
    return folder_ + "/" + kFileName;
}

std::optional<std::string> SettingsStore::Value(const std::string& section,
                                                const std::string& key) const {
    std::lock_guard lock(mutex_);
    std::string text;
    if (LoadText(FilePath(), text) != Loaded::kRead) return std::nullopt;
    return IniText(std::move(text)).Get(section, key);
}

int SettingsStore::GetInt(const std::string& section, const std::string& key, int def) const {
    const std::optional<std::string> v = Value(section, key);
    if (!v) return def;
    const char* s = v->c_str();
    char* end = nullptr;
    errno = 0;
    // Decimal only: a hand-edited "09" is nine, not an octal error.
    const long n = strtol(s, &end, 10);
    if (end == s || errno == ERANGE || n < INT_MIN || n > INT_MAX) return def;
    return static_cast<int>(n);
}

int SettingsStore::GetIntInRange(const std::string& section, const std::string& key, int def,
                                 int low, int high) const {
    const int v = GetInt(section, key, def);
    return v < low || v > high ? def : v;
}

std::string SettingsStore::GetString(const std::string& section, const std::string& key,
                                     const std::string& def) const {
    return Value(section, key).value_or(def);
}

bool SettingsStore::WriteInt(const std::string& section, const std::string& key, int value) {
    return Write(section, key, std::to_string(value));
}

bool SettingsStore::WriteString(const std::string& section, const std::string& key,
                                const std::string& value) {
    return Write(section, key, value);
}

bool SettingsStore::Write(const std::string& section, const std::string& key,
                          const std::string& value) {
    if (writesDisabled_) return true;
    // A line break would end the value early and turn the rest into a line of its own.
    if (value.find_first_of("\r\n") != std::string::npos) return false;
    std::lock_guard lock(mutex_);
    const std::string path = FilePath();
    std::string text;
    // An unreadable store is not overwritten: the operator's other settings would be lost.
    if (LoadText(path, text) == Loaded::kUnusable) return false;
    IniText ini(std::move(text));
    ini.Set(section, key, value);
    return WriteAtomically(folder_, path, ini.Text());
}

}  // namespace tavrix
