#include "link/InterruptedTransfer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "base/CNumeric.h"

namespace tavrix {

namespace it = interrupted_texts;

namespace {

// A file name from any text: letters, digits, "." and "-" stay, everything else becomes "_".
std::string FileNamePart(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '-';
        out.push_back(keep ? c : '_');
    }
    return out;
}

// Written whole or not at all, and on the disk before the first table line goes out: a power
// cut in the middle of the table must find it.
bool WriteDurably(const std::string& path, const std::string& text) {
    const std::string temp = path + ".new";
    const int fd =
        ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const bool synced = ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !synced || !closed || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::string InstrumentEndpoint(CInstrumentLink& link) {
    switch (link.GetPortType()) {
        case kPortLan:
            return FormatC("lan %s:%lu", link.IpAddr().Get_Addr_Str(), link.IpAddr().Port());
        case kPortGpib:
            return FormatC("gpib %d", link.GpibAddress());
        default:
            return "serial " + link.SerialDevicePath(link.CommPortIndex() + 1);
    }
}

OpenTableRecord::OpenTableRecord(CInstrumentLink& link)
    : path_(link.Settings().Folder() + "/OpenTable-" + FileNamePart(InstrumentEndpoint(link))) {}

void OpenTableRecord::Begin(const std::string& table) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
    // Without the record the transfer still runs; only the later hint would lack the table.
    WriteDurably(path_, table + "\n");
}

void OpenTableRecord::End() {
    std::remove(path_.c_str());
}

std::optional<std::string> OpenTableRecord::Pending() const {
    std::FILE* f = std::fopen(path_.c_str(), "rb");
    if (!f) return std::nullopt;
    char line[128] = {};
    const bool read = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    std::string table = read ? line : "";
    while (!table.empty() && (table.back() == '\n' || table.back() == '\r')) table.pop_back();
    // Only what this program writes there is named; anything else is an unknown table.
    const bool ours = table.rfind("User Curve ", 0) == 0 || table.rfind("PID Table ", 0) == 0;
    return ours && table.size() <= 20 ? table : std::string();
}

std::string InterruptedTransferMessage(bool staleEnded, const std::optional<std::string>& table) {
    if (!staleEnded && !table) return {};
    std::string text = staleEnded ? it::kStaleTableEnded : it::kEarlierInterrupted;
    if (table && !table->empty())
        text += FormatC(it::kMayBeIncomplete, table->c_str());
    else
        text += it::kUnknownMayBeIncomplete;
    return text;
}

}  // namespace tavrix
