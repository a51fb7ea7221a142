#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "calgen/CalGenCommands.h"

namespace tavrix {
namespace {

using test::CrLfLines;
using test::ScriptedOperator;

std::string Data(const std::string& name) {
    return std::string(TAVRIX_TEST_DATA_DIR) + "/" + name;
}


OnePointValues One(float t, float v) {
    OnePointValues o;
    o.temperature = t;
    o.reading = v;
    return o;
}

TwoPointsValues Two(float tLow, float vLow, float tHigh, float vHigh) {
    TwoPointsValues p;
    p.firstTemperature = tLow;
    p.firstReading = vLow;
    p.secondTemperature = tHigh;
    p.secondReading = vHigh;
    return p;
}

ThreePointsValues Three(float tLow, float vLow, float tMid, float vMid, float tHigh, float vHigh) {
    return {tLow, vLow, tMid, vMid, tHigh, vHigh};
}

// The source curves of the data folder follow reading = 2.5 - T / 200.
struct CalGenBench {
    test::TempDir dir;
    ScriptedOperator op;
    test::CollectingLog log;
    CalGenContext ctx{op, log};
    std::string out = (dir.Path() / "out.crv").string();

    explicit CalGenBench(const std::string& source) {
        op.openFileAnswers.push_back(DialogResult<std::string>::Accept(Data(source)));
        op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(out));
    }
    // The point lines of the output file.
    std::vector<std::string> OutPoints(size_t header) const {
        auto lines = CrLfLines(out);
        if (lines.size() < header + 1) return {};
        return {lines.begin() + static_cast<long>(header), lines.end() - 1};
    }
    bool Logged(const std::string& line) const {
        for (const auto& l : log.lines)
            if (l == line) return true;
        return false;
    }
};

const char* kLinearSource[] = {
    "2.490000 2.000000",   "2.480000 4.000000",   "2.450000 10.000000",  "2.400000 20.000000",
    "2.350000 30.000000",  "2.300000 40.000000",  "2.250000 50.000000",  "2.115000 77.000000",
    "2.000000 100.000000", "1.750000 150.000000", "1.500000 200.000000", "1.250000 250.000000",
    "1.000000 300.000000", "0.750000 350.000000", "0.500000 400.000000", "0.125000 475.000000"};

TEST(CalGenCommandTest, OnePointAt300KShiftsOnlyAbove30KAndWritesTheFile) {
    CalGenBench b("calgen_linear_diode.crv");
    b.op.onePointAnswers.push_back(DialogResult<OnePointValues>::Accept(One(300, 1.02f)));
    EXPECT_EQ(GenerateDiode300K(b.ctx), kCalGenWritten);

    ASSERT_EQ(b.op.onePointPresets.size(), 1u);
    EXPECT_EQ(b.op.onePointPresets[0].prompt, "Please enter a reference point at around 300K");
    EXPECT_TRUE(b.op.messages.empty());
    // Correction (T - 30) / 270 * 0.02 at and above 30 K.
    const std::vector<std::string> want = {
        "2.490000 2.000000",   "2.480000 4.000000",   "2.450000 10.000000",  "2.400000 20.000000",
        "2.350000 30.000000",  "2.300741 40.000000",  "2.251482 50.000000",  "2.118481 77.000000",
        "2.005185 100.000000", "1.758889 150.000000", "1.512593 200.000000", "1.266296 250.000000",
        "1.020000 300.000000", "0.773704 350.000000", "0.527407 400.000000", "0.157963 475.000000"};
    const auto lines = CrLfLines(b.out);
    ASSERT_EQ(lines.size(), 4u + 16u + 1u);
    EXPECT_EQ((std::vector<std::string>{lines[0], lines[1], lines[2], lines[3]}),
              (std::vector<std::string>{"DT-Linear", "Diode", "1.0000000", "Volts"}));
    EXPECT_EQ(b.OutPoints(4), want);
    EXPECT_EQ(lines.back(), ";");

    // The listing: heading, "%f     %f" per point, ";".
    ASSERT_EQ(b.log.lines.size(), 1u + 16u + 1u);
    EXPECT_EQ(b.log.lines[0], "New Curve generated using   1.020000V at 300.000000K.\n");
    EXPECT_EQ(b.log.lines[7], "2.251482     50.000000\n");
    EXPECT_EQ(b.log.lines.back(), ";\n");

    ASSERT_EQ(b.op.openFileRequests.size(), 1u);
    EXPECT_EQ(b.op.openFileRequests[0].filter, "Curve Files (*.crv)|*.crv|All Files (*.*)|*.*||");
    EXPECT_EQ(b.op.openFileRequests[0].options, unsigned(kFileMustExist | kHideReadOnly));
    ASSERT_EQ(b.op.saveFileRequests.size(), 1u);
    EXPECT_EQ(b.op.saveFileRequests[0].filter, "Curve Files (*.crv)|*.crv||");
    EXPECT_EQ(b.op.saveFileRequests[0].options, unsigned(kOverwritePrompt | kHideReadOnly));
    EXPECT_EQ(b.op.saveFileRequests[0].defaultExtension, "crv");
}

TEST(CalGenCommandTest, OnePointAt4KShiftsOnlyUpTo30K) {
    CalGenBench b("calgen_linear_diode.crv");
    b.op.onePointAnswers.push_back(DialogResult<OnePointValues>::Accept(One(4, 2.5f)));
    EXPECT_EQ(GenerateDiode4K(b.ctx), kCalGenWritten);
    EXPECT_EQ(b.op.onePointPresets[0].prompt, "Please enter a reference point at around 4.2K");
    // Correction (30 - T) / 26 * 0.02 at and below 30 K.
    auto want = std::vector<std::string>(std::begin(kLinearSource), std::end(kLinearSource));
    want[0] = "2.511539 2.000000";  // 2.5115385 in single precision
    want[1] = "2.500000 4.000000";
    want[2] = "2.465385 10.000000";
    want[3] = "2.407692 20.000000";
    EXPECT_EQ(b.OutPoints(4), want);
    EXPECT_EQ(b.log.lines[0], "New Curve generated using   2.500000V at   4.000000K.\n");
}

TEST(CalGenCommandTest, ReferencePointsOnTheCurveReproduceTheSource) {
    const std::vector<std::string> source(std::begin(kLinearSource), std::end(kLinearSource));
    {
        CalGenBench b("calgen_linear_diode.crv");
        b.op.onePointAnswers.push_back(DialogResult<OnePointValues>::Accept(One(300, 1.0f)));
        EXPECT_EQ(GenerateDiode300K(b.ctx), kCalGenWritten);
        EXPECT_EQ(b.OutPoints(4), source);
    }
    {
        CalGenBench b("calgen_linear_diode.crv");
        b.op.twoPointsAnswers.push_back(
            DialogResult<TwoPointsValues>::Accept(Two(77, 2.115f, 300, 1.0f)));
        EXPECT_EQ(GenerateDiodeTwoPoint(b.ctx), kCalGenWritten);
        EXPECT_EQ(b.OutPoints(4), source);
    }
    {
        CalGenBench b("calgen_linear_diode.crv");
        b.op.threePointsAnswers.push_back(
            DialogResult<ThreePointsValues>::Accept(Three(4, 2.48f, 77, 2.115f, 300, 1.0f)));
        EXPECT_EQ(GenerateDiodeThreePoint(b.ctx), kCalGenWritten);
        EXPECT_EQ(b.OutPoints(4), source);
    }
}

TEST(CalGenCommandTest, SourceEndingAt30KFailsThePreTestWithoutADialog) {
    CalGenBench b("calgen_from30_diode.crv");
    EXPECT_EQ(GenerateDiode300K(b.ctx), kCalGenFailed);
    EXPECT_TRUE(b.op.onePointPresets.empty());
    EXPECT_TRUE(b.op.saveFileRequests.empty());
    EXPECT_EQ(b.op.MessageTexts(),
              std::vector<std::string>{"30K is not within the range of the source curve."});
    EXPECT_EQ(b.log.lines, std::vector<std::string>{"30K is not within the range of the curve in " +
                                                    Data("calgen_from30_diode.crv") + ".\n"});
}

TEST(CalGenCommandTest, FivePercentBoundaryPassesAndTheDialogKeepsRefusedValues) {
    CalGenBench b("calgen_linear_diode.crv");
    // The source reads 2.0 at 100 K.
    b.op.onePointAnswers.push_back(DialogResult<OnePointValues>::Accept(One(100, 2.1001f)));
    b.op.onePointAnswers.push_back(DialogResult<OnePointValues>::Accept(One(480, 0.1f)));
    b.op.onePointAnswers.push_back(DialogResult<OnePointValues>::Accept(One(100, 2.1f)));
    EXPECT_EQ(GenerateDiode300K(b.ctx), kCalGenWritten);

    EXPECT_EQ(
        b.op.MessageTexts(),
        (std::vector<std::string>{"Reference volatge exceeded 5% difference.",
                                  "480.000000K is not within the range of the source curve."}));
    ASSERT_GE(b.log.lines.size(), 2u);
    EXPECT_EQ(b.log.lines[0],
              "  2.100100V is more than 5% difference from the source curve at 100.000000K.\n");
    EXPECT_EQ(b.log.lines[1], "480.000000K is not within the range of the curve in " +
                                  Data("calgen_linear_diode.crv") + ".\n");
    ASSERT_EQ(b.op.onePointPresets.size(), 3u);
    EXPECT_EQ(b.op.onePointPresets[1].reading, 2.1001f);
    EXPECT_EQ(b.op.onePointPresets[1].temperature, 100.0f);
    EXPECT_EQ(b.op.onePointPresets[1].prompt, "Please enter a reference point at around 300K");
    EXPECT_EQ(b.op.onePointPresets[2].temperature, 480.0f);
}

TEST(CalGenCommandTest, AnchorsCloserThan10KAreRefusedAndTheDialogOpensAgain) {
    CalGenBench b("calgen_linear_diode.crv");
    b.op.onePointAnswers.push_back(DialogResult<OnePointValues>::Accept(One(39.5f, 2.3f)));
    EXPECT_EQ(GenerateDiode300K(b.ctx), kCalGenCancelled);
    EXPECT_EQ(b.op.onePointPresets.size(), 2u);
    EXPECT_EQ(b.op.MessageTexts(),
              std::vector<std::string>{"The reference temperature must be at least 40K."});
    EXPECT_EQ(b.log.lines,
              std::vector<std::string>{" 39.500000K and  30.000000K are less than 10K apart.\n"});
    EXPECT_TRUE(b.op.saveFileRequests.empty());

    CalGenBench two("calgen_linear_diode.crv");
    two.op.twoPointsAnswers.push_back(
        DialogResult<TwoPointsValues>::Accept(Two(177, 1.615f, 177, 1.615f)));
    EXPECT_EQ(GenerateDiodeTwoPoint(two.ctx), kCalGenCancelled);
    EXPECT_EQ(two.op.MessageTexts(),
              std::vector<std::string>{
                  "The high reference temperature must be at least 10K above the low one."});
}

TEST(CalGenCommandTest, TwoPointsPreparesItsDialogAndWorksOnASourceAbove30K) {
    CalGenBench b("calgen_warm_diode.crv");
    b.op.twoPointsAnswers.push_back(
        DialogResult<TwoPointsValues>::Accept(Two(77, 2.135f, 300, 0.99f)));
    EXPECT_EQ(GenerateDiodeTwoPoint(b.ctx), kCalGenWritten);

    const TwoPointsValues& p = b.op.twoPointsPresets.at(0);
    const float limits[8] = {177, 600, 0, 3000, 1, 177, 0, 3000};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(p.limits[i], limits[i]) << i;
    EXPECT_EQ(p.firstPrompt, "Enter a reference point close to 77K");
    EXPECT_EQ(p.secondPrompt, "Enter a reference point close to 300K");
    EXPECT_EQ(p.firstUnit + p.secondUnit + p.firstLabel + p.secondLabel, "VVVoltage:Voltage:");

    // The reference points are met; 50 K carries 20/47 of the first correction.
    const auto points = b.OutPoints(4);
    ASSERT_EQ(points.size(), 10u);
    EXPECT_EQ(points[0], "2.258511 50.000000");
    EXPECT_EQ(points[1], "2.135000 77.000000");
    EXPECT_EQ(points[6], "0.990000 300.000000");
    EXPECT_EQ(
        b.log.lines[0],
        "Generate curve using   0.990000V at 300.000000K \nand   2.135000V at  77.000000K.\n");
}

TEST(CalGenCommandTest, ThreePointsTestsInItsOrderWithSixOrTwoDecimals) {
    CalGenBench b("calgen_narrow_diode.crv");  // 20 .. 400 K
    b.op.threePointsAnswers.push_back(
        DialogResult<ThreePointsValues>::Accept(Three(4, 2.48f, 15, 2.425f, 450, 0.25f)));
    b.op.threePointsAnswers.push_back(
        DialogResult<ThreePointsValues>::Accept(Three(4, 2.48f, 77, 2.115f, 450, 0.25f)));
    b.op.threePointsAnswers.push_back(
        DialogResult<ThreePointsValues>::Accept(Three(4, 2.48f, 77, 2.115f, 300, 1.0f)));
    EXPECT_EQ(GenerateDiodeThreePoint(b.ctx), kCalGenCancelled);
    const std::string path = Data("calgen_narrow_diode.crv");
    EXPECT_EQ(b.log.lines,
              (std::vector<std::string>{
                  " 15.000000K is not within the range of the curve in " + path + ".\n",
                  "    450.00K is not within the range of the curve in " + path + ".\n",
                  "      4.00K is not within the range of the curve in " + path + ".\n"}));
    EXPECT_EQ(
        b.op.MessageTexts(),
        (std::vector<std::string>{" 15.000000K is not within the range of the source curve.",
                                  "450.000000K is not within the range of the source curve.",
                                  "  4.000000K is not within the range of the source curve."}));
    EXPECT_EQ(b.op.threePointsPresets.size(), 4u);
}

TEST(CalGenCommandTest, ThreePointsCorrectsBelow30KOnTopOfTheWholeCurveShift) {
    CalGenBench b("calgen_linear_diode.crv");
    b.op.threePointsAnswers.push_back(
        DialogResult<ThreePointsValues>::Accept(Three(10, 2.47f, 77, 2.125f, 300, 1.01f)));
    EXPECT_EQ(GenerateDiodeThreePoint(b.ctx), kCalGenWritten);
    // First shift: +0.01 everywhere (equal offsets at 77 and 300 K); second: zero at 30 K and
    // +0.01 more at 10 K, growing to +0.014 at 2 K.
    EXPECT_EQ(
        b.OutPoints(4),
        (std::vector<std::string>{
            "2.514000 2.000000", "2.503000 4.000000", "2.470000 10.000000", "2.415000 20.000000",
            "2.360000 30.000000", "2.310000 40.000000", "2.260000 50.000000", "2.125000 77.000000",
            "2.010000 100.000000", "1.760000 150.000000", "1.510000 200.000000",
            "1.260000 250.000000", "1.010000 300.000000", "0.760000 350.000000",
            "0.510000 400.000000", "0.135000 475.000000"}));
    EXPECT_EQ(b.log.lines[0], "Generate new curve using   1.010000V at 300.000000K,\n");
    EXPECT_EQ(b.log.lines[1], "                     and   2.125000V at  77.000000K,\n");
    EXPECT_EQ(b.log.lines[2], "                     and   2.470000V at  10.000000K.\n");
    EXPECT_EQ(b.log.lines[3], "2.514000     2.000000\n");
}

TEST(CalGenCommandTest, PlatinumReadingsLieOnTheLineThroughTheReferencePoints) {
    std::vector<std::string> first;
    for (const char* source : {"calgen_platinum.crv", "calgen_platinum_other.crv"}) {
        CalGenBench b(source);
        b.op.twoPointsAnswers.push_back(
            DialogResult<TwoPointsValues>::Accept(Two(77, 30.8f, 300, 120.0f)));
        EXPECT_EQ(GeneratePlatinum(b.ctx), kCalGenWritten) << source;
        const auto points = b.OutPoints(3);
        ASSERT_EQ(points.size(), 12u);
        // Single precision throughout: slope, intercept and each reading are floats.
        EXPECT_EQ(points[2], "30.800005 77.000000");
        EXPECT_EQ(points[7], "120.000000 300.000000");
        EXPECT_EQ(points[11], "319.999969 800.000000");
        if (first.empty())
            first = points;
        else
            EXPECT_EQ(points, first);  // the source readings play no part
        EXPECT_EQ(b.log.lines[0],
                  "Generate curve using 120.000000ohm at 300.000000K \nand  30.799999ohm at  "
                  "77.000000K.\n");
        const TwoPointsValues& p = b.op.twoPointsPresets.at(0);
        EXPECT_EQ(p.firstPrompt, "Enter a reference point at LOW temperature");
        EXPECT_EQ(p.secondPrompt, "Enter a reference point at HIGH temperature");
        EXPECT_EQ(p.firstUnit + p.secondLabel, "ohmResistance:");
        EXPECT_EQ(p.limits[1], 1000.0f);
        EXPECT_EQ(p.limits[5], 500.0f);
    }
}

TEST(CalGenCommandTest, PlatinumRefusesEqualTemperaturesAndUsesItsOwnMessages) {
    CalGenBench b("calgen_platinum.crv");
    b.op.twoPointsAnswers.push_back(DialogResult<TwoPointsValues>::Accept(Two(77, 33, 300, 120)));
    b.op.twoPointsAnswers.push_back(DialogResult<TwoPointsValues>::Accept(Two(200, 80, 200, 80)));
    b.op.twoPointsAnswers.push_back(
        DialogResult<TwoPointsValues>::Accept(Two(77, 30.8f, 900, 360)));
    EXPECT_EQ(GeneratePlatinum(b.ctx), kCalGenCancelled);
    EXPECT_EQ(
        b.op.MessageTexts(),
        (std::vector<std::string>{"Low reference resistance exceeded 5% difference.",
                                  "The low and high reference temperatures must differ.",
                                  "900.000000K is not within the range of the source curve."}));
    EXPECT_TRUE(
        b.Logged(" 33.000000V is more than 5% difference from the source curve at  77.000000K.\n"));
    EXPECT_TRUE(b.Logged("    900.00K is not within the range of the curve in " +
                         Data("calgen_platinum.crv") + ".\n"));
    EXPECT_TRUE(b.op.saveFileRequests.empty());
}

TEST(CalGenCommandTest, AnOutputThatCannotBeWrittenIsReportedAndLeavesNoFile) {
    CalGenBench b("calgen_linear_diode.crv");
    const std::string bad = (b.dir.Path() / "missing" / "out.crv").string();
    b.op.saveFileAnswers = {DialogResult<std::string>::Accept(bad)};
    b.op.onePointAnswers.push_back(DialogResult<OnePointValues>::Accept(One(300, 1.0f)));
    EXPECT_EQ(GenerateDiode300K(b.ctx), kCalGenFailed);
    EXPECT_FALSE(std::filesystem::exists(bad));
    EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{"Failed to create file"});
    EXPECT_EQ(b.log.lines.back(), "Cannot write " + bad + "; no curve file written.\n");
    EXPECT_EQ(b.log.lines.size(), 1u + 16u + 1u + 1u);  // the listing stays
}

TEST(CalGenCommandTest, CancelInAnyDialogEndsQuietlyWithoutAFile) {
    {
        CalGenBench b("calgen_linear_diode.crv");
        b.op.openFileAnswers = {DialogResult<std::string>::Cancelled()};
        EXPECT_EQ(GeneratePlatinum(b.ctx), kCalGenCancelled);
        EXPECT_TRUE(b.op.twoPointsPresets.empty());
    }
    {
        CalGenBench b("calgen_linear_diode.crv");
        b.op.saveFileAnswers = {DialogResult<std::string>::Cancelled()};
        b.op.onePointAnswers.push_back(DialogResult<OnePointValues>::Accept(One(4, 2.48f)));
        EXPECT_EQ(GenerateDiode4K(b.ctx), kCalGenCancelled);
        EXPECT_EQ(b.log.lines.size(), 18u);  // the listing was sent before the save dialog
        EXPECT_FALSE(std::filesystem::exists(b.out));
    }
    {
        CalGenBench b("calgen_linear_diode.crv");
        b.op.onePointAnswers.push_back(DialogResult<OnePointValues>::Failed());
        EXPECT_EQ(GenerateDiode300K(b.ctx), kCalGenFailed);
        EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{"Could not create dialog box"});
    }
    {
        // A source the check refuses: its own messages, no dialog.
        CalGenBench b("curves/check_line2.crv");
        EXPECT_EQ(GenerateDiodeThreePoint(b.ctx), kCalGenFailed);
        EXPECT_TRUE(b.op.threePointsPresets.empty());
        EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{"File Syntax Error"});
    }
}

}  // namespace
}  // namespace tavrix
