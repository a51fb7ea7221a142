#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace tavrix {

class IniText;

// The per-user settings store "Tavrix.INI": named sections of integer and string values.
// Every read opens the file afresh and returns the default when the value (or the file) is
// absent; every write rewrites the file atomically (temporary file + rename) and reports
// success. Section and key names are compared without regard to case. Only a regular file is
// used: anything else of that name gives the defaults and refuses every write. A write changes
// its one value and keeps every other byte of the file.
//
// Several processes share the file (the desktop program, command-line runs): each write takes
// an exclusive lock on the file's folder, reads the file again under it, changes only its own
// keys and replaces the file, so no process loses another's change. The file keeps its
// permissions (a new one is private to its owner, 0600); a settings file that is a symbolic
// link is written through to its target, replaced atomically in the target's folder.
class SettingsStore {
public:
    // Uses the folder from DefaultFolder().
    SettingsStore();
    explicit SettingsStore(std::string folder);

    // $TAVRIX_CONFIG_DIR, else $XDG_CONFIG_HOME/Orvella, Inc, else ~/.config/Orvella, Inc.
    static std::string DefaultFolder();
    // The folder of a run on the built-in simulated controller, so that such a run never
    // creates or changes the operator's own settings: $TAVRIX_CONFIG_DIR, else
    // $XDG_CONFIG_HOME/Orvella, Inc (simulator), else ~/.config/Orvella, Inc (simulator).
    static std::string SimulatorFolder();
    // Moves the store to another folder (before anything is read or written).
    void UseFolder(std::string folder) { folder_ = std::move(folder); }

    const std::string& Folder() const { return folder_; }
    std::string FilePath() const;

    int GetInt(const std::string& section, const std::string& key, int def) const;
    // As GetInt, but a stored number outside low..high gives the default too.
    int GetIntInRange(const std::string& section, const std::string& key, int def, int low,
                      int high) const;
    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& def) const;

    // true when the value reached the file (or writes are disabled, see below).
    bool WriteInt(const std::string& section, const std::string& key, int value);
    bool WriteString(const std::string& section, const std::string& key, const std::string& value);
    // Reads the file under the lock, lets `change` edit it and writes it back: a
    // read-modify-write no other writer can come between. false when it did not reach the file.
    bool Update(const std::function<void(IniText&)>& change);

    // The longest a write waits for another process's write to end.
    static constexpr int kLockWaitMs = 5000;

    // A session that must not change the operator's stored settings (the command line with
    // explicit transport options) reads the store but keeps its own changes in memory only.
    void DisableWrites() { writesDisabled_ = true; }

private:
    bool Write(const std::string& section, const std::string& key, const std::string& value);
    std::optional<std::string> Value(const std::string& section, const std::string& key) const;

    std::string folder_;
    bool writesDisabled_ = false;
    mutable std::mutex mutex_;
};

// Section and key names used across the program.
namespace settings {
inline constexpr const char* kCommunicationSetup = "CommunicationSetup";
inline constexpr const char* kPortType = "PortType";
inline constexpr const char* kCommPort = "CommPort";
inline constexpr const char* kBaudRate = "BaudRate";
inline constexpr const char* kBaudrateReadName = "Baudrate";
inline constexpr const char* kGpibAddr = "GPIBAddr";
inline constexpr const char* kIpAddr[4] = {"IPAddr0", "IPAddr1", "IPAddr2", "IPAddr3"};
inline constexpr const char* kIpPort = "IPPort";

inline constexpr int kDefaultPortType = 0;
inline constexpr int kDefaultCommPort = 1;
inline constexpr int kDefaultBaudRate = 0;
inline constexpr int kDefaultGpibAddr = 12;
inline constexpr int kDefaultIpAddr[4] = {192, 168, 0, 4};
inline constexpr int kDefaultIpPort = 5000;

inline constexpr const char* kLog = "LOG";
inline constexpr const char* kInterval = "INTERVAL";
inline constexpr const char* kDefaultInterval = "30.0";
// The sources last chosen in the logging setup, as the 16-bit selection mask.
inline constexpr const char* kLogChannels = "CHANNELS";

inline constexpr const char* kMainViewPos = "MAINVIEWPOS";
inline constexpr const char* kWinLeft = "WinLeft";
inline constexpr const char* kWinTop = "WinTop";
inline constexpr const char* kWinRight = "WinRight";
inline constexpr const char* kWinBottom = "WinBottom";
// Monitor windows A..H, heater 1, heater 2, analog 1, analog 2.
inline constexpr const char* kMonitorPos[12] = {"CHAPOS", "CHBPOS",  "CHCPOS", "CHDPOS",
                                                "CHEPOS", "CHFPOS",  "CHGPOS", "CHHPOS",
                                                "HTRPOS", "HTR2POS", "ANAPOS", "ANA2POS"};
inline constexpr const char* kTerminalPos = "S_TERM_POS";
inline constexpr const char* kShortcutBarPos = "SHORTCUTPOS";  // the "Short Cuts" bar's place
inline constexpr const char* kMonitors = "MONITORS";
inline constexpr const char* kMonitorOpen[8] = {"CHA", "CHB", "CHC", "CHD",
                                                "CHE", "CHF", "CHG", "CHH"};

// The folder each kind of file was last chosen in (full paths).
inline constexpr const char* kFolders = "FOLDERS";

// Our own additions for the Linux transports.
inline constexpr const char* kSerialDevices = "SerialDevices";  // keys "COM1".."COM4"
inline constexpr const char* kDefaultSerialDevice[4] = {"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyUSB0",
                                                        "/dev/ttyUSB1"};
inline constexpr const char* kGpib = "GPIB";
inline constexpr const char* kGpibLibrary = "Library";
inline constexpr const char* kGpibEndOnEoi = "EndOnEOI";  // 1: a piece with END ends a reply
inline constexpr const char* kDefaultGpibLibrary = "libgpib.so.0";
}  // namespace settings

}  // namespace tavrix
