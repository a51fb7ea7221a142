#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavrix {

// Result codes of the curve readers.
enum CurveReadResult : int {
    kCurveReadOk = 0,
    kCurveReadStreamFailed = 1,  // the file could not be read to its end
    kCurveReadNoPath = 2,
    kCurveReadCannotOpen = 3,
    kCurveReadFieldErrors = 4,  // read, but header fields or point lines were rejected (flagged)
    kCurveReadCannotOpenOutput = 5,  // reported by ReportFileResult; no reader gives it
    // The two below end a read that cannot be held by the record or the line buffer. The
    // record is left untouched and SensorCurve::stopLine names the file line.
    kCurveReadTooManyPoints = 6,  // a 201st point line
    kCurveReadLineTooLong = 7,    // a line longer than the reader's line buffer
};

struct CurvePoint {
    float sensorValue = 0.0f;  // in the curve's unit
    float temperature = 0.0f;  // kelvin
    std::string lineText;      // the file line, for the error listing
    bool lineError = false;
};

// Unit codes: 0 and 2 volts, 1 millivolts, 3 ohms, 4 log-ohms.
enum CurveUnitCode : int {
    kUnitVolts = 0,
    kUnitMilliVolts = 1,
    kUnitVolts2 = 2,
    kUnitOhms = 3,
    kUnitLogOhms = 4
};

// One sensor curve: header and at most 200 points.
struct SensorCurve {
    static constexpr size_t kMaxCurvePoints = 200;
    static constexpr size_t kCrvLineMax = 63;   // characters of a .crv line
    static constexpr size_t k340LineMax = 254;  // characters of a .340 line
    static constexpr size_t kNameWritten = 15;  // characters of the name a .crv file keeps

    std::string sensorName;
    std::string sensorType = "ACR";
    bool typeError = false;
    float multiplier = 1.0f;
    std::string multiplierText;
    bool multiplierError = false;
    int unitCode = 0;
    bool unitError = false;
    std::string unitText;
    std::vector<CurvePoint> points;  // points.size() is the point count, never above 200
    // File line (from 1) at which a read stopped with result 6 or 7; 0 otherwise.
    int stopLine = 0;

    uint32_t PointCount() const { return static_cast<uint32_t>(points.size()); }
    // Adds a point; false (nothing added) when the record is full.
    bool AddPoint(CurvePoint p);
    // Ascending sensor value (strictly-less comparison, as the readers sort).
    void SortBySensorValue();

    // Readers: parse `path` on a record in the default state and, for results 0 and 4, copy it
    // into `target`. Other results leave `target` untouched.
    static CurveReadResult ReadCrvFile(const std::string& path, SensorCurve& target);
    static CurveReadResult Read340File(const std::string& path, SensorCurve& target);

    // The .crv file text: name (15 characters), type, multiplier ("%#.8g"), unit text, one
    // "%#.10g  %#.10g" line per point in record order, ";"; every line ends in CR LF. Locale
    // independent.
    std::string CrvText() const;
    // Writes CrvText(); false when the file cannot be created or written.
    bool WriteCrvFile(const std::string& path) const;
};

// True when the path contains ".crv" (case-sensitive, anywhere).
bool IsCrvPath(std::string_view path);

// The sensor model of a .340 file mapped to the instrument's sensor type.
struct SensorModelRow {
    const char* prefix;
    size_t compared;
    const char* type;
};
extern const SensorModelRow kSensorModelTable[13];
// The type of the first row whose prefix starts the upper-cased model; nullptr when none.
const char* LookupSensorModel(std::string_view model);

// Texts of the unit list of the header editor, the unit text it gives back, and graph labels.
inline constexpr const char* kUnitListEntries[4] = {"Volts", "mVolts", "Ohms", "LogOhms"};
inline constexpr const char* kUnitTexts[4] = {"Volts", "mVolts", "Ohms", "LogOhm"};
inline constexpr const char* kSensorTypeEntries[7] = {"Diode", "PTC100", "PTC1K", "PTC10K",
                                                      "ACR",   "TC80",   "None"};
// "( Volts )", "( mVolts )", "(Ohms)" or "(LogOhms)"; any other code shows as volts.
const char* UnitAxisLabel(int unitCode);
// Position in the unit list for a unit code: 1 for 1, 2 for 3, 3 for 4, else 0.
int UnitIndexOfCode(int unitCode);

}  // namespace tavrix
