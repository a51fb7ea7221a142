#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "link/InterruptedTransfer.h"
#include "link/LinkCommands.h"

namespace tavrix {

// Why a text cannot go to the instrument as one line of a table, or nullptr when it can. A ";"
// would end the table early (and whatever follows it would run as a command), a control
// character could split the line or reach the instrument as framing, and a line longer than
// 100 characters would be refused by the link.
const char* TableLineFault(std::string_view text);

// False when the last exchange cannot have reached an instrument although the link reported
// success: GPIB without its driver library skips every call.
bool InstrumentReached(CInstrumentLink& link);

// How one line of a table download went.
enum class TableLineResult { kTaken, kRefused, kFailed };

// Sends one table line. A line the instrument refused (-8) comes back as kRefused only where
// the caller may go on after it; any other failure is kFailed.
TableLineResult SendTableLine(CInstrumentLink& link, const std::string& line, int pacing,
                              bool refusalAllowed);

// A table download from its first line to its end: the front end's hold on stop requests
// (CurveContext::tableOpen) and the record of the open table (OpenTableRecord), which stays
// when the transfer does not end with the instrument answering after it.
class OpenTable {
public:
    OpenTable(CInstrumentLink& link, std::function<void(bool)> hold, const std::string& table);
    ~OpenTable();
    OpenTable(const OpenTable&) = delete;
    OpenTable& operator=(const OpenTable&) = delete;
    // The table is closed and its outcome told (the instrument answered after it, or the
    // failure is reported already): the record goes.
    void Done() { record_.End(); }

private:
    std::function<void(bool)> hold_;
    OpenTableRecord record_;
};

// After the closing ";", the instrument's own count of the table just written, read with
// `query` (the text of the reply in `reply`): over LAN the lines only reached a buffer, and
// this round trip is what proves they arrived. -1 when the exchange failed; -2 when the reply
// is no count.
int ReadBackCount(CInstrumentLink& link, const std::string& query, std::string& reply);

// A reply as it may be shown in a message: printable characters only, at most 20.
std::string ShownReply(const std::string& reply);

// Ends a table download after a failed line: the table is closed without further messages of
// the link, the progress window closes, then `logLine` and the communication-failure report.
void AbandonTableDownload(LinkContext& ctx, ProgressWindow& progress, const std::string& logLine);

}  // namespace tavrix
