#include "curves/TableLines.h"

#include <cstdlib>

#include "curves/CurveTexts.h"

namespace tavrix {

namespace ct = curve_texts;

const char* TableLineFault(std::string_view text) {
    if (text.size() > CInstrumentLink::kMaxCommandLength) return ct::kFaultTooLong;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) return ct::kFaultControl;
    }
    if (text.find(';') != std::string_view::npos) return ct::kFaultSemicolon;
    return nullptr;
}

bool InstrumentReached(CInstrumentLink& link) {
    return link.GetPortType() != kPortGpib || link.GpibLibrary().Loaded();
}

TableLineResult SendTableLine(CInstrumentLink& link, const std::string& line, int pacing,
                              bool refusalAllowed) {
    const int status = link.Command(line, pacing);
    if (status >= 0)
        return InstrumentReached(link) ? TableLineResult::kTaken : TableLineResult::kFailed;
    if (status == link_status::kLanRefused && refusalAllowed) return TableLineResult::kRefused;
    return TableLineResult::kFailed;
}

OpenTable::OpenTable(CInstrumentLink& link, std::function<void(bool)> hold,
                     const std::string& table)
    : hold_(std::move(hold)), record_(link) {
    if (hold_) hold_(true);
    record_.Begin(table);
}

OpenTable::~OpenTable() {
    if (hold_) hold_(false);
}

int ReadBackCount(CInstrumentLink& link, const std::string& query, std::string& reply) {
    if (link.Query(query, reply, 0) != 0 || !InstrumentReached(link)) return -1;
    const char* text = reply.c_str();
    while (*text == ' ') ++text;
    if (*text < '0' || *text > '9') return -2;
    char* end = nullptr;
    const long count = std::strtol(text, &end, 10);
    while (*end == ' ') ++end;
    if (*end != '\0' || count > 100000) return -2;
    return static_cast<int>(count);
}

std::string ShownReply(const std::string& reply) {
    std::string out;
    for (const char c : reply) {
        const auto u = static_cast<unsigned char>(c);
        out.push_back(u >= 0x20 && u < 0x7F ? c : '?');
        if (out.size() == 20) break;
    }
    return out.empty() ? "\"\"" : out;
}

void AbandonTableDownload(LinkContext& ctx, ProgressWindow& progress, const std::string& logLine) {
    // The instrument may still be taking table lines: close the table so that the next
    // exchange is not taken for one. Quiet, so the operator gets one report, not a second one
    // for a link already known to be down.
    ctx.link.TransactQuiet(";", nullptr);
    progress.Close();
    ctx.log.Append(logLine);
    ReportCommunicationFailure(ctx.link, ctx.op, ctx.log);
}

}  // namespace tavrix
