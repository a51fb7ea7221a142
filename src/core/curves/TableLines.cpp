#include "curves/TableLines.h"

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
