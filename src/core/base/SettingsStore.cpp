#include "base/SettingsStore.h"

// Plain 8-bit text: no wide-character conversion library is needed.
#define SI_NO_CONVERSION
#include <SimpleIni.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

namespace tavrix {

namespace {
constexpr const char* kFileName = "Tavrix.INI";
constexpr const char* kCompanyFolder = "Orvella, Inc";

bool LoadInto(CSimpleIniA& ini, const std::string& path) {
    ini.SetUnicode(false);
    ini.SetMultiKey(false);
    SI_Error rc = ini.LoadFile(path.c_str());
    return rc >= 0;
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

std::string SettingsStore::DefaultFolder() {
    if (const char* dir = getenv("TAVRIX_CONFIG_DIR"); dir && *dir) return dir;
    std::string base;
    if (const char* xdg = getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
        base = xdg;
    } else if (const char* home = getenv("HOME"); home && *home) {
        base = std::string(home) + "/.config";
    } else {
        base = ".";
    }
    return base + "/" + kCompanyFolder;
}

std::string SettingsStore::FilePath() const {
    return folder_ + "/" + kFileName;
}

int SettingsStore::GetInt(const std::string& section, const std::string& key, int def) const {
    std::lock_guard lock(mutex_);
    CSimpleIniA ini;
    if (!LoadInto(ini, FilePath())) return def;
    const char* v = ini.GetValue(section.c_str(), key.c_str(), nullptr);
    if (!v) return def;
    char* end = nullptr;
    errno = 0;
    // Decimal only: a hand-edited "09" is nine, not an octal error.
    long n = strtol(v, &end, 10);
    if (end == v || errno == ERANGE) return def;
    return static_cast<int>(n);
}

std::string SettingsStore::GetString(const std::string& section, const std::string& key,
                                     const std::string& def) const {
    std::lock_guard lock(mutex_);
    CSimpleIniA ini;
    if (!LoadInto(ini, FilePath())) return def;
    const char* v = ini.GetValue(section.c_str(), key.c_str(), nullptr);
    return v ? std::string(v) : def;
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
    CSimpleIniA ini;
    const std::string path = FilePath();
    std::error_code ec;
    if (std::filesystem::exists(path, ec) && !LoadInto(ini, path)) {
        // An unreadable store is not overwritten: the operator's other settings would be lost.
        return false;
    }
    if (ini.SetValue(section.c_str(), key.c_str(), value.c_str()) < 0) return false;
    std::string data;
    if (ini.Save(data) < 0) return false;
    return WriteAtomically(folder_, path, data);
}

}  // namespace tavrix
