#pragma once

#include <optional>
#include <string>

#include "base/OperatorInterface.h"
#include "link/CInstrumentLink.h"

namespace tavrix {

// While a table download runs, the instrument takes every line as table data until the closing
// ";". A download that never got there (killed, power cut, link lost) leaves the instrument in
// that state, and whatever it received may be stored as the table. This record remembers, per
// instrument, which table was being written until the instrument is known to have left it, so
// that the next connection can say which table may be incomplete.
class OpenTableRecord {
public:
    // The record of the instrument the link is set up for, kept beside the settings.
    explicit OpenTableRecord(CInstrumentLink& link);
    // "User Curve 3", "PID Table 2": written before the table's first line goes out.
    void Begin(const std::string& table);
    // The instrument answered after the table: it is not taking table lines any more.
    void End();
    // The table of a transfer that did not end, if one is recorded.
    std::optional<std::string> Pending() const;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Who the link talks to, as one text: "lan 192.168.0.4:5000", "serial /dev/ttyUSB0", "gpib 12".
std::string InstrumentEndpoint(CInstrumentLink& link);

namespace interrupted_texts {
// The instrument answered only after a table left open was ended.
inline constexpr const char* kStaleTableEnded =
    "An earlier transfer was interrupted: the instrument answered only after the table it left "
    "open was ended.";
inline constexpr const char* kEarlierInterrupted = "An earlier transfer was interrupted.";
// "%s": the table, e.g. "User Curve 3".
inline constexpr const char* kMayBeIncomplete = " %s may be incomplete: download it again.";
inline constexpr const char* kUnknownMayBeIncomplete =
    " A user curve or PID table written then may be incomplete: download it again.";
}  // namespace interrupted_texts

// The message for the operator after identification: empty when nothing was interrupted.
// `staleEnded`: the instrument answered only after a ";" ended a table left open.
std::string InterruptedTransferMessage(bool staleEnded, const std::optional<std::string>& table);

}  // namespace tavrix
