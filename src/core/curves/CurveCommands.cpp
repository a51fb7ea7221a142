#include "curves/CurveCommands.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "base/CNumeric.h"
#include "base/FileSafety.h"
#include "base/Texts.h"
#include "curves/CurveTexts.h"
#include "curves/LineReader.h"
#include "curves/TableLines.h"

namespace tavrix {

namespace ct = curve_texts;

namespace {

constexpr int kLockWaitMs = 1000;
constexpr int kFirstUserCurveIndex = 61;
constexpr auto kUploadPause = std::chrono::milliseconds(1000);

std::string WithPath(const char* format, const std::string& path) {
    return FormatC(format, path.c_str());
}

FileDialogRequest OpenRequest(const char* filter, const char* extension) {
    return {filter, extension, kFileMustExist | kHideReadOnly, {}};
}

FileDialogRequest SaveRequest(const char* filter, const char* extension) {
    return {filter, extension, kHideReadOnly | kOverwritePrompt, {}};
}

// Reads the names of the eight user curves ("SENSORIX? 61" .. "SENSORIX? 68") and lets the
// operator choose one: its number 1..8, or 0 when an exchange failed (already reported) or the
// operator cancelled.
int ChooseUserCurve(CurveContext& ctx) {
    UserCurveChoice choice;
    for (int i = 0; i < 8; ++i) {
        std::string reply;
        if (ctx.link.Query(FormatC("SENSORIX? %d", kFirstUserCurveIndex + i), reply, 0) != 0 ||
            !InstrumentReached(ctx.link)) {
            ReportCommunicationFailure(ctx.link, ctx.op, ctx.log);
            return 0;
        }
        choice.names[static_cast<size_t>(i)] = reply;
    }
    auto chosen = ctx.dialogs.ChooseUserCurve(choice);
    return chosen.Ok() ? chosen.value.number : 0;
}

// The header editor for a curve just read; false when it was not accepted.
bool EditHeader(CurveDialogs& op, SensorCurve& curve, const std::string& path, bool presetSave,
                bool& saveRequested) {
    CurveHeaderEdit edit;
    std::vector<float> t, v;
    for (const CurvePoint& p : curve.points) {
        t.push_back(p.temperature);
        v.push_back(p.sensorValue);
    }
    edit.SetCurveData(t, v, curve.PointCount(), curve.unitCode);
    edit.SetHeader(curve.sensorName, curve.sensorType, curve.multiplier, curve.unitCode,
                   curve.PointCount(), IsCrvPath(path));
    edit.saveAsCrv = presetSave;
    edit.Open();
    auto r = op.EditCurveHeader(edit);
    if (!r.Ok()) return false;
    r.value.GetHeader(curve.sensorName, curve.sensorType, curve.multiplier, curve.unitText);
    // The source decides whether saving is possible, whatever the front end did.
    r.value.sourceIsCrv = edit.sourceIsCrv;
    saveRequested = r.value.SaveRequested();
    return true;
}

// Leading decimal digits of a reply (0 when none).
int LeadingInt(const std::string& text) {
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
}

void ConnectionFailed(LinkContext& ctx) {
    ctx.op.ShowMessage(ct::kConnectionFailed, MessageIcon::None);
    if (ctx.link.GetPortType() == kPortRs232)
        for (const char* line : texts::kRs232CheckList) ctx.log.Append(line);
}

}  // namespace

bool WriteTextFileCrLf(const std::string& path, const std::string& text) {
    std::string error;
    std::FILE* f = files::OpenOutputStream(path, error);
    if (!f) return false;
    struct stat st {};
    const bool regular = ::fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode);
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') out.push_back('\r');
        out.push_back(c);
    }
    const bool written = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    if (std::fclose(f) == 0 && written) return true;
    // A partly written table must not be mistaken for a good one (a device or pipe the
    // operator named stays).
    if (regular) std::remove(path.c_str());
    return false;
}

// ---------------------------------------------------------------------------------------------
// File operations

int CheckCurveFile(OperatorInterface& op, LogSink& log, const std::string& path, int& headerLines) {
    auto syntax = [&] {
        op.ShowMessage(ct::kFileSyntaxError, MessageIcon::None);
        log.Append(WithPath(ct::kLogSyntaxError, path));
        return 0;
    };
    LineReader reader(path, SensorCurve::kCrvLineMax);
    if (!reader.IsOpen()) return syntax();
    std::string line;
    // Header search: the first line holding two numbers starts the points.
    int first = 0;
    while (first == 0 && reader.LineNumber() < 5) {
        const LineReader::Outcome o = reader.Next(line);
        if (o != LineReader::kLine && o != LineReader::kLastLine) return syntax();
        float a = 0, b = 0;
        if (ScanC(line.c_str(), "%f %f", &a, &b) == 2) first = reader.LineNumber();
        if (o == LineReader::kLastLine) break;
    }
    if (first < 3 || first > 5) return syntax();
    headerLines = first - 1;
    int count = 1;
    for (;;) {
        const LineReader::Outcome o = reader.Next(line);
        if (o == LineReader::kEnd) break;
        if (o == LineReader::kError || o == LineReader::kTooLong) return syntax();
        if (!line.empty() && line[0] == ';') break;
        float value = 0, kelvin = 0;
        if (ScanC(line.c_str(), "%f %f", &value, &kelvin) != 2 || kelvin < 0) return syntax();
        ++count;
        if (o == LineReader::kLastLine) break;
    }
    if (count < 3) {
        op.ShowMessage(ct::kNotEnoughEntries, MessageIcon::None);
        log.Append(WithPath(ct::kLogNotEnoughEntries, path));
        return 0;
    }
    const int max = static_cast<int>(SensorCurve::kMaxCurvePoints);
    if (count > max) {
        op.ShowMessage(FormatC(ct::kMoreThanEntries, max), MessageIcon::None);
        log.Append(FormatC(ct::kLogMoreThanEntries, max, path.c_str()));
        return 0;
    }
    return count;
}

int SaveCurveFile(OperatorInterface& op, SensorCurve curve) {
    auto r = op.AskSaveFile(SaveRequest(ct::kCrvSaveFilter, ct::kCrvExtension));
    if (!r.Ok()) return kCurveSaveCancelled;
    if (!curve.WriteCrvFile(r.value)) {
        op.ShowMessage(ct::kFailedToCreateFile, MessageIcon::Exclamation);
        return kCurveSaveFailed;
    }
    return kCurveSaved;
}

void ReportCurveErrors(LogSink& log, SensorCurve curve) {
    auto line = [&](const std::string& text, bool marked) {
        log.Append(text + (marked ? ct::kLogErrorMark : "") + "\n");
    };
    line(curve.sensorName, false);
    line(curve.sensorType, curve.typeError);
    line(curve.multiplierText, curve.multiplierError);
    line(curve.unitText, curve.unitError);
    for (const CurvePoint& p : curve.points) line(p.lineText, p.lineError);
}

void ReportFileResult(LogSink& log, int result, const SensorCurve& curve) {
    switch (result) {
        case kCurveReadNoPath:
            log.Append(ct::kLogNoFileName);
            break;
        case kCurveReadCannotOpen:
            log.Append(ct::kLogCannotOpenInput);
            break;
        case kCurveReadCannotOpenOutput:
            log.Append(ct::kLogCannotOpenOutput);
            break;
        case kCurveReadTooManyPoints:
            log.Append(FormatC(ct::kLogTooManyPoints,
                               static_cast<int>(SensorCurve::kMaxCurvePoints), curve.stopLine));
            break;
        case kCurveReadLineTooLong:
            log.Append(FormatC(ct::kLogLineTooLong, curve.stopLine));
            break;
        default:
            break;
    }
}

// ---------------------------------------------------------------------------------------------
// Curve download

void DownloadCurve(CurveContext& ctx) {
    SessionLock lock(ctx.sessionMutex, kLockWaitMs);
    if (!lock) return;
    CurveDialogs& op = ctx.dialogs;
    auto file = op.AskOpenFile(OpenRequest(ct::kDownloadFilter, ct::kDownloadExtension));
    if (!file.Ok()) return;
    const std::string path = file.value;

    SensorCurve curve;
    const CurveReadResult read = IsCrvPath(path) ? SensorCurve::ReadCrvFile(path, curve)
                                                 : SensorCurve::Read340File(path, curve);
    if (read == kCurveReadFieldErrors) {
        op.ShowMessage(ct::kFormatError, MessageIcon::Stop);
        ReportCurveErrors(ctx.log, curve);
        return;
    }
    if (read != kCurveReadOk) {
        ReportFileResult(ctx.log, read, curve);
        return;
    }
    if (curve.PointCount() < 4) {
        op.ShowMessage(ct::kNotEnoughPoints, MessageIcon::None);
        ctx.log.Append(WithPath(ct::kLogNotEnoughPoints, path));
        return;
    }
    bool save = false;
    if (!EditHeader(op, curve, path, false, save)) return;

    // Every line of the table is known now: one that cannot go out as it stands stops the
    // download before the instrument is addressed at all.
    std::vector<std::pair<std::string, std::string>> lines = {
        // field, line
        {ct::kFieldName, curve.sensorName},
        {ct::kFieldType, curve.sensorType},
        {ct::kFieldMultiplier, FormatC("%f", static_cast<double>(curve.multiplier))},
        {ct::kFieldUnit, curve.unitText}};
    const uint32_t count = curve.PointCount();
    for (uint32_t i = 0; i < count; ++i) {
        const CurvePoint& p = curve.points[i];
        lines.emplace_back(FormatC(ct::kFieldPoint, static_cast<int>(i + 1)),
                           FormatC("%f     %f", static_cast<double>(p.sensorValue),
                                   static_cast<double>(p.temperature)));
    }
    for (const auto& [field, line] : lines) {
        if (const char* fault = TableLineFault(line)) {
            op.ShowMessage(FormatC(ct::kCannotSend, field.c_str(), fault), MessageIcon::Stop);
            ctx.log.Append(FormatC(ct::kLogCannotSend, field.c_str(), fault));
            return;
        }
    }
    if (save) SaveCurveFile(op, curve);

    const int n = ChooseUserCurve(ctx);
    if (n == 0) return;

    std::string idn;
    if (ctx.link.Query("*IDN?", idn, 0) != 0) {
        ReportCommunicationFailure(ctx.link, op, ctx.log);
        return;
    }

    auto progress = op.OpenProgress();
    progress->SetMessage(FormatC(ct::kDownloadingCurve, n));
    progress->SetRange(0, 100);

    // The first line that does not reach the instrument ends the transfer: numbered from the
    // "CALC" line (1) to the closing ";".
    const int total = static_cast<int>(lines.size()) + 2;
    OpenTable table(ctx.link, ctx.tableOpen, FormatC(ct::kTableUserCurve, n));
    auto abandon = [&](const std::string& logLine) {
        AbandonTableDownload(ctx, *progress, logLine);
    };
    auto failedAt = [&](int failedLine) {
        abandon(FormatC(ct::kLogCurveNotDownloaded, n, failedLine, total));
    };
    if (SendTableLine(ctx.link, FormatC("CALC %d", n), 1, false) == TableLineResult::kFailed)
        return failedAt(1);
    bool refused = false;
    int pointsTaken = 0;
    for (size_t k = 0; k < lines.size(); ++k) {
        const std::string& line = lines[k].second;
        const TableLineResult r = SendTableLine(ctx.link, line, 1, true);
        if (r == TableLineResult::kFailed) {
            ctx.log.Append(line + "\n");
            return failedAt(static_cast<int>(k) + 2);
        }
        const bool marked = r == TableLineResult::kRefused;
        refused = refused || marked;
        ctx.log.Append(line + (marked ? ct::kLogSendMark : "") + "\n");
        if (k >= 4) {
            if (!marked) ++pointsTaken;
            const uint32_t i = static_cast<uint32_t>(k - 4);
            progress->SetPos(static_cast<int>(100.0 * i / count));
            op.PumpMessages();
        }
    }
    if (SendTableLine(ctx.link, ";", 0, false) == TableLineResult::kFailed) return failedAt(total);
    ctx.log.Append(";\n");
    // Sent is not arrived: the instrument's count of the curve must be the points it took.
    std::string reply;
    const int held = ReadBackCount(ctx.link, FormatC("SENSORIX %d:NENTRY?", 60 + n), reply);
    if (held == -1) return abandon(FormatC(ct::kLogCurveNotConfirmed, n));
    table.Done();
    if (held != pointsTaken) {
        progress->Close();
        const std::string shown = held >= 0 ? std::to_string(held) : ShownReply(reply);
        op.ShowMessage(FormatC(ct::kCurveNotWhole, n, shown.c_str(), pointsTaken),
                       MessageIcon::Stop);
        ctx.log.Append(FormatC(ct::kLogCurveNotWhole, n, shown.c_str(), pointsTaken));
        return;
    }
    // The bar stops one point short of the end; it is full before "Download Complete".
    progress->SetPos(100);
    op.ShowMessage(ct::kDownloadComplete, MessageIcon::None);
    ctx.log.Append(FormatC(ct::kLogCurveDownloaded, n, path.c_str()));
    progress->Close();
    if (refused) op.ShowMessage(ct::kErrorsDisplayed, MessageIcon::Stop);
}

// ---------------------------------------------------------------------------------------------
// Curve upload

void UploadCurve(CurveContext& ctx) {
    SessionLock lock(ctx.sessionMutex, kLockWaitMs);
    if (!lock) return;
    CurveDialogs& op = ctx.dialogs;
    std::string idn;
    if (ctx.link.Query("*IDN?", idn, 0) != 0 || !InstrumentReached(ctx.link) || idn.empty() ||
        idn == ";") {
        ReportCommunicationFailure(ctx.link, op, ctx.log);
        return;
    }
    auto file = op.AskSaveFile(SaveRequest(ct::kCrvSaveFilter, ct::kCrvExtension));
    if (!file.Ok()) return;
    const std::string path = file.value;

    const int n = ChooseUserCurve(ctx);
    if (n == 0) return;

    std::string countReply;
    if (ctx.link.Query(FormatC("SENSORIX %d:NENTRY?", 60 + n), countReply, 1) != 0) {
        ReportCommunicationFailure(ctx.link, op, ctx.log);
        return;
    }
    // The count only drives the progress bar: one that is not positive (an empty curve, or a
    // reply that is no number) is taken as 1 and the instrument's table decides.
    const int entries = std::max(LeadingInt(countReply), 1);
    ctx.sleep(kUploadPause);

    std::string table;
    const std::string command = FormatC("CALC? %d", n);
    const int got = ctx.link.FetchTable(entries, FormatC(ct::kUploadingCurve, n), &command, &table);
    if (got < 0) {
        ConnectionFailed(ctx);
        return;
    }
    // "Upload Complete" only once the file holds the curve.
    const bool written = WriteTextFileCrLf(path, table);
    op.ShowMessage(written ? ct::kUploadComplete : ct::kFailedToCreateFile,
                   written ? MessageIcon::None : MessageIcon::Exclamation);
    ctx.log.Append(table);
    ctx.log.Append(written ? FormatC(ct::kLogCurveUploaded, n, path.c_str())
                           : std::string(ct::kLogCannotOpenOutput));
}

// ---------------------------------------------------------------------------------------------
// Conversion

void ConvertCurve(CurveDialogs& op, LogSink& log) {
    auto file = op.AskOpenFile(OpenRequest(ct::kConvertFilter, ct::kConvertExtension));
    if (!file.Ok()) return;
    const std::string path = file.value;
    SensorCurve curve;
    if (SensorCurve::Read340File(path, curve) != kCurveReadOk) {
        op.ShowMessage(ct::kFailedToReadFile, MessageIcon::Stop);
        return;
    }
    if (curve.PointCount() < 4) {
        op.ShowMessage(ct::kNotEnoughPoints, MessageIcon::None);
        log.Append(WithPath(ct::kLogNotEnoughPoints, path));
        return;
    }
    bool save = false;
    if (!EditHeader(op, curve, path, true, save)) {
        op.ShowMessage(ct::kAbortedConversion, MessageIcon::None);
        log.Append(ct::kLogAbortedConversion);
        return;
    }
    // "saved" only when a file was written: a cancelled or failed save says "not saved".
    if (save && SaveCurveFile(op, curve) == kCurveSaved) {
        op.ShowMessage(ct::kConvertedSaved, MessageIcon::Information);
        log.Append(ct::kLogConvertedSaved);
        return;
    }
    op.ShowMessage(ct::kConvertedNotSaved, MessageIcon::None);
    log.Append(ct::kLogConvertedNotSaved);
}

}  // namespace tavrix
