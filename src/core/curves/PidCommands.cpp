#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/CNumeric.h"
#include "base/Texts.h"
#include "curves/CurveCommands.h"
#include "curves/CurveTexts.h"
#include "curves/LineReader.h"
#include "curves/TableLines.h"

namespace tavrix {

namespace ct = curve_texts;

namespace {

constexpr int kLockWaitMs = 1000;

bool StartsTableEnd(const std::string& line) {
    return !line.empty() && line[0] == ';';
}

// Why the title or an entry cannot be sent as it stands. A blank title would be taken for a
// blank line, and the first entry for the title.
const char* PidLineFault(const std::string& line, bool title) {
    if (title && line.find_first_not_of(' ') == std::string::npos) return ct::kFaultEmpty;
    return TableLineFault(line);
}

}  // namespace

bool IsPidEntry(const std::string& line) {
    float f[4] = {};
    char word[64] = {};
    // The line is at most 63 characters, so the word always fits; longer than 11 characters
    // it is refused instead of being cut.
    if (ScanC(line.c_str(), "%f %f %f %f %63s", &f[0], &f[1], &f[2], &f[3], word) != 5)
        return false;
    if (std::strlen(word) > kPidWordMax) return false;
    return f[0] > 0 && f[1] >= 0 && f[2] > 0 && f[3] >= 0;
}

PidFileCheck CheckPidFile(const std::string& path) {
    PidFileCheck out;
    LineReader reader(path, kPidLineMax);
    std::string line;
    for (bool title = true;; title = false) {
        const LineReader::Outcome o = reader.Next(line);
        out.line = reader.LineNumber();
        if ((o == LineReader::kLine || o == LineReader::kLastLine || o == LineReader::kTooLong) &&
            StartsTableEnd(line))
            break;
        // A file that ends (or fails) before its ";" line; a line longer than the 63-character
        // line buffer is a failed read as well.
        if (o != LineReader::kLine) {
            out.status = PidFileCheck::kReadError;
            return out;
        }
        if (!title && line.size() < 3) continue;
        // The title and every entry go out unchanged: each must be a line the instrument
        // takes as one table line.
        if ((out.fault = PidLineFault(line, title))) {
            out.status = PidFileCheck::kUnsendable;
            return out;
        }
        if (title) continue;
        if (!IsPidEntry(line)) {
            out.status = PidFileCheck::kSyntaxError;
            return out;
        }
        ++out.entries;
    }
    out.line = 0;
    if (out.entries == 0) out.status = PidFileCheck::kNoEntry;
    if (out.entries > kPidMaxEntries) out.status = PidFileCheck::kTooManyEntries;
    return out;
}

void DownloadPidTable(CurveContext& ctx) {
    SessionLock lock(ctx.sessionMutex, kLockWaitMs);
    if (!lock) return;
    CurveDialogs& op = ctx.dialogs;
    auto file =
        op.AskOpenFile({ct::kPidOpenFilter, ct::kPidExtension, kFileMustExist | kHideReadOnly, {}});
    if (!file.Ok()) return;
    const std::string path = file.value;
    auto number = op.AskPidTableNumber(1);
    if (!number.Ok()) return;
    const int t = number.value;

    const PidFileCheck check = CheckPidFile(path);
    auto fail = [&](const char* box, const std::string& logLine) {
        op.ShowMessage(box, MessageIcon::None);
        ctx.log.Append(logLine);
    };
    switch (check.status) {
        case PidFileCheck::kReadError:
            return fail(ct::kPidFileReadError, FormatC(ct::kLogPidFileReadError, path.c_str()));
        case PidFileCheck::kSyntaxError:
            return fail(ct::kPidSyntaxError, FormatC(ct::kLogSyntaxError, path.c_str()));
        case PidFileCheck::kNoEntry:
            return fail(ct::kPidNoEntry, FormatC(ct::kLogPidNoEntry, path.c_str()));
        case PidFileCheck::kTooManyEntries:
            return fail(ct::kPidTooManyEntries, FormatC(ct::kLogPidTooManyEntries, path.c_str()));
        case PidFileCheck::kUnsendable: {
            const std::string field = check.line == 1 ? std::string(ct::kFieldPidTitle)
                                                      : FormatC(ct::kFieldPidEntry, check.line);
            op.ShowMessage(FormatC(ct::kCannotSend, field.c_str(), check.fault), MessageIcon::Stop);
            ctx.log.Append(FormatC(ct::kLogCannotSend, field.c_str(), check.fault));
            return;
        }
        case PidFileCheck::kOk:
            break;
    }
    const int entries = check.entries;

    std::string idn;
    if (ctx.link.Query("*IDN?", idn, 0) != 0 || !InstrumentReached(ctx.link)) {
        ReportCommunicationFailure(ctx.link, op, ctx.log);
        return;
    }
    auto progress = op.OpenProgress();
    progress->SetMessage(FormatC(ct::kDownloadingPid, t));
    progress->SetRange(0, 100);
    // Every line is checked: the first one that does not reach the instrument ends the
    // transfer (numbered from the "PIDT" line, 1). A refused line is marked and the table goes
    // on, as in a curve download.
    int lineNo = 1;
    OpenTable table(ctx.link, ctx.tableOpen, FormatC(ct::kTablePid, t));
    auto abandon = [&] {
        AbandonTableDownload(ctx, *progress, FormatC(ct::kLogPidNotDownloaded, t, lineNo));
    };
    if (SendTableLine(ctx.link, FormatC("PIDT %d:table", t), 0, false) == TableLineResult::kFailed)
        return abandon();

    // Sending pass: the title line, then lines until every counted entry has gone out. The
    // title goes out whatever its length; blank lines after it are skipped without using up
    // an entry, so none of the checked entries is lost.
    LineReader reader(path, kPidLineMax);
    std::string line;
    bool fileError = false, refused = false;
    int linesRead = 0, sent = 0, taken = 0;
    for (bool title = true; title || sent < entries; title = false) {
        const LineReader::Outcome o = reader.Next(line);
        if (o != LineReader::kLine || StartsTableEnd(line)) {
            fileError = true;
            break;
        }
        ++linesRead;
        if (!title && line.size() < 3) continue;
        // The file may have changed since the check: what goes out is checked again.
        if (PidLineFault(line, title)) {
            fileError = true;
            break;
        }
        if (!title) ++sent;
        ++lineNo;
        const TableLineResult r = SendTableLine(ctx.link, line, 1, true);
        if (r == TableLineResult::kFailed) {
            ctx.log.Append(line + "\n");
            return abandon();
        }
        refused = refused || r == TableLineResult::kRefused;
        if (!title && r == TableLineResult::kTaken) ++taken;
        ctx.log.Append(line + (r == TableLineResult::kRefused ? ct::kLogSendMark : "") + "\n");
        progress->SetPos(std::min(100, 100 * linesRead / entries));
        op.PumpMessages();
    }
    // The table is closed on the instrument either way.
    ++lineNo;
    if (SendTableLine(ctx.link, ";", 0, false) == TableLineResult::kFailed) return abandon();
    ctx.log.Append(";\n");
    if (fileError) {
        // A failure that names the file already; a table still open is found at the next
        // connection whether it is recorded or not.
        table.Done();
        op.ShowMessage(ct::kPidErrorInFile, MessageIcon::None);
        ctx.log.Append(FormatC(ct::kLogPidErrorIn, path.c_str()));
        progress->Close();
        if (refused) op.ShowMessage(ct::kErrorsDisplayed, MessageIcon::Stop);
        return;
    }
    // Sent is not arrived: the instrument's count of the table must be the entries it took.
    std::string reply;
    const int held = ReadBackCount(ctx.link, FormatC("PIDT %d:NENT?", t), reply);
    if (held == -1)
        return AbandonTableDownload(ctx, *progress, FormatC(ct::kLogPidNotConfirmed, t));
    table.Done();
    if (held != taken) {
        progress->Close();
        const std::string shown = held >= 0 ? std::to_string(held) : ShownReply(reply);
        op.ShowMessage(FormatC(ct::kPidNotWhole, t, shown.c_str(), taken), MessageIcon::Stop);
        ctx.log.Append(FormatC(ct::kLogPidNotWhole, t, shown.c_str(), taken));
        return;
    }
    progress->SetPos(100);
    op.ShowMessage(ct::kDownloadComplete, MessageIcon::None);
    ctx.log.Append(FormatC(ct::kLogPidDownloaded, t, path.c_str()));
    progress->Close();
    if (refused) op.ShowMessage(ct::kErrorsDisplayed, MessageIcon::Stop);
}

void UploadPidTable(CurveContext& ctx) {
    SessionLock lock(ctx.sessionMutex, kLockWaitMs);
    if (!lock) return;
    CurveDialogs& op = ctx.dialogs;
    auto file = op.AskSaveFile(
        {ct::kPidSaveFilter, ct::kPidExtension, kHideReadOnly | kOverwritePrompt, {}});
    if (!file.Ok()) return;
    const std::string path = file.value;
    auto number = op.AskPidTableNumber(1);
    if (!number.Ok()) return;
    const int t = number.value;

    std::string countReply;
    if (ctx.link.Query(FormatC("PIDT %d:NENT?", t), countReply, 0) != 0 ||
        !InstrumentReached(ctx.link)) {
        ReportCommunicationFailure(ctx.link, op, ctx.log);
        return;
    }
    // As for curves: the count only drives the progress bar.
    const int entries = std::max(static_cast<int>(std::strtol(countReply.c_str(), nullptr, 10)), 1);
    std::string table;
    const std::string command = FormatC("PIDT %d:TABLE?", t);
    const int got = ctx.link.FetchTable(entries, FormatC(ct::kUploadingPid, t), &command, &table);
    if (got > kPidMaxReplyLines) {
        op.ShowMessage(ct::kPidTooLong, MessageIcon::None);
        ctx.log.Append(ct::kLogPidTooLong);
        return;
    }
    if (got < 0) {
        op.ShowMessage(ct::kConnectionFailed, MessageIcon::None);
        if (ctx.link.GetPortType() == kPortRs232)
            for (const char* l : texts::kRs232CheckList) ctx.log.Append(l);
        return;
    }
    // "Upload Complete" only once the file holds the table.
    const bool written = WriteTextFileCrLf(path, table);
    op.ShowMessage(written ? ct::kUploadComplete : ct::kFailedToCreateFile,
                   written ? MessageIcon::None : MessageIcon::Exclamation);
    ctx.log.Append(table);
    ctx.log.Append(written ? FormatC(ct::kLogPidUploaded, t, path.c_str())
                           : std::string(ct::kLogCannotOpenOutput));
}

}  // namespace tavrix
