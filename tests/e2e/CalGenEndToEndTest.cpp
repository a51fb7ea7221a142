// Curve generation as an operator runs it: the command line, and a generated curve taken
// through the simulated controller and back.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "calgen/CalGenCommands.h"
#include "curves/CurveCommands.h"
#include "engine/SimEngine.h"
#include "engine/SimFrontEnds.h"

namespace tavrix {
namespace {

using test::Slurp;

std::string Data(const std::string& name) {
    return std::string(TAVRIX_TEST_DATA_DIR) + "/" + name;
}

bool StartsWith(const std::string& s, const std::string& head) {
    return s.rfind(head, 0) == 0;
}
bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

struct CliRun {
    int exitCode = -1;
    std::string out, err;
};

// tavrix-cli calgen with arguments (no shell metacharacters in them), stdout and stderr apart.
CliRun CalGen(const test::TempDir& dir, const std::vector<std::string>& args) {
    const std::string errFile = dir.Str() + "/stderr.txt";
    std::string cmd = std::string("'") + TAVRIX_CLI_PATH + "' calgen";
    for (const auto& a : args) cmd += " '" + a + "'";
    cmd += " 2>'" + errFile + "'";
    CliRun r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    const int status = pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = Slurp(errFile);
    return r;
}

TEST(CalGenCli, PrintsTheListingOfTheLogAndWritesTheCurve) {
    test::TempDir dir;
    const std::string out = dir.Str() + "/gen.crv";
    const CliRun r = CalGen(dir, {"diode-300k", "--source", Data("calgen_linear_diode.crv"),
                                  "--out", out, "--point", "300,1.02"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(StartsWith(r.out,
                           "New Curve generated using   1.020000V at 300.000000K.\n"
                           "2.490000     2.000000\n2.480000     4.000000\n"))
        << r.out;
    EXPECT_NE(r.out.find("\n2.251482     50.000000\n"), std::string::npos);
    EXPECT_TRUE(EndsWith(r.out, "0.157963     475.000000\n;\n"));
    const std::string file = Slurp(out);
    EXPECT_TRUE(StartsWith(file, "DT-Linear\r\nDiode\r\n1.0000000\r\nVolts\r\n"));
    EXPECT_NE(file.find("\r\n2.251482 50.000000\r\n"), std::string::npos);
    EXPECT_TRUE(EndsWith(file, "\r\n0.157963 475.000000\r\n;\r\n"));

    // Points in the order low, middle, high.
    const CliRun three =
        CalGen(dir, {"diode-3pt", "--source", Data("calgen_linear_diode.crv"), "--out", out,
                     "--point", "10,2.47", "--point", "77,2.125", "--point", "300,1.01"});
    EXPECT_EQ(three.exitCode, 0) << three.err;
    EXPECT_TRUE(StartsWith(three.out, "Generate new curve using   1.010000V at 300.000000K,\n"));
}

TEST(CalGenCli, ARefusedPointExitsNonZeroWithTheMessageAndWritesNothing) {
    test::TempDir dir;
    const std::string out = dir.Str() + "/gen.crv";
    const CliRun off = CalGen(dir, {"platinum", "--source", Data("calgen_platinum.crv"), "--out",
                                    out, "--point", "77,33", "--point", "300,120"});
    EXPECT_NE(off.exitCode, 0);
    EXPECT_NE(off.err.find("Low reference resistance exceeded 5% difference."), std::string::npos)
        << off.err;
    EXPECT_EQ(off.out,
              " 33.000000V is more than 5% difference from the source curve at  77.000000K.\n");

    const CliRun limit = CalGen(dir, {"diode-2pt", "--source", Data("calgen_linear_diode.crv"),
                                      "--out", out, "--point", "77,2.115", "--point", "700,1"});
    EXPECT_NE(limit.exitCode, 0);
    EXPECT_NE(limit.err.find("Enter a number between 177 and 600."), std::string::npos)
        << limit.err;

    const CliRun range = CalGen(dir, {"diode-4k", "--source", Data("calgen_narrow_diode.crv"),
                                      "--out", out, "--point", "4,2.48"});
    EXPECT_NE(range.exitCode, 0);
    EXPECT_NE(range.err.find("  4.000000K is not within the range of the source curve."),
              std::string::npos)
        << range.err;
    EXPECT_FALSE(std::ifstream(out).good());
}

// A generated curve goes into the simulated controller with the curve download and comes
// back with the upload, point for point.
TEST(CalGenRoundTrip, AGeneratedCurveDownloadsAndUploadsBackUnchanged) {
    test::TempDir dir;
    const std::string generated = dir.Str() + "/generated.crv";
    {
        test::ScriptedOperator op;
        test::CollectingLog log;
        CalGenContext ctx{op, log};
        op.openFileAnswers.push_back(
            DialogResult<std::string>::Accept(Data("calgen_linear_diode.crv")));
        op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(generated));
        op.twoPointsAnswers.push_back(DialogResult<TwoPointsValues>::Accept([] {
            TwoPointsValues v;
            v.firstTemperature = 77;
            v.firstReading = 2.13f;
            v.secondTemperature = 300;
            v.secondReading = 0.985f;
            return v;
        }()));
        ASSERT_EQ(GenerateDiodeTwoPoint(ctx), kCalGenWritten);
    }

    sim::SimEngine engine{sim::SimOptions{28, 7}};
    sim::PtyFrontEnd pty{engine};
    SettingsStore settings(dir.Str());
    test::ScriptedOperator op;
    test::CollectingLog log;
    CInstrumentLink link{op, settings};
    link.SetSerialDeviceOverride(pty.SlavePath());
    link.StartUp();
    link.SetPortType(kPortRs232);
    SessionMutex mutex;
    ShortcutBarModel bar;
    FeatureManager features{&bar};
    CurveContext ctx{{link, mutex, features, bar, op, log}, op};
    ctx.sleep = [](std::chrono::milliseconds) {};

    op.openFileAnswers.push_back(DialogResult<std::string>::Accept(generated));
    op.headerAnswers.push_back(test::ScriptedOperator::AcceptHeader());
    op.userCurveAnswers.push_back(DialogResult<int>::Accept(3));
    DownloadCurve(ctx);
    const std::string uploaded = dir.Str() + "/uploaded.crv";
    op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(uploaded));
    op.userCurveAnswers.push_back(DialogResult<int>::Accept(3));
    UploadCurve(ctx);

    SensorCurve sent, back;
    ASSERT_EQ(SensorCurve::ReadCrvFile(generated, sent), kCurveReadOk);
    ASSERT_EQ(SensorCurve::ReadCrvFile(uploaded, back), kCurveReadOk) << Slurp(uploaded);
    EXPECT_EQ(back.sensorName, "DT-Linear");
    EXPECT_EQ(back.sensorType, sent.sensorType);
    EXPECT_EQ(back.unitCode, sent.unitCode);
    ASSERT_EQ(back.PointCount(), 16u);
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(back.points[i].sensorValue, sent.points[i].sensorValue) << i;
        EXPECT_EQ(back.points[i].temperature, sent.points[i].temperature) << i;
    }
    EXPECT_NE(std::find(log.lines.begin(), log.lines.end(),
                        "User Curve 4 is downloaded from " + generated + "\n"),
              log.lines.end());
}

}  // namespace
}  // namespace tavrix
