#pragma once

#include <memory>

namespace tavrix {

// One point of a curve being generated, in the order of the source file.
struct CalGenPoint {
    float reading = 0.0f;      // sensor units (volts, ohms)
    float temperature = 0.0f;  // kelvin
};

// One knot of the interpolation table, sorted by temperature.
struct SplineKnot {
    float temperature = 0.0f;
    float reading = 0.0f;
    float y2 = 0.0f;  // second derivative of the reading over temperature
};

// The interpolating curve of curve generation. The table is built from the points at the first
// evaluation and never rebuilt, so later changes of the points do not reach evaluations.
struct CalGenCurve {
    int count = 0;
    int cursor = -1;  // table segment of the last evaluation, -1 before the first
    std::unique_ptr<CalGenPoint[]> points;
    std::unique_ptr<SplineKnot[]> table;  // null until built
};

// A curve is released with its owner; FreeCalGenCurve releases it early.
using CalGenCurvePtr = std::unique_ptr<CalGenCurve>;

// A record of `count` zero points, no cursor and no table; null when memory runs out or the
// count is negative.
CalGenCurvePtr MakeCalGenCurve(int count);
void FreeCalGenCurve(CalGenCurvePtr& curve);

// Natural cubic spline over temperature, single precision. 0, or -1 when memory runs out
// (the table stays absent).
int BuildSplineTable(CalGenCurve& curve);

// The reading at `temperature`, or exactly -1.0 when the curve has fewer than 3 points, the
// table cannot be made, or the temperature lies outside (lowest, highest]. Builds the table on
// first use and moves the cursor.
float EvalCurve(float temperature, CalGenCurve& curve);

// Which points keep the input reading after a shift; the boundary is 30 K.
enum ShiftRegion : int {
    kShiftAbove30 = 0,      // T < 30 kept
    kShiftBetween = 1,      // T <= 30 kept, and T < Tb when Tb > 30
    kShiftBelowAnchor = 2,  // when Tb < 30: T > 30 kept
    kShiftBelow30 = 3,      // as 2
};

// A new curve with the same temperatures whose readings carry the straight line in temperature
// through (Ta, Ua - curve(Ta)) and (Tb, Ub - curve(Tb)), limited by the region rule. Null when
// Ta - Tb is below 10 K, the region is not 0..3, or memory runs out. Evaluates `curve` (its
// table may be built) and leaves its points as they are.
CalGenCurvePtr ShiftCurve(CalGenCurve& curve, int region, float ta, float ua, float tb, float ub);

}  // namespace tavrix
