#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "base/SettingsStore.h"
#include "link/LinkCommands.h"

namespace tavrix {

// The terminal's command line holds at most this many characters (its read buffer is 48 bytes
// with the terminator).
inline constexpr size_t kTerminalLineMax = 47;

// The lines sent from the terminal, oldest first, the last 100 of them, kept across runs in
// the settings section "S_TERM_HISTORY". Up and Down walk through them as shells do.
class CommandHistory {
public:
    static constexpr size_t kMaxEntries = 100;
    static constexpr const char* kSection = "S_TERM_HISTORY";

    // Loads the stored lines; without a store the history lives for this run only.
    explicit CommandHistory(SettingsStore* store = nullptr);

    // Adds a sent line (an empty one, a repeat of the newest, or one that is not Keepable is
    // not added) and stores it. false when the store could not be written (the line is still
    // in this run's history).
    bool Add(const std::string& line);
    // false for a line holding "PSWD" in any case: the calibration password is never kept,
    // in memory or on disk.
    static bool Keepable(const std::string& line);
    const std::vector<std::string>& Entries() const { return entries_; }

    // Up: the next older line, or nothing at the oldest. The text being edited is kept for Down.
    std::optional<std::string> Older(const std::string& editing);
    // Down: the next newer line; past the newest, the text that was being edited.
    std::optional<std::string> Newer();
    // Back to the text being edited (after a send).
    void ResetNavigation();

private:
    void Load();

    SettingsStore* store_;
    std::vector<std::string> entries_;
    size_t cursor_ = 0;  // == entries_.size(): not browsing
    std::string draft_;
    int total_ = 0;
};

// The line handling of the terminal's command field: the send operation keeps the sent text
// (cut to 47 characters, read into a string of its own) and records it in the history.
class TerminalModel {
public:
    explicit TerminalModel(SettingsStore* store = nullptr) : history_(store) {}

    // The text handed to the view for this send.
    const std::string& Send(const std::string& fieldText);
    const std::string& CommandText() const { return command_; }
    CommandHistory& History() { return history_; }

private:
    std::string command_;
    CommandHistory history_;
};

// What became of one terminal line.
struct TerminalExchange {
    bool sent = false;  // false: empty line, or SessionMutex not obtained within 1000 ms
    int status = 0;     // TransactQuiet's result when sent
    bool failed = false;
};

// The view's handling of a terminal line: logs "\nquery:" and "\nresponse:" or "\ncommand:"
// and exchanges it with TransactQuiet while holding SessionMutex (1000 ms wait). A failed
// exchange adds one "Error:" line saying why.
TerminalExchange HandleTerminalCommand(LinkContext& ctx, const std::string& text);

}  // namespace tavrix
