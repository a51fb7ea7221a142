// Curve files: the .crv and .340 readers, the .crv writer, the pre-check and the error listing.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "TestSupport.h"
#include "base/CNumeric.h"
#include "curves/CurveCommands.h"
#include "curves/SensorCurve.h"

using namespace tavrix;
using tavrix::test::CollectingLog;
using tavrix::test::ScriptedOperator;
using tavrix::test::Slurp;
using tavrix::test::TempDir;

namespace {

std::string Data(const std::string& name) {
    return std::string(TAVRIX_TEST_DATA_DIR) + "/curves/" + name;
}

std::vector<float> Values(const SensorCurve& c) {
    std::vector<float> v;
    for (const auto& p : c.points) v.push_back(p.sensorValue);
    return v;
}

// Selects a comma-decimal LC_NUMERIC: an installed one, or one compiled into `dir`.
bool SelectCommaLocale(const TempDir& dir) {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"})
        if (std::setlocale(LC_NUMERIC, name)) return true;
    const std::string made = dir.Str() + "/locales";
    const std::string cmd = "mkdir -p '" + made + "' && localedef -i de_DE -f UTF-8 '" + made +
                            "/de_DE.UTF-8' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) return false;
    setenv("LOCPATH", made.c_str(), 1);
    return std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
}

}  // namespace

TEST(CrvReader, MapsUnitWordsToCodes) {
    struct Case {
        const char* unit;
        int code;
        bool error;
    } cases[] = {{"mVolts", 1, false},  {"Volts", 0, false}, {"LogOhm", 4, false},
                 {"LogOhms", 4, false}, {"Ohms", 3, false},  {"Kelvin", 0, true}};
    TempDir dir;
    for (const Case& c : cases) {
        const std::string path = dir.Str() + "/u.crv";
        std::ofstream(path) << "N\nDiode\n1.0\n" << c.unit << "\n0.1 300\n0.2 200\n;\n";
        SensorCurve curve;
        const auto r = SensorCurve::ReadCrvFile(path, curve);
        SCOPED_TRACE(c.unit);
        EXPECT_EQ(curve.unitCode, c.code);
        EXPECT_EQ(curve.unitError, c.error);
        EXPECT_EQ(r, c.error ? kCurveReadFieldErrors : kCurveReadOk);
        EXPECT_EQ(curve.unitText, c.unit);
    }
}

TEST(CrvReader, SortsACleanFileAndKeepsFileOrderWhenALineIsBad) {
    SensorCurve clean;
    ASSERT_EQ(SensorCurve::ReadCrvFile(Data("descending.crv"), clean), kCurveReadOk);
    EXPECT_EQ(Values(clean), (std::vector<float>{0.5f, 1.0f, 1.2f, 1.6f}));
    EXPECT_EQ(clean.sensorName, "DT-470 sample");  // CR gone
    EXPECT_EQ(clean.unitCode, 1);
    EXPECT_EQ(clean.points[0].temperature, 300.0f);

    SensorCurve bad;
    ASSERT_EQ(SensorCurve::ReadCrvFile(Data("one_bad_line.crv"), bad), kCurveReadFieldErrors);
    ASSERT_EQ(bad.PointCount(), 4u);
    EXPECT_EQ(bad.points[0].sensorValue, 1.6f);
    EXPECT_TRUE(bad.points[1].lineError);
    EXPECT_EQ(bad.points[1].lineText, "1.20  forty");
    EXPECT_FALSE(bad.points[2].lineError);
}

TEST(CrvReader, BadMultiplierAndSeparators) {
    SensorCurve m;
    EXPECT_EQ(SensorCurve::ReadCrvFile(Data("bad_multiplier.crv"), m), kCurveReadFieldErrors);
    EXPECT_TRUE(m.multiplierError);
    EXPECT_EQ(m.multiplier, 1.0f);
    EXPECT_EQ(m.multiplierText, "abc");

    SensorCurve s;
    ASSERT_EQ(SensorCurve::ReadCrvFile(Data("separators.crv"), s), kCurveReadOk);
    ASSERT_EQ(s.PointCount(), 4u);
    EXPECT_FLOAT_EQ(s.points[0].sensorValue, 0.1f);  // "0.1,300"
    EXPECT_FLOAT_EQ(s.points[0].temperature, 300.0f);
    EXPECT_FLOAT_EQ(s.points[1].temperature, 200.0f);  // tab
    EXPECT_FLOAT_EQ(s.points[2].temperature, 100.0f);  // " , "
    EXPECT_EQ(s.multiplier, -1.0f);
    EXPECT_EQ(s.unitCode, 4);
}

TEST(CrvReader, FailuresLeaveTheTargetUntouched) {
    SensorCurve target;
    target.sensorName = "untouched";
    EXPECT_EQ(SensorCurve::ReadCrvFile("", target), kCurveReadNoPath);
    EXPECT_EQ(SensorCurve::ReadCrvFile("/nonexistent/x.crv", target), kCurveReadCannotOpen);
    TempDir dir;
    // A folder is no curve file: refused when it is opened.
    EXPECT_EQ(SensorCurve::ReadCrvFile(dir.Str(), target), kCurveReadCannotOpen);
    EXPECT_EQ(target.sensorName, "untouched");
}

TEST(CrvReader, MoreThan200PointsAndOverlongLinesEndTheReadCleanly) {
    SensorCurve target;
    target.sensorName = "untouched";
    EXPECT_EQ(SensorCurve::ReadCrvFile(Data("too_many_points.crv"), target),
              kCurveReadTooManyPoints);
    EXPECT_EQ(target.stopLine, 205);  // 4 header lines, then the 201st point
    EXPECT_EQ(target.sensorName, "untouched");
    EXPECT_EQ(target.PointCount(), 0u);

    EXPECT_EQ(SensorCurve::ReadCrvFile(Data("long_line.crv"), target), kCurveReadLineTooLong);
    EXPECT_EQ(target.stopLine, 6);

    SensorCurve full;
    EXPECT_EQ(SensorCurve::ReadCrvFile(Data("exactly_200.crv"), full), kCurveReadOk);
    EXPECT_EQ(full.PointCount(), 200u);

    CollectingLog log;
    ReportFileResult(log, kCurveReadTooManyPoints, SensorCurve{.stopLine = 205});
    ReportFileResult(log, kCurveReadLineTooLong, SensorCurve{.stopLine = 6});
    ReportFileResult(log, kCurveReadNoPath, {});
    ReportFileResult(log, kCurveReadCannotOpen, {});
    ReportFileResult(log, kCurveReadCannotOpenOutput, {});
    ReportFileResult(log, kCurveReadFieldErrors, {});
    EXPECT_EQ(log.lines, (std::vector<std::string>{
                             "More than 200 curve points in file: line 205\n",
                             "Line 6 of the file is too long\n", "No File Name provided\n",
                             "Cannot open input file\n", "Error! Can't open output file\n"}));
}

TEST(CrvReader, EmptyBinaryAndUnterminatedFiles) {
    SensorCurve empty;
    EXPECT_EQ(SensorCurve::ReadCrvFile(Data("empty.crv"), empty), kCurveReadOk);
    EXPECT_EQ(empty.PointCount(), 0u);
    EXPECT_EQ(empty.sensorType, "ACR");  // the default state

    SensorCurve binary;
    const auto r = SensorCurve::ReadCrvFile(Data("binary.crv"), binary);
    EXPECT_TRUE(r == kCurveReadLineTooLong || r == kCurveReadFieldErrors) << r;
    EXPECT_LE(binary.PointCount(), 200u);

    SensorCurve unterminated;
    EXPECT_EQ(SensorCurve::ReadCrvFile(Data("unterminated.crv"), unterminated), kCurveReadOk);
    EXPECT_EQ(unterminated.PointCount(), 5u);  // a last line without LF is a point too
}

// The .crv reader and the pre-check must count the same points, or curve generation and the
// download would work on different curves from one file.
TEST(CrvReader, CountsTheSamePointsAsThePreCheck) {
    const std::string header = "Agree\r\nDiode\r\n1.0000000\r\nVolts\r\n";
    const std::string four = "0.1 300\r\n0.2 200\r\n0.3 100\r\n0.4 50\r\n";
    struct Case {
        const char* what;
        std::string body;
        int points;
    } cases[] = {
        {"ended by ;", four + ";\r\n", 4},
        {"no ; line", four, 4},
        {"last line without line end", four + "0.5 10", 5},
        {"LF only, last line without line end", "0.1 300\n0.2 200\n0.3 100", 3},
        {"points after the ; line", four + ";\r\n0.5 10\r\n0.6 5\r\n", 4},
        {"text after the ; line", four + ";\r\nnot a point\r\n", 4},
        {"; without line end", four + ";", 4},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.Str() + "/agree.crv";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << header << c.body;
        ScriptedOperator op;
        CollectingLog log;
        int headerLines = 0;
        EXPECT_EQ(CheckCurveFile(op, log, path, headerLines), c.points) << op.MessageTexts().size();
        EXPECT_EQ(headerLines, 4);
        SensorCurve curve;
        EXPECT_EQ(SensorCurve::ReadCrvFile(path, curve), kCurveReadOk);
        EXPECT_EQ(curve.PointCount(), static_cast<uint32_t>(c.points));
    }
}

TEST(Reader340, MapsModelsUnitsAndMultiplierSign) {
    SensorCurve d;
    ASSERT_EQ(SensorCurve::Read340File(Data("dt470.340"), d), kCurveReadOk);
    EXPECT_EQ(d.sensorType, "Diode");
    EXPECT_EQ(d.sensorName, "D12345");
    EXPECT_EQ(d.unitCode, 2);
    EXPECT_EQ(d.multiplier, -1.0f);
    ASSERT_EQ(d.PointCount(), 5u);
    EXPECT_FLOAT_EQ(d.points[0].sensorValue, 0.09f);
    EXPECT_FLOAT_EQ(d.points[4].temperature, 4.0f);

    SensorCurve p;
    ASSERT_EQ(SensorCurve::Read340File(Data("positive.340"), p), kCurveReadOk);
    EXPECT_EQ(p.multiplier, 2.0f);
    EXPECT_EQ(p.sensorType, "ACR");
    EXPECT_EQ(p.unitCode, 4);

    SensorCurve u;
    EXPECT_EQ(SensorCurve::Read340File(Data("unknown_model.340"), u), kCurveReadFieldErrors);
    EXPECT_TRUE(u.typeError);
    EXPECT_EQ(u.sensorType, "XYZ");

    SensorCurve five;
    EXPECT_EQ(SensorCurve::Read340File(Data("unit5.340"), five), kCurveReadFieldErrors);
    EXPECT_TRUE(five.unitError);

    EXPECT_STREQ(LookupSensorModel("cx-1050-sd"), "R8K10UA");
    EXPECT_STREQ(LookupSensorModel("aufe"), "TC80");
    EXPECT_EQ(LookupSensorModel("DT-47"), nullptr);
}

TEST(CrvWriter, WritesExactNumberFormatsAndCrLfWhateverTheLocale) {
    SensorCurve c;
    c.sensorName = "A name of nineteen";
    c.sensorType = "Diode";
    c.multiplier = -1.0f;
    c.unitText = "LogOhm";
    c.AddPoint({0.5f, 300.0f, {}, false});
    c.AddPoint({1.25f, 4.2f, {}, false});
    const std::string expected =
        "A name of ninet\r\nDiode\r\n-1.0000000\r\nLogOhm\r\n0.5000000000  300.0000000\r\n"
        "1.250000000  4.199999809\r\n;\r\n";
    TempDir dir;
    ASSERT_TRUE(c.WriteCrvFile(dir.Str() + "/c.crv"));
    EXPECT_EQ(Slurp(dir.Str() + "/c.crv"), expected);

    // A comma-decimal locale must not change a single byte.
    if (!SelectCommaLocale(dir)) GTEST_SKIP() << "no comma-decimal locale can be made here";
    ASSERT_EQ(FormatC("%.1f", 0.5), "0.5");
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 0.5);
    ASSERT_STREQ(probe, "0,5");  // the locale is really in effect
    ASSERT_TRUE(c.WriteCrvFile(dir.Str() + "/d.crv"));
    SensorCurve back;
    const auto r = SensorCurve::ReadCrvFile(dir.Str() + "/d.crv", back);
    std::setlocale(LC_NUMERIC, "C");
    unsetenv("LOCPATH");
    EXPECT_EQ(Slurp(dir.Str() + "/d.crv"), expected);
    EXPECT_EQ(r, kCurveReadOk);
    EXPECT_EQ(back.multiplier, -1.0f);
}

TEST(CurveErrorListing, MarksFlaggedLinesOnly) {
    SensorCurve c;
    ASSERT_EQ(SensorCurve::Read340File(Data("unknown_model.340"), c), kCurveReadFieldErrors);
    CollectingLog log;
    ReportCurveErrors(log, c);
    ASSERT_EQ(log.lines.size(), 8u);
    EXPECT_EQ(log.lines[0], "U1\n");
    EXPECT_EQ(log.lines[1], "XYZ   **ERROR**\n");
    EXPECT_EQ(log.lines[2], "1 (Negative)\n");
    EXPECT_EQ(log.lines[4], "1 0.5 300\n");
}

TEST(CurvePreCheck, FindsTheFirstPointLineAndCountsWithinLimits) {
    struct Case {
        const char* file;
        int count;
        int header;
        const char* message;
    } cases[] = {
        {"check_line2.crv", 0, -1, "File Syntax Error"},
        {"check_line3.crv", 3, 2, nullptr},
        {"check_line5.crv", 3, 4, nullptr},
        {"check_none.crv", 0, -1, "File Syntax Error"},
        {"check_201.crv", 0, 4, "More than 200 entries"},
        {"exactly_200.crv", 200, 4, nullptr},
        {"check_negative.crv", 0, 4, "File Syntax Error"},
        {"check_two.crv", 0, 4, "Not enough curve entry"},
        {"long_line.crv", 0, 4, "File Syntax Error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ScriptedOperator op;
        CollectingLog log;
        int header = -1;
        const std::string path = Data(c.file);
        EXPECT_EQ(CheckCurveFile(op, log, path, header), c.count);
        if (c.message) {
            EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{c.message});
            ASSERT_EQ(log.lines.size(), 1u);
            EXPECT_NE(log.lines[0].find(path), std::string::npos);
        } else {
            EXPECT_EQ(header, c.header);
            EXPECT_TRUE(op.messages.empty());
        }
    }
    ScriptedOperator op;
    CollectingLog log;
    int header = 0;
    CheckCurveFile(op, log, Data("check_201.crv"), header);
    EXPECT_EQ(log.lines.at(0),
              "More than 200 curve entries in " + Data("check_201.crv") + " file\n");
}
