// The pre-check of a curve file (curve generation's source), and the reading that trusts it:
// a file the check passes must then be read as the check counted it.

#include "FuzzSupport.h"
#include "calgen/CalGenCommand.h"

using namespace tavrix;
using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::WriteScratchFile("source.crv", fuzz::Text(data, size));
    test::ScriptedOperator op;
    test::CollectingLog log;

    int headerLines = -1;
    const int points = CheckCurveFile(op, log, path, headerLines);
    if (points == 0) {
        Check(op.messages.size() == 1 && log.lines.size() == 1,
              "a rejected file not reported once");
        return 0;
    }
    Check(points >= 3 && points <= static_cast<int>(SensorCurve::kMaxCurvePoints),
          "a point count out of range");
    Check(headerLines >= 2 && headerLines <= 4, "a header line count out of range");
    Check(op.messages.empty(), "a message for a file that passed");

    // The source as curve generation loads it.
    CalGenContext ctx{op, log};
    CalGenSource source;
    op.openFileAnswers.push_back(DialogResult<std::string>::Accept(path));
    Check(LoadCalGenSource(ctx, source) == 0, "a checked file that does not load");
    Check(source.curve && source.curve->count == points && source.headerLines == headerLines,
          "a loaded source that differs from its check");
    std::string text;
    Check(CalGenFileText(path, headerLines, *source.curve, text),
          "a checked file whose header cannot be copied");
    return 0;
}
