#include "curves/CurveDialogModels.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "base/CNumeric.h"
#include "curves/SensorCurve.h"

namespace tavrix {

void CurveHeaderEdit::SetCurveData(const std::vector<float>& temperatures,
                                   const std::vector<float>& values, uint32_t count, int unitCode) {
    std::vector<float> t(temperatures.begin(),
                         temperatures.begin() + std::min<size_t>(count, temperatures.size()));
    std::vector<float> v(values.begin(), values.begin() + std::min<size_t>(count, values.size()));
    graph = GraphModel::OneLine(
        sensor_graph_texts::kTitle, sensor_graph_texts::kTemperatureAxis,
        std::string(sensor_graph_texts::kOutputAxisPrefix) + UnitAxisLabel(unitCode), t, v);
}

void CurveHeaderEdit::SetHeader(const std::string& n, const std::string& t, float m, int unitCode,
                                uint32_t count, bool crv) {
    name = n;
    type = t;
    multiplier = m;
    unitIndex = UnitIndexOfCode(unitCode);
    pointCount = count;
    sourceIsCrv = crv;
}

std::string CurveHeaderEdit::MatchType(const std::string& typeText) {
    for (const char* entry : kSensorTypeEntries) {
        const std::string e = entry;
        if (typeText.size() > e.size()) continue;
        bool match = true;
        for (size_t i = 0; i < typeText.size() && match; ++i) {
            match = std::toupper(static_cast<unsigned char>(typeText[i])) ==
                    std::toupper(static_cast<unsigned char>(e[i]));
        }
        if (match) return e;
    }
    return typeText;
}

void CurveHeaderEdit::Open() {
    type = MatchType(type);
}

std::string CurveHeaderEdit::MultiplierText() const {
    return FormatC("%.6g", static_cast<double>(multiplier));
}

bool CurveHeaderEdit::SetMultiplierText(const std::string& text) {
    double v = 0.0;
    if (!ParseNumberField(text, v)) return false;
    multiplier = static_cast<float>(v);
    return true;
}

void CurveHeaderEdit::GetHeader(std::string& nameOut, std::string& typeOut, float& multiplierOut,
                                std::string& unitText) const {
    nameOut = name;
    typeOut = type;
    multiplierOut = multiplier;
    if (unitIndex >= 0 && unitIndex < 4) unitText = kUnitTexts[unitIndex];
}

bool PidTableNumber::Parse(const std::string& text, int& out) {
    const char* p = text.c_str();
    while (*p == ' ' || *p == '\t') ++p;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(p, &end, 10);
    if (end == p || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    while (*end == ' ' || *end == '\t') ++end;
    if (*end != '\0') return false;
    out = static_cast<int>(v);
    return true;
}

bool UserCurveChoice::TakeTyped(const std::string& text) {
    size_t b = text.find_first_not_of(" \t");
    size_t e = text.find_last_not_of(" \t");
    if (b == std::string::npos) return false;
    const std::string digits = text.substr(b, e - b + 1);
    if (digits.size() > 2 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int n = std::stoi(digits);
    if (n < 1 || n > 8) return false;
    number = n;
    return true;
}

}  // namespace tavrix
