// The .crv curve file reader. A curve read without complaint, of at least four points (the
// least the program saves), is also written back as the program saves it and read again: it
// must come back with the same header and points.

#include "CurveCompare.h"
#include "FuzzSupport.h"

using namespace tavrix;
using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::WriteScratchFile("input.crv", fuzz::Text(data, size));
    SensorCurve curve;
    const CurveReadResult r = SensorCurve::ReadCrvFile(path, curve);
    Check(r == kCurveReadOk || r == kCurveReadStreamFailed || r == kCurveReadFieldErrors ||
              r == kCurveReadTooManyPoints || r == kCurveReadLineTooLong,
          "an unexpected result of the .crv reader");
    if (r == kCurveReadTooManyPoints || r == kCurveReadLineTooLong) {
        Check(curve.points.empty() && curve.stopLine > 0,
              "a stopped read that changed the record or named no line");
        return 0;
    }
    Check(fuzz::WithinBounds(curve, SensorCurve::kCrvLineMax), "a record beyond its bounds");
    if (r != kCurveReadOk) return 0;
    for (size_t i = 1; i < curve.points.size(); ++i)
        Check(!(curve.points[i].sensorValue < curve.points[i - 1].sensorValue),
              "points not in ascending order");

    // The program saves only curves of four points or more: their header lines are all there.
    if (curve.PointCount() < 4) return 0;
    const std::string again = fuzz::WriteScratchFile("again.crv", curve.CrvText());
    SensorCurve back;
    Check(SensorCurve::ReadCrvFile(again, back) == kCurveReadOk,
          "a saved curve that does not read back");
    Check(back.sensorName == curve.sensorName.substr(0, SensorCurve::kNameWritten) &&
              back.sensorType == curve.sensorType && back.unitText == curve.unitText &&
              back.unitCode == curve.unitCode,
          "a saved curve whose header reads back changed");
    Check(fuzz::PointBits(back) == fuzz::PointBits(curve),
          "a saved curve whose points read back changed");
    return 0;
}
