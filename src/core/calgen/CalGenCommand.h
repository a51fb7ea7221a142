#pragma once

#include <string>

#include "base/OperatorInterface.h"
#include "calgen/CalGenCurve.h"
#include "calgen/CalGenDialogs.h"

namespace tavrix {

// What a generation command works with: the operator and the view's message log. Curve
// generation works on files alone and never addresses the instrument.
struct CalGenContext {
    CalGenDialogs& op;
    LogSink& log;
};

// How a generation command ended.
enum CalGenStatus : int {
    kCalGenWritten = 0,    // the output file was written
    kCalGenCancelled = 1,  // the operator cancelled a dialog; no output
    kCalGenFailed = -1,    // a failure was reported (message box and log); no output
};

// The source curve of a command: its path, the header lines in front of its points, the record.
struct CalGenSource {
    std::string path;
    int headerLines = 0;
    CalGenCurvePtr curve;
};

// One reference-point test of a command: the text of its 5 % message box, and the decimals of
// the temperature in its range log line (6 or 2).
struct ReferenceTest {
    const char* fivePercentMessage;
    int rangeDecimals = 6;
};

enum ReferenceTestResult : int {
    kReferencePasses = 0,
    kReferenceOutsideCurve = -1,
    kReferenceOffTooFar = -2,
};

// Tests an entered point (T, U) against the source: the curve must cover T and U must lie within
// 5 % of the curve's reading there (exactly 5 % passes). A failure is shown and logged.
int ValidateReferencePoint(CalGenContext& ctx, CalGenSource& source, float t, float u,
                           const ReferenceTest& test);

// Chooses the source file, checks it and reads it. kCalGenWritten (0) when `out` holds the
// source, kCalGenCancelled, or kCalGenFailed after the check reported the problem.
int LoadCalGenSource(CalGenContext& ctx, CalGenSource& out);

// Reads `points` point lines ("%f %f": reading, temperature) after `headerLines` lines. No
// tests beyond the line bound; an unreadable number stays 0. Null when the file cannot be read.
CalGenCurvePtr ReadCalGenPoints(const std::string& path, int headerLines, int points);

// The listing in the view's log: the heading, one "%f     %f" line per point in file order, ";".
void ListCalGenCurve(LogSink& log, const std::string& heading, const CalGenCurve& curve);

// The output file's text: the first `headerLines` lines of the source as read (at most 63
// characters each), one "%f %f" line per point, ";"; every line ends in CR LF. False when the
// source cannot be read or lacks those lines.
bool CalGenFileText(const std::string& sourcePath, int headerLines, const CalGenCurve& curve,
                    std::string& text);

// Writes the result file for a source. 0 written; -1 the source cannot be read again; -2 the
// output cannot be created or fully written (nothing of it is left behind).
int WriteCalGenFile(const std::string& sourcePath, int headerLines, const CalGenCurve& curve,
                    const std::string& outPath);

// Asks for the output file and writes it. kCalGenWritten, kCalGenCancelled, or kCalGenFailed
// after telling the operator (message box and log line) that no file was written.
int WriteCalGenCurve(CalGenContext& ctx, const CalGenSource& source, const CalGenCurve& curve);

// Texts of the frame.
namespace calgen_texts {
inline constexpr const char* kSourceFilter = "Curve Files (*.crv)|*.crv|All Files (*.*)|*.*||";
inline constexpr const char* kOutputFilter = "Curve Files (*.crv)|*.crv||";
inline constexpr const char* kExtension = "crv";
inline constexpr const char* kOutsideSourceBox =
    "%10.6fK is not within the range of the source curve.";
inline constexpr const char* kOutsideCurveLog6 =
    "%10.6fK is not within the range of the curve in %s.\n";
inline constexpr const char* kOutsideCurveLog2 =
    "%10.2fK is not within the range of the curve in %s.\n";
inline constexpr const char* kFivePercentLog =
    "%10.6fV is more than 5%% difference from the source curve at %10.6fK.\n";
inline constexpr const char* kListingLine = "%f     %f\n";
inline constexpr const char* kListingEnd = ";\n";
// An output that could not be written is always reported: silence means the file is there.
inline constexpr const char* kCannotReadSourceBox = "Cannot open input file";
inline constexpr const char* kCannotReadSourceLog =
    "Cannot read %s again; no curve file written.\n";
inline constexpr const char* kCannotWriteBox = "Failed to create file";
inline constexpr const char* kCannotWriteLog = "Cannot write %s; no curve file written.\n";
}  // namespace calgen_texts

}  // namespace tavrix
