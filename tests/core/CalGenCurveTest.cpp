#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "calgen/CalGenCurve.h"

namespace tavrix {
namespace {

using Points = std::vector<std::pair<float, float>>;  // (reading, temperature)

CalGenCurvePtr Curve(const Points& pts) {
    CalGenCurvePtr c = MakeCalGenCurve(static_cast<int>(pts.size()));
    for (size_t i = 0; i < pts.size(); ++i) c->points[i] = {pts[i].first, pts[i].second};
    return c;
}

std::string F(float v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%f", v);
    return buf;
}

// A diode-like curve whose spline is far from linear.
const Points kDiode = {{1.69f, 2},   {1.62f, 4},   {1.47f, 10},  {1.29f, 20},
                       {1.12f, 30},  {1.09f, 40},  {1.06f, 50},  {1.03f, 77},
                       {0.99f, 100}, {0.90f, 150}, {0.80f, 200}, {0.69f, 250},
                       {0.57f, 300}, {0.45f, 350}, {0.33f, 400}, {0.15f, 475}};

TEST(CalGenCurveTest, LinearReadingsInterpolateLinearlyAndEndsFollowTheSegmentRule) {
    auto c = Curve({{1, 10}, {2, 20}, {3, 30}});
    EXPECT_EQ(EvalCurve(15.0f, *c), 1.5f);
    EXPECT_EQ(EvalCurve(30.0f, *c), 3.0f);   // highest temperature is inside
    EXPECT_EQ(EvalCurve(10.0f, *c), -1.0f);  // lowest counts as outside
    EXPECT_EQ(EvalCurve(30.001f, *c), -1.0f);
    EXPECT_EQ(EvalCurve(9.0f, *c), -1.0f);

    auto two = Curve({{1, 10}, {2, 20}});
    for (float t : {10.0f, 15.0f, 20.0f}) EXPECT_EQ(EvalCurve(t, *two), -1.0f);
    EXPECT_EQ(two->table, nullptr);
}

// Expected values worked out independently: the table in single precision (float operations,
// the double constants 2.0, 1.0 and 6.0, 1/6 as a float); the evaluation with h, b, a and
// a^3 - a as floats and the rest of the sum in double, rounded once. A double-precision spline
// differs in the last bits at 15, 77.35 and 450 K, an all-float evaluation at 3 and 123.4 K.
TEST(CalGenCurveTest, SplineIsExactToTheBit) {
    auto c = Curve(kDiode);
    const std::pair<float, float> expected[] = {{3.0f, 0x1.a77614p+0f},   {15.0f, 0x1.60f47cp+0f},
                                                {35.0f, 0x1.18110ap+0f},  {77.35f, 0x1.07991ep+0f},
                                                {123.4f, 0x1.e480cap-1f}, {300.0f, 0x1.23d70ap-1f},
                                                {450.0f, 0x1.ae0854p-3f}, {475.0f, 0x1.333334p-3f}};
    for (const auto& [t, v] : expected) EXPECT_EQ(EvalCurve(t, *c), v) << t;
    ASSERT_NE(c->table, nullptr);
    EXPECT_EQ(c->table[1].y2, 0x1.c00c0cp-9f);
    EXPECT_EQ(c->table[3].y2, -0x1.653b92p-11f);
}

// Temperatures where the printed reading ("%f", as the generated files hold it) depends on
// the evaluation keeping b^3 - b and the sum wide; all-float arithmetic prints the digit in
// brackets.
TEST(CalGenCurveTest, PrintedReadingsMatchTheMixedPrecisionSum) {
    auto c = Curve(kDiode);
    const std::pair<float, const char*> cases[] = {
        {3.65f, "1.631650"},   // [1.631649]
        {3.7f, "1.629962"},    // [1.629963]
        {10.05f, "1.469010"},  // [1.469011]
        {17.7f, "1.331749"},   // [1.331748]
        {22.45f, "1.242667"},  // [1.242668]
        {29.0f, "1.131167"},   // [1.131168]
    };
    for (const auto& [t, printed] : cases) EXPECT_EQ(F(EvalCurve(t, *c)), printed) << t;
}

TEST(CalGenCurveTest, DescendingSourceAndAnyCursorGiveTheSameEvaluations) {
    Points reversed(kDiode.rbegin(), kDiode.rend());
    auto up = Curve(kDiode);
    auto down = Curve(reversed);
    const float temps[] = {450, 3, 300, 15, 123.4f, 35, 77.35f, 2.5f, 474.9f, 30};
    for (float t : temps) EXPECT_EQ(EvalCurve(t, *up), EvalCurve(t, *down)) << t;
    // Fresh records (cursor at the middle) agree with the ones moved about above.
    for (float t : temps) EXPECT_EQ(EvalCurve(t, *Curve(kDiode)), EvalCurve(t, *up)) << t;
    EXPECT_EQ(down->points[0].temperature, 475.0f);  // points stay in file order
}

TEST(CalGenCurveTest, TableIsBuiltOnceFromThePointsOfTheFirstEvaluation) {
    auto c = Curve({{1, 10}, {2, 20}, {3, 30}});
    EXPECT_EQ(EvalCurve(15.0f, *c), 1.5f);
    c->points[1].reading = 100;
    EXPECT_EQ(EvalCurve(15.0f, *c), 1.5f);
}

TEST(CalGenCurveTest, ShiftExampleAboveThirtyKelvin) {
    auto c = Curve({{2.0f, 20}, {1.5f, 40}, {1.0f, 60}, {0.5f, 80}});
    const float ub = EvalCurve(30.0f, *c);
    ASSERT_EQ(ub, 1.75f);
    auto s = ShiftCurve(*c, kShiftAbove30, 60.0f, 1.1f, 30.0f, ub);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->count, 4);
    const char* printed[] = {"2.000000", "1.533333", "1.100000", "0.666667"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(F(s->points[i].reading), printed[i]);
        EXPECT_EQ(s->points[i].temperature, c->points[i].temperature);
    }
    EXPECT_EQ(c->points[1].reading, 1.5f);  // input untouched
    EXPECT_EQ(s->table, nullptr);
    EXPECT_EQ(s->cursor, -1);
}

TEST(CalGenCurveTest, ShiftNeedsAnchorsTenKelvinApartAndAKnownRegion) {
    auto c = Curve(kDiode);
    EXPECT_EQ(ShiftCurve(*c, kShiftAbove30, 39.99f, 1.1f, 30.0f, 1.12f), nullptr);
    EXPECT_NE(ShiftCurve(*c, kShiftAbove30, 40.0f, 1.1f, 30.0f, 1.12f), nullptr);
    EXPECT_EQ(ShiftCurve(*c, kShiftAbove30, 30.0f, 1.1f, 40.0f, 1.12f), nullptr);  // reversed
    EXPECT_EQ(ShiftCurve(*c, 4, 300.0f, 0.58f, 30.0f, 1.12f), nullptr);
    EXPECT_EQ(ShiftCurve(*c, -1, 300.0f, 0.58f, 30.0f, 1.12f), nullptr);
}

// Expected readings worked out independently: the correction in 64-bit extended precision,
// rounded once to float.
TEST(CalGenCurveTest, ShiftIsExactToTheBit) {
    auto c = Curve(kDiode);
    const float s30 = EvalCurve(30.0f, *c);
    auto one = ShiftCurve(*c, kShiftAbove30, 300.0f, 0.58f, 30.0f, s30);
    const float wantOne[] = {0x1.b0a3d8p+0f, 0x1.9eb852p+0f, 0x1.7851ecp+0f, 0x1.4a3d70p+0f,
                             0x1.1eb852p+0f, 0x1.172284p+0f, 0x1.0f8cb4p+0f, 0x1.082028p+0f,
                             0x1.fc351ap-1f, 0x1.cf1356p-1f, 0x1.9cd2dep-1f, 0x1.6573acp-1f,
                             0x1.28f5c2p-1f, 0x1.d8efb0p-2f, 0x1.5ff3dep-2f, 0x1.54f440p-3f};
    auto both = ShiftCurve(*c, kShiftBelowAnchor, 300.0f, 0.58f, 77.0f, 1.04f);
    const float wantBoth[] = {0x1.b33334p+0f, 0x1.a147aep+0f, 0x1.7ae148p+0f, 0x1.4cccccp+0f,
                              0x1.2147aep+0f, 0x1.19999ap+0f, 0x1.11eb84p+0f, 0x1.0a3d70p+0f,
                              0x1.000000p+0f, 0x1.d1eb84p-1f, 0x1.9eb852p-1f, 0x1.666666p-1f,
                              0x1.28f5c2p-1f, 0x1.d70a3cp-2f, 0x1.5c28f6p-2f, 0x1.47ae14p-3f};
    ASSERT_NE(one, nullptr);
    ASSERT_NE(both, nullptr);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(one->points[i].reading, wantOne[i]) << i;
        EXPECT_EQ(both->points[i].reading, wantBoth[i]) << i;
    }
    EXPECT_EQ(one->points[4].reading, c->points[4].reading);  // zero correction at Tb = 30
}

// Which points keep the input reading, per region, on a curve with points at 10..60 K and a
// correction that moves every other point.
TEST(CalGenCurveTest, RegionRulesAroundThirtyKelvin) {
    const Points pts = {{6, 10}, {5, 20}, {4, 30}, {3, 40}, {2, 50}, {1, 60}};
    struct Case {
        int region;
        float ta, tb;
        std::vector<bool> kept;  // per point, 10..60 K
    } cases[] = {
        {kShiftAbove30, 55, 25, {true, true, false, false, false, false}},
        {kShiftBetween, 55, 25, {true, true, true, false, false, false}},
        {kShiftBetween, 55, 45, {true, true, true, true, false, false}},
        {kShiftBelowAnchor, 55, 25, {false, false, false, true, true, true}},
        {kShiftBelowAnchor, 55, 35, {false, false, false, false, false, false}},
        {kShiftBelow30, 28, 12, {false, false, false, true, true, true}},
    };
    for (const Case& k : cases) {
        auto c = Curve(pts);
        // Both anchors 0.25 above the curve: every shifted point moves by 0.25.
        auto s = ShiftCurve(*c, k.region, k.ta, EvalCurve(k.ta, *c) + 0.25f, k.tb,
                            EvalCurve(k.tb, *c) + 0.25f);
        ASSERT_NE(s, nullptr) << k.region;
        for (int i = 0; i < 6; ++i) {
            const float in = c->points[i].reading;
            if (k.kept[i])
                EXPECT_EQ(s->points[i].reading, in) << k.region << " point " << i;
            else
                EXPECT_NEAR(s->points[i].reading, in + 0.25f, 1e-5) << k.region << " point " << i;
        }
    }
}

}  // namespace
}  // namespace tavrix
