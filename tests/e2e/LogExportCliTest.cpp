// tavrix-cli export and plot on logs the command line wrote over each transport; the export is
// loaded with pandas and checked against the log.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

#include "TestSupport.h"

using tavrix::test::CrLfLines;
using tavrix::test::Slurp;
using tavrix::test::TempDir;

namespace {

const std::string kCli = TAVRIX_CLI_PATH;
const std::string kCheck = std::string(TAVRIX_E2E_DIR) + "/check_tidy_export.py";

// Runs a shell command with the scratch folder's settings; its exit code.
int Sh(const TempDir& dir, const std::string& command) {
    const std::string full =
        "TAVRIX_CONFIG_DIR='" + dir.Str() + "' " + command + " >>'" + dir.Str() + "/out.txt' 2>&1";
    const int status = std::system(full.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// "serial" and "lan" reach the simulated controller inside tavrix-cli; "gpib" the simulated
// GPIB driver library.
std::string LogCommand(const std::string& transport, const std::string& out,
                       const std::string& extra) {
    const std::string how = transport == "gpib"
                                ? "env TAVRIX_GPIB_LIBRARY='" + std::string(TAVRIX_GPIB_SIM_PATH) +
                                      "' " + kCli + " --gpib 12 --gpib-eoi"
                                : kCli + " --sim=28 --sim-transport " + transport;
    return how + " log --sources A,B,heater1 --interval 0.1 --out '" + out + "' " + extra;
}

}  // namespace

TEST(CliExport, RunsOverEachTransportExportAndLoadInPandas) {
    for (const std::string transport : {"serial", "lan", "gpib"}) {
        for (const std::string format : {"hms", "iso"}) {
            TempDir dir;
            const std::string log = dir.Str() + "/run.csv", tidy = dir.Str() + "/tidy.csv";
            ASSERT_EQ(Sh(dir, LogCommand(transport, log, "--count 12 --time-format " + format)), 0)
                << Slurp(dir.Str() + "/out.txt");
            const auto lines = CrLfLines(log);
            ASSERT_GE(lines.size(), 7u);
            // Only the rows' times depend on the format.
            EXPECT_EQ(lines[6].find('T') != std::string::npos, format == "iso") << lines[6];
            EXPECT_EQ(lines[lines.size() - 2], "Number of entries = 12");
            ASSERT_EQ(Sh(dir, kCli + " export '" + log + "' --out '" + tidy + "'"), 0)
                << Slurp(dir.Str() + "/out.txt");
            EXPECT_EQ(Slurp(tidy).substr(0, 5), "time,");
            ASSERT_EQ(Sh(dir, "/usr/bin/python3 '" + kCheck + "' '" + log + "' '" + tidy + "'"), 0)
                << transport << " " << format << "\n"
                << Slurp(dir.Str() + "/out.txt");
        }
    }
}

TEST(CliExport, ARunCutByKillExportsEveryWholeRow) {
    TempDir dir;
    const std::string log = dir.Str() + "/killed.csv", tidy = dir.Str() + "/tidy.csv";
    EXPECT_EQ(Sh(dir, "timeout -s KILL 3 " + LogCommand("serial", log, "")), 137);
    const std::string bytes = Slurp(log);
    ASSERT_NE(bytes.find("Data logging started at"), std::string::npos);
    EXPECT_EQ(bytes.find("Number of entries"), std::string::npos);
    ASSERT_EQ(Sh(dir, kCli + " export '" + log + "' --out '" + tidy + "'"), 0)
        << Slurp(dir.Str() + "/out.txt");
    ASSERT_EQ(Sh(dir, "/usr/bin/python3 '" + kCheck + "' '" + log + "' '" + tidy + "'"), 0)
        << Slurp(dir.Str() + "/out.txt");
}

TEST(CliExport, RefusalsAndLeftOutRowsFailWithTheirReason) {
    TempDir dir;
    const std::string notLog = dir.Str() + "/notes.csv";
    std::ofstream(notLog) << "a,b\n1,2\n";
    EXPECT_EQ(Sh(dir, kCli + " export '" + notLog + "' --out '" + dir.Str() + "/t.csv'"), 1);
    EXPECT_NE(Slurp(dir.Str() + "/out.txt").find("not a data log"), std::string::npos);
    EXPECT_FALSE(std::ifstream(dir.Str() + "/t.csv").good());

    const std::string odd = dir.Str() + "/odd.csv";
    std::ofstream(odd) << "Sampling interval:     1.0 seconds\r\nEntry Number,Channel A\r\n"
                          "Data logging started at 12/8/2026 9:0:0\r\n9:0:1,+1.0\r\n"
                          "9:0:xx,+2.0\r\n9:0:3,+3.0\r\n";
    // The file is written, but the row that could not be placed is named and fails the run.
    EXPECT_EQ(Sh(dir, kCli + " export '" + odd + "' --out '" + dir.Str() + "/t.csv'"), 1);
    const std::string out = Slurp(dir.Str() + "/out.txt");
    EXPECT_NE(out.find("line 5: the row's time \"9:0:xx\" cannot be placed"), std::string::npos)
        << out;
    EXPECT_NE(out.find("1 row(s) could not be placed"), std::string::npos) << out;
    const std::string tidy = Slurp(dir.Str() + "/t.csv");
    EXPECT_EQ(std::count(tidy.begin(), tidy.end(), '\n'), 3);
}

TEST(CliPlot, DrawsPngAndSvgWithoutADisplay) {
    TempDir dir;
    const std::string log = dir.Str() + "/run.csv";
    ASSERT_EQ(Sh(dir, LogCommand("serial", log, "--count 8")), 0) << Slurp(dir.Str() + "/out.txt");
    const std::string png = dir.Str() + "/plot.png", svg = dir.Str() + "/plot.svg";
    ASSERT_EQ(
        Sh(dir, "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + kCli + " plot '" + log +
                    "' --out '" + png + "' --width 640 --height 400 --sources A,heater1"),
        0)
        << Slurp(dir.Str() + "/out.txt");
    const std::string bytes = Slurp(png);
    ASSERT_GT(bytes.size(), 24u);
    EXPECT_EQ(bytes.substr(1, 3), "PNG");
    auto be32 = [&](size_t at) {
        return (static_cast<unsigned char>(bytes[at]) << 24) |
               (static_cast<unsigned char>(bytes[at + 1]) << 16) |
               (static_cast<unsigned char>(bytes[at + 2]) << 8) |
               static_cast<unsigned char>(bytes[at + 3]);
    };
    EXPECT_EQ(be32(16), 640u);
    EXPECT_EQ(be32(20), 400u);
    ASSERT_EQ(Sh(dir, kCli + " plot '" + log + "' --out '" + svg + "'"), 0)
        << Slurp(dir.Str() + "/out.txt");
    EXPECT_NE(Slurp(svg).find("<svg"), std::string::npos);

    EXPECT_EQ(Sh(dir, kCli + " plot '" + log + "' --out '" + dir.Str() + "/plot.jpg'"), 1);
    EXPECT_EQ(Sh(dir, kCli + " plot '" + log + "' --out '" + png + "' --sources Z"), 1);
    EXPECT_EQ(Sh(dir, kCli + " plot '" + log + "' --out '" + png + "' --from tomorrow"), 1);
    const std::string out = Slurp(dir.Str() + "/out.txt");
    EXPECT_NE(out.find("must end in .png or .svg"), std::string::npos) << out;
    EXPECT_NE(out.find("no column \"z\""), std::string::npos) << out;
    EXPECT_NE(out.find("\"tomorrow\" is not a time"), std::string::npos) << out;
}
