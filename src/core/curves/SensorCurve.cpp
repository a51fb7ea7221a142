#include "curves/SensorCurve.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "base/CNumeric.h"
#include "base/FileSafety.h"
#include "curves/LineReader.h"

namespace tavrix {

const SensorModelRow kSensorModelTable[13] = {
    {"DT-470", 6, "Diode"},    {"DT-670", 6, "Diode"},    {"DT-421", 6, "Diode"},
    {"PT-103", 6, "R312R1MA"}, {"CX-1050", 7, "R8K10UA"}, {"RX-102", 6, "ACR"},
    {"RX-202", 6, "ACR"},      {"RX-103", 6, "ACR"},      {"CX-1030", 7, "ACR"},
    {"CX-1020", 7, "ACR"},     {"CX-1070", 7, "ACR"},     {"CX-1080", 7, "ACR"},
    {"AUFE", 4, "TC80"},
};

namespace {

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string WithoutCr(std::string s) {
    std::erase(s, '\r');
    return s;
}

// Fields of a point line: split at commas, blanks and tabs; empty fields do not count.
std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size()) {
        i = line.find_first_not_of(", \t\r", i);
        if (i == std::string::npos) break;
        size_t e = line.find_first_of(", \t\r", i);
        if (e == std::string::npos) e = line.size();
        out.push_back(line.substr(i, e - i));
        i = e;
    }
    return out;
}

bool ScanFloat(const std::string& text, float& out) {
    float v = 0.0f;
    if (ScanC(text.c_str(), "%f", &v) != 1) return false;
    out = v;
    return true;
}

// A point from fields[first] (sensor value) and fields[first + 1] (temperature).
CurvePoint PointFrom(const std::string& line, size_t first) {
    CurvePoint p;
    p.lineText = line;
    const std::vector<std::string> f = Fields(line);
    const bool ok = f.size() > first + 1 && ScanFloat(f[first], p.sensorValue) &&
                    ScanFloat(f[first + 1], p.temperature);
    p.lineError = !ok;
    return p;
}

// The text after the first ':', leading blanks skipped, cut at a CR; the whole line without
// a colon.
std::string AfterColon(const std::string& line) {
    size_t start = line.find(':');
    start = start == std::string::npos ? 0 : start + 1;
    while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) ++start;
    std::string out = line.substr(start);
    const size_t cr = out.find('\r');
    if (cr != std::string::npos) out.resize(cr);
    return out;
}

// What a reader's line handler tells the frame.
enum class Taken { kGoOn, kTableEnd, kFull };

// Shared frame of both readers: reads lines, hands each to `take`, stops on the outcomes
// that end a read. A last line without a line end is a line like any other: the pre-check
// counts it too.
template <typename Take>
CurveReadResult ReadFrame(const std::string& path, size_t maxChars, SensorCurve& target,
                          Take take) {
    if (path.empty()) return kCurveReadNoPath;
    LineReader reader(path, maxChars);
    if (!reader.IsOpen()) return kCurveReadCannotOpen;
    SensorCurve curve;
    CurveReadResult result = kCurveReadOk;
    std::string line;
    for (;;) {
        const LineReader::Outcome o = reader.Next(line);
        if (o == LineReader::kEnd) break;
        if (o == LineReader::kError) return kCurveReadStreamFailed;
        if (o == LineReader::kTooLong) {
            target.stopLine = reader.LineNumber();
            return kCurveReadLineTooLong;
        }
        const Taken r = take(curve, reader.LineNumber(), line, result);
        if (r == Taken::kFull) {
            target.stopLine = reader.LineNumber();
            return kCurveReadTooManyPoints;
        }
        if (r == Taken::kTableEnd || o == LineReader::kLastLine) break;
    }
    if (result == kCurveReadOk) curve.SortBySensorValue();
    target = std::move(curve);
    return result;
}

}  // namespace

bool SensorCurve::AddPoint(CurvePoint p) {
    if (points.size() >= kMaxCurvePoints) return false;
    points.push_back(std::move(p));
    return true;
}

void SensorCurve::SortBySensorValue() {
    std::stable_sort(points.begin(), points.end(), [](const CurvePoint& a, const CurvePoint& b) {
        return a.sensorValue < b.sensorValue;
    });
}

bool IsCrvPath(std::string_view path) {
    return path.find(".crv") != std::string_view::npos;
}

const char* LookupSensorModel(std::string_view model) {
    const std::string up = Upper(model);
    for (const SensorModelRow& row : kSensorModelTable) {
        if (up.compare(0, row.compared, row.prefix, row.compared) == 0 && up.size() >= row.compared)
            return row.type;
    }
    return nullptr;
}

const char* UnitAxisLabel(int unitCode) {
    switch (unitCode) {
        case kUnitMilliVolts:
            return "( mVolts )";
        case kUnitOhms:
            return "(Ohms)";
        case kUnitLogOhms:
            return "(LogOhms)";
        default:
            return "( Volts )";
    }
}

int UnitIndexOfCode(int unitCode) {
    switch (unitCode) {
        case kUnitMilliVolts:
            return 1;
        case kUnitOhms:
            return 2;
        case kUnitLogOhms:
            return 3;
        default:
            return 0;
    }
}

CurveReadResult SensorCurve::ReadCrvFile(const std::string& path, SensorCurve& target) {
    return ReadFrame(
        path, kCrvLineMax, target,
        [](SensorCurve& c, int k, const std::string& line, CurveReadResult& result) -> Taken {
            switch (k) {
                case 1:
                    c.sensorName = WithoutCr(line);
                    return Taken::kGoOn;
                case 2:
                    c.typeError = false;
                    c.sensorType = WithoutCr(line);
                    return Taken::kGoOn;
                case 3:
                    c.multiplierError = false;
                    c.multiplierText = WithoutCr(line);
                    if (!ScanFloat(line, c.multiplier)) {
                        c.multiplierError = true;
                        c.multiplier = 1.0f;
                        result = kCurveReadFieldErrors;
                    }
                    return Taken::kGoOn;
                case 4: {
                    c.unitError = false;
                    c.unitText = WithoutCr(line);
                    const std::string up = Upper(c.unitText);
                    if (up.find("MVOLTS") != std::string::npos) {
                        c.unitCode = kUnitMilliVolts;
                    } else if (up.find("VOLTS") != std::string::npos) {
                        c.unitCode = kUnitVolts;
                    } else if (up.find("LOGOHM") != std::string::npos) {
                        c.unitCode = kUnitLogOhms;
                    } else if (up.find("OHMS") != std::string::npos) {
                        c.unitCode = kUnitOhms;
                    } else {
                        c.unitError = true;
                        c.unitCode = kUnitVolts;
                        result = kCurveReadFieldErrors;
                    }
                    return Taken::kGoOn;
                }
                default:
                    break;
            }
            // The table ends at its ";" line, as it does in the instrument:
            // nothing after it is part of the curve.
            if (!line.empty() && line[0] == ';') return Taken::kTableEnd;
            CurvePoint p = PointFrom(line, 0);
            if (p.lineError) result = kCurveReadFieldErrors;
            return c.AddPoint(std::move(p)) ? Taken::kGoOn : Taken::kFull;
        });
}

CurveReadResult SensorCurve::Read340File(const std::string& path, SensorCurve& target) {
    return ReadFrame(
        path, k340LineMax, target,
        [](SensorCurve& c, int k, const std::string& line, CurveReadResult& result) -> Taken {
            switch (k) {
                case 1: {
                    c.typeError = false;
                    c.sensorType = AfterColon(line);
                    if (const char* type = LookupSensorModel(c.sensorType)) {
                        c.sensorType = type;
                    } else {
                        c.typeError = true;
                        result = kCurveReadFieldErrors;
                    }
                    return Taken::kGoOn;
                }
                case 2:
                    c.sensorName = AfterColon(line);
                    return Taken::kGoOn;
                case 3: {
                    c.unitText = AfterColon(line);
                    int code = 0;
                    if (ScanC(c.unitText.c_str(), "%d", &code) != 1 || code < 0 || code > 4) {
                        c.unitError = true;
                        result = kCurveReadFieldErrors;
                    } else {
                        c.unitCode = code;
                    }
                    return Taken::kGoOn;
                }
                case 5: {
                    c.multiplierError = false;
                    c.multiplierText = AfterColon(line);
                    float m = 0.0f;
                    if (ScanFloat(c.multiplierText, m)) {
                        c.multiplier =
                            c.multiplierText.find("Negative") != std::string::npos ? -m : m;
                    } else {
                        c.multiplierError = true;
                        result = kCurveReadFieldErrors;
                    }
                    return Taken::kGoOn;
                }
                default:
                    break;
            }
            if (k < 10) return Taken::kGoOn;
            CurvePoint p = PointFrom(line, 1);
            if (p.lineError) result = kCurveReadFieldErrors;
            return c.AddPoint(std::move(p)) ? Taken::kGoOn : Taken::kFull;
        });
}

std::string SensorCurve::CrvText() const {
    std::string out;
    out += sensorName.substr(0, kNameWritten) + "\r\n";
    out += sensorType + "\r\n";
    out += FormatC("%#.8g", static_cast<double>(multiplier)) + "\r\n";
    out += unitText + "\r\n";
    for (const CurvePoint& p : points) {
        out += FormatC("%#.10g  %#.10g", static_cast<double>(p.sensorValue),
                       static_cast<double>(p.temperature));
        out += "\r\n";
    }
    out += ";\r\n";
    return out;
}

bool SensorCurve::WriteCrvFile(const std::string& path) const {
    std::string error;
    std::FILE* f = files::OpenOutputStream(path, error);
    if (!f) return false;
    const std::string text = CrvText();
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    const bool closed = std::fclose(f) == 0;
    return written && closed;
}

}  // namespace tavrix
