#include "calgen/ReferencePointForms.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>

#include "base/CNumeric.h"

namespace tavrix {

std::string LimitedFloatForm::FloatText(float value) {
    return FormatC("%.*g", FLT_DIG, static_cast<double>(value));
}

int LimitedFloatForm::ParseLimited(const std::string& text, float low, float high, float& out,
                                   std::string& message) {
    double d = 0.0;
    if (!ParseNumberField(text, d) || std::fabs(d) > FLT_MAX) {
        message = "Enter a number.";
        return -1;
    }
    const float value = static_cast<float>(d);
    if (value < low || value > high) {
        message = "Enter a number between " + FloatText(low) + " and " + FloatText(high) + ".";
        return -1;
    }
    out = value;
    return 0;
}

const LimitedFloatForm::Edit* LimitedFloatForm::FindEdit(int controlId) const {
    for (const Edit& e : edits_)
        if (e.controlId == controlId) return &e;
    return nullptr;
}

std::string LimitedFloatForm::EditText(int controlId) const {
    const Edit* e = FindEdit(controlId);
    return e ? FloatText(*e->member) : std::string();
}

int LimitedFloatForm::Accept(const std::function<std::string(int)>& textOf, std::string& message) {
    for (const Edit& e : edits_) {
        float v = 0.0f;
        if (ParseLimited(textOf(e.controlId), e.low, e.high, v, message) != 0) return e.controlId;
        *e.member = v;
    }
    message.clear();
    return 0;
}

OnePointForm::OnePointForm(const OnePointValues& preset) : values(preset) {
    edits_ = {
        {kReadingEdit, OnePointValues::kReadingLow, OnePointValues::kReadingHigh, &values.reading},
        {kTemperatureEdit, OnePointValues::kTemperatureLow, OnePointValues::kTemperatureHigh,
         &values.temperature},
    };
}

TwoPointsForm::TwoPointsForm(const TwoPointsValues& preset) : values(preset) {
    const float* l = values.limits;
    edits_ = {
        {kSecondTemperatureEdit, l[0], l[1], &values.secondTemperature},
        {kSecondReadingEdit, l[2], l[3], &values.secondReading},
        {kFirstTemperatureEdit, l[4], l[5], &values.firstTemperature},
        {kFirstReadingEdit, l[6], l[7], &values.firstReading},
    };
}

std::string TwoPointsForm::StaticText(int controlId) const {
    switch (controlId) {
        case kSecondUnitText:
            return values.secondUnit;
        case kFirstUnitText:
            return values.firstUnit;
        case kFirstPromptText:
            return values.firstPrompt;
        case kSecondPromptText:
            return values.secondPrompt;
        case kFirstLabelText:
            return values.firstLabel;
        case kSecondLabelText:
            return values.secondLabel;
        default:
            return {};
    }
}

ThreePointsForm::ThreePointsForm(const ThreePointsValues& preset) : values(preset) {
    using V = ThreePointsValues;
    edits_ = {
        {kLowTemperatureEdit, V::kLowTemperatureLow, V::kLowTemperatureHigh,
         &values.lowTemperature},
        {kLowReadingEdit, V::kReadingLow, V::kReadingHigh, &values.lowReading},
        {kMiddleTemperatureEdit, V::kMiddleTemperatureLow, V::kMiddleTemperatureHigh,
         &values.middleTemperature},
        {kMiddleReadingEdit, V::kReadingLow, V::kReadingHigh, &values.middleReading},
        {kHighTemperatureEdit, V::kHighTemperatureLow, V::kHighTemperatureHigh,
         &values.highTemperature},
        {kHighReadingEdit, V::kReadingLow, V::kReadingHigh, &values.highReading},
    };
}

}  // namespace tavrix
