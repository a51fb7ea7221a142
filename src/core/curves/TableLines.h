#pragma once

#include <string>
#include <string_view>

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

// Ends a table download after a failed line: the table is closed without further messages of
// the link, the progress window closes, then `logLine` and the communication-failure report.
void AbandonTableDownload(LinkContext& ctx, ProgressWindow& progress, const std::string& logLine);

}  // namespace tavrix
