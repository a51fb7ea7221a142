// The settings store's reader and its in-place writer. The input is the file's text, after a
// first byte that picks the name written and its value. Every name the program uses is read;
// then one is written, through the store and in memory. Afterwards that name reads back as
// written, every other name reads as before, and the store's file is the text written in
// memory.

#include <cctype>
#include <filesystem>
#include <optional>

#include "FuzzSupport.h"
#include "base/IniText.h"

using namespace tavrix;
using fuzz::Check;

namespace {

struct Name {
    const char* section;
    const char* key;
};

// Names the program reads and writes, and a few in other cases.
constexpr Name kNames[] = {
    {"CommunicationSetup", "PortType"},
    {"CommunicationSetup", "CommPort"},
    {"CommunicationSetup", "BaudRate"},
    {"CommunicationSetup", "Baudrate"},
    {"CommunicationSetup", "GPIBAddr"},
    {"CommunicationSetup", "IPAddr0"},
    {"CommunicationSetup", "IPAddr3"},
    {"CommunicationSetup", "IPPort"},
    {"LOG", "INTERVAL"},
    {"MAINVIEWPOS", "WinLeft"},
    {"MAINVIEWPOS", "WinBottom"},
    {"MONITORS", "CHA"},
    {"SerialDevices", "COM1"},
    {"GPIB", "Library"},
    {"GPIB", "EndOnEOI"},
    {"communicationsetup", "porttype"},
};
constexpr size_t kNameCount = sizeof kNames / sizeof kNames[0];

constexpr const char* kValues[] = {"0",   "5000", "/usr/lib/libgpib.so.0", "a b", "-1", "30.0",
                                   "x=y", "[z]"};

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const Name& name = kNames[data[0] % kNameCount];
    const char* value = kValues[(data[0] / kNameCount) % (sizeof kValues / sizeof kValues[0])];
    const std::string text(fuzz::Text(data + 1, size - 1));

    IniText ini(text);
    std::vector<std::optional<std::string>> before;
    for (const Name& n : kNames) {
        before.push_back(ini.Get(n.section, n.key));
        if (before.back())
            Check(before.back()->find('\n') == std::string::npos, "a value holding a line end");
    }

    // The store reads the same file.
    const std::string folder = fuzz::ScratchFolder() + "/store";
    std::filesystem::create_directories(folder);
    SettingsStore store(folder);
    fuzz::WriteScratchFile("store/Tavrix.INI", text);
    for (size_t i = 0; i < kNameCount; ++i)
        Check(
            store.GetString(kNames[i].section, kNames[i].key, "\x01") == before[i].value_or("\x01"),
            "the store reads another value than its text holds");

    ini.Set(name.section, name.key, value);
    Check(store.WriteString(name.section, name.key, value), "a write of the store failed");
    bool ok = false;
    Check(fuzz::ReadWholeFile(store.FilePath(), &ok) == ini.Text() && ok,
          "the store's file is not the text written");

    for (size_t i = 0; i < kNameCount; ++i) {
        const Name& n = kNames[i];
        const std::optional<std::string> now = ini.Get(n.section, n.key);
        if (SameName(n.section, name.section) && SameName(n.key, name.key))
            Check(now == std::string(value), "a written value that does not read back");
        else
            Check(now == before[i], "a write that changed another value");
    }
    return 0;
}
