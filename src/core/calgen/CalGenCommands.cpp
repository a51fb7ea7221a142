#include "calgen/CalGenCommands.h"
#include "base/Texts.h"

#include "base/CNumeric.h"
#include "calgen/ReferencePoints.h"

namespace tavrix {

namespace {

namespace t = calgen_texts;

constexpr float k30K = 30.0f;

// The values the operator entered; prompts, texts and limits stay the command's own.
void TakeEntered(OnePointValues& kept, const OnePointValues& answer) {
    kept.reading = answer.reading;
    kept.temperature = answer.temperature;
}
void TakeEntered(TwoPointsValues& kept, const TwoPointsValues& answer) {
    kept.secondTemperature = answer.secondTemperature;
    kept.secondReading = answer.secondReading;
    kept.firstTemperature = answer.firstTemperature;
    kept.firstReading = answer.firstReading;
}
void TakeEntered(ThreePointsValues& kept, const ThreePointsValues& answer) {
    kept = answer;
}

// The reference-point dialog loop: shown until `accept` takes the values (after its tests and
// the computation passed); each showing starts from the values entered last. kCalGenWritten
// (0) when accepted.
template <typename Values, typename Ask, typename Accept>
int ReferenceDialogLoop(CalGenContext& ctx, Values& values, Ask ask, Accept accept) {
    for (;;) {
        DialogResult<Values> r = ask(values);
        if (r.outcome == DialogOutcome::Cancel) return kCalGenCancelled;
        if (r.outcome == DialogOutcome::CouldNotCreate) {
            ctx.op.ShowMessage(texts::kCouldNotCreateDialog, MessageIcon::Stop);
            return kCalGenFailed;
        }
        TakeEntered(values, r.value);
        if (accept(values)) return 0;
    }
}

// Whether a shift with these anchors is refused: the same float difference ShiftCurve tests.
bool AnchorsTooClose(float ta, float tb) {
    const float gap = ta - tb;
    return gap < 10.0;
}

// A shift that cannot be made: shown and logged, and the dialog opens again.
void ReportTooClose(CalGenContext& ctx, const char* box, float ta, float tb) {
    ctx.op.ShowMessage(box, MessageIcon::None);
    ctx.log.Append(FormatC(t::kTooCloseLog, ta, tb));
}

// Shifts when the anchors allow it; false (reported) otherwise.
bool Shift(CalGenContext& ctx, CalGenCurvePtr& out, CalGenCurve& in, int region, float ta, float ua,
           float tb, float ub, const char* tooCloseBox) {
    if (AnchorsTooClose(ta, tb)) {
        ReportTooClose(ctx, tooCloseBox, ta, tb);
        return false;
    }
    out = ShiftCurve(in, region, ta, ua, tb, ub);
    if (!out) {
        ctx.op.ShowMessage(t::kNoMemoryBox, MessageIcon::Stop);
        return false;
    }
    return true;
}

// The listing and the output file; the source record is already released.
int Finish(CalGenContext& ctx, const CalGenSource& source, const std::string& heading,
           const CalGenCurve& result) {
    ListCalGenCurve(ctx.log, heading, result);
    return WriteCalGenCurve(ctx, source, result);
}

// The two one-point commands differ in the prompt and in which side of 30 K they shift.
int GenerateOnePoint(CalGenContext& ctx, bool near300K) {
    CalGenSource source;
    if (int st = LoadCalGenSource(ctx, source); st != 0) return st;

    const float s30 = EvalCurve(k30K, *source.curve);
    if (s30 < 0) {
        ctx.op.ShowMessage(t::kNo30KBox, MessageIcon::None);
        ctx.log.Append(FormatC(t::kNo30KLog, source.path.c_str()));
        return kCalGenFailed;
    }

    OnePointValues values;
    values.prompt = near300K ? t::kPrompt300K : t::kPrompt4K;
    CalGenCurvePtr result;
    const int st = ReferenceDialogLoop(
        ctx, values, [&](const OnePointValues& v) { return ctx.op.AskOnePoint(v); },
        [&](const OnePointValues& v) {
            if (ValidateReferencePoint(ctx, source, v.temperature, v.reading, {t::kReference5, 6}))
                return false;
            if (near300K)
                return Shift(ctx, result, *source.curve, kShiftAbove30, v.temperature, v.reading,
                             k30K, s30, t::kAtLeast40KBox);
            return Shift(ctx, result, *source.curve, kShiftBelow30, k30K, s30, v.temperature,
                         v.reading, t::kAtMost20KBox);
        });
    if (st != 0) return st;
    FreeCalGenCurve(source.curve);

    return Finish(ctx, source, FormatC(t::kOnePointHeading, values.reading, values.temperature),
                  *result);
}

}  // namespace

int GenerateDiode300K(CalGenContext& ctx) {
    return GenerateOnePoint(ctx, true);
}

int GenerateDiode4K(CalGenContext& ctx) {
    return GenerateOnePoint(ctx, false);
}

int GenerateDiodeTwoPoint(CalGenContext& ctx) {
    CalGenSource source;
    if (int st = LoadCalGenSource(ctx, source); st != 0) return st;

    TwoPointsValues values;
    const float limits[8] = {177.0f, 600.0f, 0.0f, 3000.0f, 1.0f, 177.0f, 0.0f, 3000.0f};
    std::copy(limits, limits + 8, values.limits);
    values.firstPrompt = t::kPromptNear77K;
    values.secondPrompt = t::kPromptNear300K;
    values.firstUnit = values.secondUnit = t::kVoltUnit;
    values.firstLabel = values.secondLabel = t::kVoltageLabel;

    CalGenCurvePtr c1, c2;
    const int st = ReferenceDialogLoop(
        ctx, values, [&](const TwoPointsValues& v) { return ctx.op.AskTwoPoints(v); },
        [&](const TwoPointsValues& v) {
            const float tLow = v.firstTemperature, vLow = v.firstReading;
            const float tHigh = v.secondTemperature, vHigh = v.secondReading;
            if (ValidateReferencePoint(ctx, source, tLow, vLow, {t::kLowReference5, 6}) ||
                ValidateReferencePoint(ctx, source, tHigh, vHigh, {t::kHighReference5, 6}))
                return false;
            // S30 may be -1 for a source that ends above 30 K; it cancels out in the shift.
            const float s30 = EvalCurve(k30K, *source.curve);
            return Shift(ctx, c1, *source.curve, kShiftBetween, tLow, vLow, k30K, s30,
                         t::kLowAtLeast40KBox) &&
                   Shift(ctx, c2, *c1, kShiftBetween, tHigh, vHigh, tLow, vLow,
                         t::kHighAboveLowBox);
        });
    if (st != 0) return st;
    FreeCalGenCurve(source.curve);

    return Finish(ctx, source,
                  FormatC(t::kTwoPointHeading, values.secondReading, values.secondTemperature,
                          values.firstReading, values.firstTemperature),
                  *c2);
}

int GenerateDiodeThreePoint(CalGenContext& ctx) {
    CalGenSource source;
    if (int st = LoadCalGenSource(ctx, source); st != 0) return st;

    ThreePointsValues values;
    CalGenCurvePtr c1, c2;
    const int st = ReferenceDialogLoop(
        ctx, values, [&](const ThreePointsValues& v) { return ctx.op.AskThreePoints(v); },
        [&](const ThreePointsValues& v) {
            if (ValidateReferencePoint(ctx, source, v.middleTemperature, v.middleReading,
                                       {t::kMiddleReference5, 6}) ||
                ValidateReferencePoint(ctx, source, v.highTemperature, v.highReading,
                                       {t::kHighReference5, 2}) ||
                ValidateReferencePoint(ctx, source, v.lowTemperature, v.lowReading,
                                       {t::kLowReference5, 2}))
                return false;
            if (!Shift(ctx, c1, *source.curve, kShiftBelowAnchor, v.highTemperature, v.highReading,
                       v.middleTemperature, v.middleReading, t::kHighAboveMiddleBox))
                return false;
            const float s1At30 = EvalCurve(k30K, *c1);
            return Shift(ctx, c2, *c1, kShiftBelowAnchor, k30K, s1At30, v.lowTemperature,
                         v.lowReading, t::kLowBelow20KBox);
        });
    if (st != 0) return st;
    FreeCalGenCurve(source.curve);

    // Three log lines, then the listing.
    ctx.log.Append(FormatC(t::kThreePointHeading1, values.highReading, values.highTemperature));
    ctx.log.Append(FormatC(t::kThreePointHeading2, values.middleReading, values.middleTemperature));
    const std::string heading =
        FormatC(t::kThreePointHeading3, values.lowReading, values.lowTemperature);
    return Finish(ctx, source, heading, *c2);
}

int GeneratePlatinum(CalGenContext& ctx) {
    CalGenSource source;
    if (int st = LoadCalGenSource(ctx, source); st != 0) return st;

    TwoPointsValues values;
    const float limits[8] = {177.0f, 1000.0f, 0.0f, 30000.0f, 1.0f, 500.0f, 0.0f, 30000.0f};
    std::copy(limits, limits + 8, values.limits);
    values.firstPrompt = t::kPromptLowT;
    values.secondPrompt = t::kPromptHighT;
    values.firstUnit = values.secondUnit = t::kOhmUnit;
    values.firstLabel = values.secondLabel = t::kResistanceLabel;

    const int st = ReferenceDialogLoop(
        ctx, values, [&](const TwoPointsValues& v) { return ctx.op.AskTwoPoints(v); },
        [&](const TwoPointsValues& v) {
            if (ValidateReferencePoint(ctx, source, v.firstTemperature, v.firstReading,
                                       {t::kLowResistance5, 6}) ||
                ValidateReferencePoint(ctx, source, v.secondTemperature, v.secondReading,
                                       {t::kHighResistance5, 2}))
                return false;
            if (v.secondTemperature == v.firstTemperature) {
                ctx.op.ShowMessage(t::kSameTemperatureBox, MessageIcon::None);
                ctx.log.Append(FormatC(t::kSameTemperatureLog, v.firstTemperature));
                return false;
            }
            return true;
        });
    if (st != 0) return st;

    const float tLow = values.firstTemperature, rLow = values.firstReading;
    const float tHigh = values.secondTemperature, rHigh = values.secondReading;
    const float slope = (rHigh - rLow) / (tHigh - tLow);
    const float intercept = rHigh - tHigh * slope;
    CalGenCurve& curve = *source.curve;
    for (int i = 0; i < curve.count; ++i)
        curve.points[i].reading = slope * curve.points[i].temperature + intercept;

    return Finish(ctx, source, FormatC(t::kPlatinumHeading, rHigh, tHigh, rLow, tLow), curve);
}

}  // namespace tavrix
