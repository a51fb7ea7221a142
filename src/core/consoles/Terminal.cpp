#include "consoles/Terminal.h"

#include <cctype>
#include <cstdlib>

#include "base/IniText.h"
#include "base/SyncPrimitives.h"
#include "base/VisibleText.h"
#include "consoles/ConsoleTexts.h"

namespace tavrix {

namespace {
// Lines added since the history began; the ring slot of a line is its number modulo 100.
constexpr const char* kTotalKey = "Total";

std::string SlotKey(int slot) {
    return "Line" + std::to_string(slot);
}

// The store trims blanks around a value, so each line is kept between quotes.
std::string Quoted(const std::string& line) {
    return "\"" + line + "\"";
}
}  // namespace

CommandHistory::CommandHistory(SettingsStore* store) : store_(store) {
    if (store_) Load();
    cursor_ = entries_.size();
}

void CommandHistory::Load() {
    const int total = store_->GetInt(kSection, kTotalKey, 0);
    const int max = static_cast<int>(kMaxEntries);
    if (total <= 0) return;
    total_ = total;
    const int count = total < max ? total : max;
    for (int i = total - count; i < total; ++i) {
        const int slot = i % max;
        std::string v = store_->GetString(kSection, SlotKey(slot), "");
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
        // A damaged or hand-edited entry is left out rather than cut.
        if (v.empty() || v.size() > kTerminalLineMax || !Keepable(v)) continue;
        entries_.push_back(v);
    }
}

bool CommandHistory::Keepable(const std::string& line) {
    // A line that sets or asks the calibration password holds it, or leads to it.
    std::string upper = line;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper.find("PSWD") == std::string::npos;
}

bool CommandHistory::Add(const std::string& line) {
    ResetNavigation();
    if (line.empty() || !Keepable(line) || (!entries_.empty() && entries_.back() == line))
        return true;
    entries_.push_back(line);
    if (entries_.size() > kMaxEntries) entries_.erase(entries_.begin());
    cursor_ = entries_.size();
    if (!store_) return true;
    // The line count is read again under the store's lock: another terminal (a second window,
    // a command-line run) may have added lines since this one loaded.
    return store_->Update([&](IniText& ini) {
        int total = 0;
        if (const auto v = ini.Get(kSection, kTotalKey)) total = std::atoi(v->c_str());
        if (total < 0) total = 0;
        const int slot = total % static_cast<int>(kMaxEntries);
        // Starts again from 0 long before the counter could overflow.
        total_ = total >= 1000000 ? static_cast<int>(kMaxEntries) + slot + 1 : total + 1;
        ini.Set(kSection, SlotKey(slot), Quoted(line));
        ini.Set(kSection, kTotalKey, std::to_string(total_));
    });
}

std::optional<std::string> CommandHistory::Older(const std::string& editing) {
    if (cursor_ == 0) return std::nullopt;
    if (cursor_ == entries_.size()) draft_ = editing;
    --cursor_;
    return entries_[cursor_];
}

std::optional<std::string> CommandHistory::Newer() {
    if (cursor_ >= entries_.size()) return std::nullopt;
    ++cursor_;
    return cursor_ == entries_.size() ? draft_ : entries_[cursor_];
}

void CommandHistory::ResetNavigation() {
    cursor_ = entries_.size();
    draft_.clear();
}

const std::string& TerminalModel::Send(const std::string& fieldText) {
    command_.clear();
    command_ = fieldText.substr(0, kTerminalLineMax);
    history_.Add(command_);
    return command_;
}

TerminalExchange HandleTerminalCommand(LinkContext& ctx, const std::string& text) {
    TerminalExchange ex;
    if (text.empty()) return ex;
    SessionLock lock(ctx.sessionMutex, 1000);
    if (!lock) return ex;
    ex.sent = true;
    // What is logged shows control characters as "\x.." (the line itself is sent as typed).
    // The terminal's own test: any "?" after the first character. The link decides by the first
    // "?" alone, so "?A?" is logged as a query but gets no reply read.
    if (text.find('?', 1) != std::string::npos) {
        ctx.log.Append(texts::kQueryPrefix + VisibleText(text));
        std::string reply;
        ex.status = ctx.link.TransactQuiet(text, &reply);
        ctx.log.Append(texts::kResponsePrefix + VisibleText(reply) + "\n");
        ex.failed = ex.status != 0;
    } else {
        ctx.log.Append(texts::kCommandPrefix + VisibleText(text) + "\n");
        ex.status = ctx.link.TransactQuiet(text, nullptr);
        // Over LAN a command without reply always comes back as "not possible on this port
        // type" once it has been sent.
        ex.failed = ex.status != 0 &&
                    !(ex.status == link_status::kBadPortType && ctx.link.GetPortType() == kPortLan);
    }
    if (ex.failed)
        ctx.log.Append(std::string("Error:") + CInstrumentLink::StatusText(ex.status) + "\n");
    return ex;
}

}  // namespace tavrix
