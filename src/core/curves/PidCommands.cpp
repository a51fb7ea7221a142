#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/CNumeric.h"
#include "base/Texts.h"
#include "curves/CurveCommands.h"
#include "curves/CurveTexts.h"
#include "curves/LineReader.h"

namespace tavrix {

namespace ct = curve_texts;

namespace {

constexpr int kLockWaitMs = 1000;

bool StartsTableEnd(const std::string& line) {
    return !line.empty() && line[0] == ';';
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
        if (title || line.size() < 3) continue;
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
        case PidFileCheck::kOk:
            break;
    }
    const int entries = check.entries;

    std::string idn;
    if (ctx.link.Query("*IDN?", idn, 0) != 0) {
        ReportCommunicationFailure(ctx.link, op, ctx.log);
        return;
    }
    auto progress = op.OpenProgress();
    progress->SetMessage(FormatC(ct::kDownloadingPid, t));
    progress->SetRange(0, 100);
    ctx.link.Command(FormatC("PIDT %d:table", t), 0);

    // Sending pass: the title line, then lines until every counted entry has gone out. Blank
    // lines are skipped without using up an entry, so none of the checked entries is lost.
    LineReader reader(path, kPidLineMax);
    std::string line;
    bool fileError = false;
    int linesRead = 0, sent = 0;
    for (bool title = true; title || sent < entries; title = false) {
        const LineReader::Outcome o = reader.Next(line);
        if (o != LineReader::kLine || StartsTableEnd(line)) {
            fileError = true;
            break;
        }
        ++linesRead;
        if (line.size() < 3) continue;
        if (!title) ++sent;
        ctx.link.Command(line, 1);
        ctx.log.Append(line + "\n");
        progress->SetPos(std::min(100, 100 * linesRead / entries));
        op.PumpMessages();
    }
    // The table is closed on the instrument either way.
    ctx.link.Command(";", 0);
    ctx.log.Append(";\n");
    if (fileError) {
        op.ShowMessage(ct::kPidErrorInFile, MessageIcon::None);
        ctx.log.Append(FormatC(ct::kLogPidErrorIn, path.c_str()));
    } else {
        op.ShowMessage(ct::kDownloadComplete, MessageIcon::None);
        ctx.log.Append(FormatC(ct::kLogPidDownloaded, t, path.c_str()));
    }
    progress->Close();
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
    if (ctx.link.Query(FormatC("PIDT %d:NENT?", t), countReply, 0) != 0) {
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
    op.ShowMessage(ct::kUploadComplete, MessageIcon::None);
    const bool written = WriteTextFileCrLf(path, table);
    if (!written) op.ShowMessage(ct::kFailedToCreateFile, MessageIcon::Exclamation);
    ctx.log.Append(table);
    ctx.log.Append(written ? FormatC(ct::kLogPidUploaded, t, path.c_str())
                           : std::string(ct::kLogCannotOpenOutput));
}

}  // namespace tavrix
