#include "calgen/CalGenCurve.h"

#include <algorithm>
#include <cmath>
#include <new>

// The arithmetic below is deliberately mixed: single precision where the values are stored as
// floats, double for the rest of the spline sum and its constants, extended precision for the
// shift. Generated curves must come out identical to the ones the program has always produced,
// to the last printed digit. Do not "tidy" it into one precision.

namespace tavrix {

namespace {

// 1/6 as a float: the value the spline always used.
constexpr float kSixth = 1.0f / 6.0f;

constexpr double kBoundary = 30.0;  // kelvin; the fixed region boundary of a shift
constexpr double kMinAnchorGap = 10.0;

// Ascending temperature; NaN sorts last so that the order stays strict.
bool KnotBefore(const SplineKnot& a, const SplineKnot& b) {
    if (std::isnan(a.temperature)) return false;
    if (std::isnan(b.temperature)) return true;
    return a.temperature < b.temperature;
}

}  // namespace

CalGenCurvePtr MakeCalGenCurve(int count) {
    if (count < 0) return nullptr;
    CalGenCurvePtr curve(new (std::nothrow) CalGenCurve);
    if (!curve) return nullptr;
    curve->count = count;
    curve->points.reset(new (std::nothrow) CalGenPoint[count > 0 ? count : 1]);
    if (!curve->points) return nullptr;
    return curve;
}

void FreeCalGenCurve(CalGenCurvePtr& curve) {
    curve.reset();
}

int BuildSplineTable(CalGenCurve& c) {
    const int n = c.count;
    if (n < 1 || !c.points) return -1;
    std::unique_ptr<SplineKnot[]> t(new (std::nothrow) SplineKnot[n]);
    if (!t) return -1;
    for (int i = 0; i < n; ++i) t[i] = {c.points[i].temperature, c.points[i].reading, 0.0f};
    std::stable_sort(t.get(), t.get() + n, KnotBefore);

    std::unique_ptr<float[]> u(new (std::nothrow) float[n]);
    if (!u) return -1;
    t[0].y2 = 0.0f;
    u[0] = 0.0f;
    for (int i = 1; i < n - 1; ++i) {
        const float xm = t[i - 1].temperature, x = t[i].temperature, xp = t[i + 1].temperature;
        const float ym = t[i - 1].reading, y = t[i].reading, yp = t[i + 1].reading;
        const float sig = (x - xm) / (xp - xm);
        const float p = sig * t[i - 1].y2 + 2.0;
        t[i].y2 = (sig - 1.0) / p;
        const float d = (yp - y) / (xp - x) - (y - ym) / (x - xm);
        u[i] = (6.0 * d / (xp - xm) - sig * u[i - 1]) / p;
    }
    t[n - 1].y2 = 0.0f;
    for (int k = n - 2; k >= 0; --k) t[k].y2 = t[k].y2 * t[k + 1].y2 + u[k];

    c.table = std::move(t);
    return 0;
}

float EvalCurve(float temperature, CalGenCurve& c) {
    const int n = c.count;
    if (n < 3) return -1.0f;
    if (!c.table && BuildSplineTable(c) != 0) return -1.0f;
    const SplineKnot* k = c.table.get();

    int i = c.cursor >= 0 && c.cursor <= n - 2 ? c.cursor : n / 2;
    while (k[i + 1].temperature < temperature) {
        if (++i >= n - 1) return -1.0f;
    }
    while (!(k[i].temperature < temperature)) {
        if (i == 0) return -1.0f;
        --i;
    }
    c.cursor = i;

    // Only h, b, a and a^3 - a are held as floats; b^3 - b and the sum are double, rounded to
    // a float once at the end.
    const float h = k[i + 1].temperature - k[i].temperature;
    const float b = (temperature - k[i].temperature) / h;
    const float a = 1 - b;
    const double ad = a, bd = b, hd = h;
    const float a3 = static_cast<float>(ad * ad * ad - ad);
    const double b3 = bd * bd * bd - bd;
    const double sum = ad * k[i].reading + bd * k[i + 1].reading +
                       (static_cast<double>(a3) * k[i].y2 + b3 * k[i + 1].y2) * (hd * hd) *
                           static_cast<double>(kSixth);
    return static_cast<float>(sum);
}

CalGenCurvePtr ShiftCurve(CalGenCurve& curve, int region, float ta, float ua, float tb, float ub) {
    const float vb = EvalCurve(tb, curve);
    const float va = EvalCurve(ta, curve);

    const int n = curve.count;
    CalGenCurvePtr out = MakeCalGenCurve(n);
    if (!out) return nullptr;
    const float gap = ta - tb;
    if (gap < kMinAnchorGap) return nullptr;
    if (region < kShiftAbove30 || region > kShiftBelow30) return nullptr;
    const float sSrc = (va - vb) / gap;
    const float sRef = (ua - ub) / gap;

    for (int i = 0; i < n; ++i) {
        const float ti = curve.points[i].temperature;
        const float ui = curve.points[i].reading;
        const long double shifted =
            static_cast<long double>(ui) + (static_cast<long double>(ub) - vb) +
            (static_cast<long double>(ti) - tb) * (static_cast<long double>(sRef) - sSrc);
        bool keep = false;
        switch (region) {
            case kShiftAbove30:
                keep = ti < kBoundary;
                break;
            case kShiftBetween:
                keep = ti <= kBoundary || (tb > kBoundary && ti < tb);
                break;
            default:  // kShiftBelowAnchor, kShiftBelow30
                keep = tb < kBoundary && ti > kBoundary;
                break;
        }
        out->points[i].temperature = ti;
        out->points[i].reading = keep ? ui : static_cast<float>(shifted);
    }
    return out;
}

}  // namespace tavrix
