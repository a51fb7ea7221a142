#include "calgen/CalGenCommand.h"

#include <cmath>
#include <cstdio>

#include "base/CNumeric.h"
#include "base/FileSafety.h"
#include "curves/CurveCommands.h"
#include "curves/LineReader.h"

namespace tavrix {

namespace {

constexpr size_t kLineMax = 63;  // characters of a curve file line

// The next line of the file as the frame reads it: a final line without LF counts.
bool NextLine(LineReader& reader, std::string& line) {
    const LineReader::Outcome o = reader.Next(line);
    return o == LineReader::kLine || o == LineReader::kLastLine;
}

}  // namespace

int ValidateReferencePoint(CalGenContext& ctx, CalGenSource& source, float t, float u,
                           const ReferenceTest& test) {
    const float s = EvalCurve(t, *source.curve);
    if (s < 0) {
        ctx.op.ShowMessage(FormatC(calgen_texts::kOutsideSourceBox, t), MessageIcon::None);
        const char* log = test.rangeDecimals == 2 ? calgen_texts::kOutsideCurveLog2
                                                  : calgen_texts::kOutsideCurveLog6;
        ctx.log.Append(FormatC(log, t, source.path.c_str()));
        return kReferenceOutsideCurve;
    }
    // The difference is rounded to float; the ratio and its comparison are double.
    const float diff = s - u;
    const double r = static_cast<double>(std::fabs(diff)) / s;
    if (r > 0.05) {
        ctx.op.ShowMessage(test.fivePercentMessage, MessageIcon::None);
        ctx.log.Append(FormatC(calgen_texts::kFivePercentLog, u, t));
        return kReferenceOffTooFar;
    }
    return kReferencePasses;
}

CalGenCurvePtr ReadCalGenPoints(const std::string& path, int headerLines, int points) {
    if (points < 0 || headerLines < 0) return nullptr;
    LineReader reader(path, kLineMax);
    if (!reader.IsOpen()) return nullptr;
    std::string line;
    for (int i = 0; i < headerLines; ++i)
        if (!NextLine(reader, line)) return nullptr;
    CalGenCurvePtr curve = MakeCalGenCurve(points);
    if (!curve) return nullptr;
    for (int i = 0; i < points; ++i) {
        if (!NextLine(reader, line)) return nullptr;
        float reading = 0.0f, temperature = 0.0f;
        ScanC(line.c_str(), "%f %f", &reading, &temperature);
        curve->points[i] = {reading, temperature};
    }
    return curve;
}

int LoadCalGenSource(CalGenContext& ctx, CalGenSource& out) {
    FileDialogRequest request;
    request.filter = calgen_texts::kSourceFilter;
    request.defaultExtension = calgen_texts::kExtension;
    request.options = kFileMustExist | kHideReadOnly;
    const DialogResult<std::string> chosen = ctx.op.AskOpenFile(request);
    if (!chosen.Ok()) return kCalGenCancelled;

    int headerLines = 0;
    const int points = CheckCurveFile(ctx.op, ctx.log, chosen.value, headerLines);
    if (points == 0) return kCalGenFailed;
    CalGenCurvePtr curve = ReadCalGenPoints(chosen.value, headerLines, points);
    if (!curve) {
        // The file changed or vanished since the check.
        ctx.op.ShowMessage(calgen_texts::kCannotReadSourceBox, MessageIcon::Exclamation);
        ctx.log.Append(FormatC("Cannot read %s.\n", chosen.value.c_str()));
        return kCalGenFailed;
    }
    out.path = chosen.value;
    out.headerLines = headerLines;
    out.curve = std::move(curve);
    return 0;
}

void ListCalGenCurve(LogSink& log, const std::string& heading, const CalGenCurve& curve) {
    log.Append(heading);
    for (int i = 0; i < curve.count; ++i)
        log.Append(FormatC(calgen_texts::kListingLine, curve.points[i].reading,
                           curve.points[i].temperature));
    log.Append(calgen_texts::kListingEnd);
}

bool CalGenFileText(const std::string& sourcePath, int headerLines, const CalGenCurve& curve,
                    std::string& text) {
    LineReader reader(sourcePath, kLineMax);
    if (!reader.IsOpen()) return false;
    text.clear();
    std::string line;
    for (int i = 0; i < headerLines; ++i) {
        if (!NextLine(reader, line)) return false;
        text += line;
        text += "\r\n";
    }
    for (int i = 0; i < curve.count; ++i) {
        text += FormatC("%f %f", curve.points[i].reading, curve.points[i].temperature);
        text += "\r\n";
    }
    text += ";\r\n";
    return true;
}

int WriteCalGenFile(const std::string& sourcePath, int headerLines, const CalGenCurve& curve,
                    const std::string& outPath) {
    std::string text;
    if (!CalGenFileText(sourcePath, headerLines, curve, text)) return -1;
    std::string error;
    std::FILE* f = files::OpenOutputStream(outPath, error);
    if (!f) return -2;
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) {
        // A partly written curve must not be mistaken for a good one.
        std::remove(outPath.c_str());
        return -2;
    }
    return 0;
}

int WriteCalGenCurve(CalGenContext& ctx, const CalGenSource& source, const CalGenCurve& curve) {
    FileDialogRequest request;
    request.filter = calgen_texts::kOutputFilter;
    request.defaultExtension = calgen_texts::kExtension;
    request.options = kOverwritePrompt | kHideReadOnly;
    const DialogResult<std::string> chosen = ctx.op.AskSaveFile(request);
    if (!chosen.Ok()) return kCalGenCancelled;

    const int status = WriteCalGenFile(source.path, source.headerLines, curve, chosen.value);
    if (status == -1) {
        ctx.op.ShowMessage(calgen_texts::kCannotReadSourceBox, MessageIcon::Exclamation);
        ctx.log.Append(FormatC(calgen_texts::kCannotReadSourceLog, source.path.c_str()));
        return kCalGenFailed;
    }
    if (status != 0) {
        ctx.op.ShowMessage(calgen_texts::kCannotWriteBox, MessageIcon::Exclamation);
        ctx.log.Append(FormatC(calgen_texts::kCannotWriteLog, chosen.value.c_str()));
        return kCalGenFailed;
    }
    return kCalGenWritten;
}

}  // namespace tavrix
