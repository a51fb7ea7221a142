#include "base/SettingsStore.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "base/FileSafety.h"
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

// The file a path finally names, following symbolic links (a dangling link names the file it
// would create). The path itself when it is no link or the chain is too long.
std::string FinalTarget(const std::string& path) {
    namespace fs = std::filesystem;
    fs::path p = path;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(p, ec)) || ec) return p.string();
        fs::path next = fs::read_symlink(p, ec);
        if (ec) return p.string();
        p = next.is_absolute() ? next : p.parent_path() / next;
    }
    return path;
}

std::string FolderOf(const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}

// Writes `data` to `path` so that a reader sees either the old or the new file, never a part.
// The new file takes the old one's permissions and owner (0600 when there was none).
bool WriteAtomically(const std::string& path, const std::string& data) {
    const std::filesystem::path target(path);
    const std::string folder = FolderOf(path);
    std::string tmpl = folder + "/." + target.filename().string() + ".XXXXXX";
    const int fd = mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) return false;
    std::string error;
    bool ok = files::WriteAll(fd, data.data(), data.size(), error);
    struct stat old {};
    if (ok && ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        // Owner and group first: a change of owner clears set-id bits the mode then restores.
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid())
            (void)::fchown(fd, old.st_uid, old.st_gid);
        if (::fchmod(fd, old.st_mode & 07777) != 0) ok = false;
    }
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (ok) ok = std::rename(tmpl.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(tmpl.c_str());
    return ok;
}

// The writers' lock: an flock() on the folder that holds the file (a folder stays the same
// file while the settings file itself is replaced by every write). Bounded: a writer that
// never lets go costs the others a failed write, not a hang.
bool LockFolder(const std::string& folder, files::ExclusiveLock& lock) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(SettingsStore::kLockWaitMs);
    for (;;) {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return false;
        std::string holder;
        const auto r = lock.Take(fd, true, holder);
        if (r == files::ExclusiveLock::Result::Locked) return true;
        if (r == files::ExclusiveLock::Result::Failed) return false;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
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
    return Update([&](IniText& ini) { ini.Set(section, key, value); });
}

bool SettingsStore::Update(const std::function<void(IniText&)>& change) {
    if (writesDisabled_) return true;
    std::lock_guard lock(mutex_);
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    const std::string path = FinalTarget(FilePath());
    files::ExclusiveLock writers;
    if (!LockFolder(FolderOf(path), writers)) return false;
    std::string text;
    // An unreadable store is not overwritten: the operator's other settings would be lost.
    if (LoadText(path, text) == Loaded::kUnusable) return false;
    IniText ini(std::move(text));
    change(ini);
    return WriteAtomically(path, ini.Text());
}

}  // namespace tavrix
