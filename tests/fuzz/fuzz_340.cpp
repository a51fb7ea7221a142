// The .340 curve file reader, through the conversion command: a file read without complaint
// and holding at least four points is converted (header accepted as shown) and saved as a
// .crv file, which must read back with the same points.

#include "CurveCompare.h"
#include "FuzzSupport.h"
#include "curves/CurveTexts.h"

using namespace tavrix;
using fuzz::Check;

namespace {
bool Shown(const test::ScriptedOperator& op, const char* text) {
    for (const auto& m : op.messages)
        if (m.text == text) return true;
    return false;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::WriteScratchFile("input.340", fuzz::Text(data, size));
    SensorCurve curve;
    const CurveReadResult r = SensorCurve::Read340File(path, curve);
    Check(r == kCurveReadOk || r == kCurveReadStreamFailed || r == kCurveReadFieldErrors ||
              r == kCurveReadTooManyPoints || r == kCurveReadLineTooLong,
          "an unexpected result of the .340 reader");
    if (r == kCurveReadTooManyPoints || r == kCurveReadLineTooLong)
        Check(curve.points.empty() && curve.stopLine > 0,
              "a stopped read that changed the record or named no line");
    else
        Check(fuzz::WithinBounds(curve, SensorCurve::k340LineMax), "a record beyond its bounds");

    const std::string out = fuzz::ScratchFolder() + "/converted.crv";
    std::remove(out.c_str());
    test::ScriptedOperator op;
    test::CollectingLog log;
    op.openFileAnswers.push_back(DialogResult<std::string>::Accept(path));
    op.headerAnswers.push_back(test::ScriptedOperator::AcceptHeader());
    op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(out));
    ConvertCurve(op, log);

    if (r != kCurveReadOk) {
        Check(Shown(op, curve_texts::kFailedToReadFile), "a bad file not reported");
        return 0;
    }
    if (curve.PointCount() < 4) {
        Check(Shown(op, curve_texts::kNotEnoughPoints), "a short curve not reported");
        return 0;
    }
    Check(Shown(op, curve_texts::kConvertedSaved), "a conversion that did not save");
    SensorCurve back;
    Check(SensorCurve::ReadCrvFile(out, back) == kCurveReadOk,
          "a converted curve that does not read back");
    // Codes 0 and 2 are both volts, and saved as such.
    Check(UnitIndexOfCode(back.unitCode) == UnitIndexOfCode(curve.unitCode),
          "a converted curve whose unit changed");
    Check(fuzz::PointBits(back) == fuzz::PointBits(curve),
          "a converted curve whose points changed");
    return 0;
}
