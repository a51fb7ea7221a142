#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "engine/SimEngine.h"

namespace tavrix::sim {
namespace {

using Lines = std::vector<std::string>;

std::string Ask(SimEngine& e, const std::string& line) {
    SimResponse r = e.Execute(line);
    EXPECT_FALSE(r.isTable) << line;
    EXPECT_EQ(r.lines.size(), 1u) << line;
    return r.lines.empty() ? std::string("<none>") : r.lines[0];
}

TEST(SimParser, JoinedRootRestartAndJammedQueriesAnswerInOneLine) {
    SimEngine e;
    e.Execute("INP B:NAME Cold stage");
    EXPECT_EQ(Ask(e, "INP A:NAME?;UNITS?;"), "Input A;K");
    EXPECT_EQ(Ask(e, "INP A:NAME?;:INP B:NAME?;"), "Input A;Cold stage");
    EXPECT_EQ(Ask(e, "LOOP 1:HTRR?NAME?;"), Ask(e, "LOOP 1:OUTP?") + ";Heater 1");
    // A batch as the logger joins it: one value per query, no trailing ";".
    std::string batch = Ask(e, "INP A:TEMP?;:INP B:TEMP?;:LOOP 1:OUTP?;RANGE?;");
    int fields = 1;
    for (char c : batch) fields += c == ';';
    EXPECT_EQ(fields, 4) << batch;
    EXPECT_NE(batch.back(), ';');
    // A node keyword after ";" starts from the root too.
    EXPECT_EQ(Ask(e, "INP A:UNIT?;LOOP 2:NAME?"), "K;Heater 2");
}

TEST(SimParser, KeywordsIgnoreCaseAndLongFormsFold) {
    SimEngine e;
    EXPECT_EQ(Ask(e, "*idn?;"), Ask(e, "*IDN?"));
    EXPECT_EQ(Ask(e, "dlog:state?"), "ON");
    EXPECT_EQ(Ask(e, "input a:unit s;iSENIX 33;vbias 10mv;Brange 10K;Brange?"), "10K");
    EXPECT_EQ(Ask(e, "inp A:units?;unit?;ISENIX?"), "S;S;33");
    EXPECT_EQ(Ask(e, "syst:reseed;:*opc?"), "1");
}

TEST(SimParser, LineLimitNonQueriesAndUnknownCommands) {
    SimEngine e;
    std::string ok = "INP A:NAME " + std::string(89, 'x');
    ASSERT_EQ(ok.size(), 100u);
    EXPECT_FALSE(e.Execute(ok).refused);
    SimResponse tooLong = e.Execute(ok + "y");
    EXPECT_TRUE(tooLong.refused);
    EXPECT_TRUE(tooLong.lines.empty());

    EXPECT_TRUE(e.Execute("LOOP 1:SETPT 12.5").lines.empty());
    EXPECT_TRUE(e.Execute("?IDN").lines.empty());  // "?" first: not a query
    EXPECT_TRUE(e.Execute("   ").lines.empty());
    EXPECT_TRUE(e.Execute("FROB 3").lines.empty());
    EXPECT_EQ(Ask(e, "FROB?"), "0");
    EXPECT_EQ(Ask(e, "LOOP 1:FROB?;SETPT?"), "0;12.500");
}

TEST(SimParser, MissingInputsAndLoopsAnswerZeroOrEmpty) {
    SimEngine monitor(SimOptions{31, 1});
    EXPECT_EQ(Ask(monitor, "INP C:TEMP?;UNIT?;NAME?;"), "0;;");
    EXPECT_EQ(Ask(monitor, "LOOP 1:HTRR?NAME?;"), "0;");
    SimEngine controller(SimOptions{27, 1});
    EXPECT_EQ(Ask(controller, "LOOP 4:OUTP?NAME?;"), "0;");
    EXPECT_EQ(Ask(controller, "LOOP 3:OUTP?NAME?;"), "0.00;Analog 1");
}

// The bench instrument: a model given every input and loop answers every source the program
// logs, and still names itself as its model.
TEST(SimParser, InputAndLoopCountsCanBeGivenBeyondTheModel) {
    SimOptions o{28, 1};
    o.inputs = 8;
    o.loops = 4;
    SimEngine bench(o);
    EXPECT_EQ(Ask(bench, "INP H:NAME?"), "Input H");
    EXPECT_EQ(Ask(bench, "LOOP 4:OUTP?NAME?;"), "0.00;Analog 2");
    EXPECT_EQ(Ask(bench, "SYST:IDEF?").substr(0, 3), "28,");
    o.inputs = 20;  // beyond what the letters name: held at eight
    SimEngine capped(o);
    EXPECT_EQ(Ask(capped, "INP H:NAME?"), "Input H");
}

struct ModelCase {
    int code, inputs, loops, family;
};

TEST(SimIdentity, EveryModelNamesItselfAndItsCode) {
    const ModelCase cases[] = {{27, 4, 3, 2}, {28, 4, 4, 2}, {29, 8, 0, 1}, {30, 4, 0, 1},
                               {31, 2, 0, 1}, {32, 2, 4, 2}, {33, 4, 0, 0}, {99, 4, 0, 0}};
    std::vector<std::string> names;
    for (const ModelCase& m : cases) {
        SimEngine e(SimOptions{m.code, 7});
        std::string idn = Ask(e, "*IDN?");
        size_t model = idn.find("Model");
        ASSERT_NE(model, std::string::npos) << idn;
        size_t comma = idn.find(',', model);
        ASSERT_NE(comma, std::string::npos) << idn;
        names.push_back(idn.substr(0, comma));
        EXPECT_NE(idn.substr(idn.rfind(',') + 1), "") << idn;

        int code = 0, d = 0, family = -1;
        unsigned long serial = 0;
        unsigned inputs = 0, loops = 0, u = 0;
        std::string def = Ask(e, "SYST:IDEF?");
        ASSERT_EQ(std::sscanf(def.c_str(), "%d,%lu,%u,%u,%u,%u,%d", &code, &serial, &inputs, &loops,
                              &u, &u, &family),
                  7)
            << def;
        EXPECT_EQ(code, m.code);
        EXPECT_EQ(static_cast<int>(inputs), m.inputs);
        EXPECT_EQ(static_cast<int>(loops), m.loops);
        EXPECT_EQ(family, m.family);
        (void)d;
        // The last input answers, the one after it does not.
        char last = static_cast<char>('A' + m.inputs - 1);
        EXPECT_NE(Ask(e, std::string("INP ") + last + ":NAME?"), "");
        if (m.inputs < 8) {
            EXPECT_EQ(Ask(e, std::string("INP ") + static_cast<char>(last + 1) + ":NAME?"), "");
        }
        EXPECT_EQ(Ask(e, "*OPC?"), "1");
    }
    for (size_t i = 0; i < names.size(); ++i) {
        for (size_t j = i + 1; j < names.size(); ++j) EXPECT_NE(names[i], names[j]);
    }
}

TEST(SimThermal, TemperaturesFollowTheSetpointAndRepeatWithTheSeed) {
    SimEngine a(SimOptions{28, 42}), b(SimOptions{28, 42}), c(SimOptions{28, 43});
    for (SimEngine* e : {&a, &b, &c}) e->Execute("LOOP 1:SETPT 50;RANGE 3");
    std::string ta, tb, tc;
    for (int i = 0; i < 40; ++i) {
        ta = Ask(a, "INP A:TEMP?");
        tb = Ask(b, "INP A:TEMP?");
        tc = Ask(c, "INP A:TEMP?");
    }
    EXPECT_EQ(ta, tb);
    EXPECT_NE(ta, tc);
    EXPECT_NEAR(std::stod(ta), 50.0, 0.5);
    EXPECT_GT(std::stod(Ask(a, "LOOP 1:OUTP?")), 0.0);
    a.Execute("LOOP 1:RANGE 0");
    for (int i = 0; i < 40; ++i) ta = Ask(a, "INP A:TEMP?");
    EXPECT_LT(std::stod(ta), 5.0);
    EXPECT_EQ(Ask(a, "LOOP 1:OUTP?;RANGE?"), "0.00;0");
}

// Every table ends with a line ";" and no other line holds one.
void ExpectTable(const SimResponse& r, size_t dataLines) {
    ASSERT_TRUE(r.isTable);
    ASSERT_EQ(r.lines.size(), dataLines + 1);
    EXPECT_EQ(r.lines.back(), ";");
    for (size_t i = 0; i + 1 < r.lines.size(); ++i) {
        EXPECT_EQ(r.lines[i].find(';'), std::string::npos) << r.lines[i];
    }
}

TEST(SimTables, CurveDownloadIsStoredAndReadBack) {
    SimEngine e;
    ExpectTable(e.Execute("CALC? 3"), 4);  // an empty user curve: its header only
    EXPECT_EQ(Ask(e, "SENSORIX 63:NENTRY?"), "0");

    const Lines sent = {"CALC 3",
                        "MY-DIODE",
                        "Diode",
                        "-1.000000",
                        "Volts",
                        "0.100000     300.000000",
                        "0.500000     77.000000",
                        "1.200000     4.200000",
                        ";"};
    for (const std::string& l : sent) {
        SimResponse r = e.Execute(l);
        EXPECT_TRUE(r.lines.empty()) << l;
        EXPECT_FALSE(r.refused) << l;
    }
    EXPECT_EQ(Ask(e, "SENSORIX? 63"), "MY-DIODE");
    EXPECT_EQ(Ask(e, "SENSORIX 63:NENTRY?"), "3");
    SimResponse back = e.Execute("CALC? 3");
    ExpectTable(back, 7);
    EXPECT_EQ(back.lines, Lines(sent.begin() + 1, sent.end()));
    EXPECT_EQ(e.Execute("CALC? 63").lines, back.lines);
    EXPECT_EQ(Ask(e, "SENSORIX? 64"), "USER CURVE 4");
}

TEST(SimTables, BadCurveLinesAreRefusedButInputGoesOn) {
    SimEngine e;
    e.Execute("CALC 1");
    EXPECT_TRUE(e.InInputMode());
    for (const char* l : {"N", "Diode", "1.0", "Volts"}) EXPECT_FALSE(e.Execute(l).refused);
    EXPECT_TRUE(e.Execute("abc     1.0").refused);
    EXPECT_TRUE(e.Execute("1.0").refused);
    EXPECT_TRUE(e.Execute("1.0 2.0 3.0").refused);
    EXPECT_TRUE(e.Execute("*IDN?").lines.empty());  // data while the curve is open
    EXPECT_FALSE(e.Execute("0.5     10.0").refused);
    e.Execute(";");
    EXPECT_FALSE(e.InInputMode());
    EXPECT_EQ(Ask(e, "SENSORIX 61:NENTRY?"), "1");
    // Standard curves are there to read, not to overwrite.
    ExpectTable(e.Execute("CALC? 12"), 4 + 31);
    e.Execute("CALC 12");
    EXPECT_FALSE(e.InInputMode());
}

TEST(SimTables, PidTableDownloadIsStoredAndReadBack) {
    SimEngine e;
    ExpectTable(e.Execute("PIDT 1:TABLE?"), 4);
    EXPECT_EQ(Ask(e, "PIDT 1:NENT?"), "3");

    e.Execute("PIDT 2:table");
    e.Execute("My table");
    EXPECT_TRUE(e.Execute("1.0 2.0").refused);
    for (int i = 1; i <= 17; ++i) {
        SimResponse r = e.Execute(std::to_string(i) + ".0 50.0 20.0 0.0 LOW");
        EXPECT_EQ(r.refused, i > 16) << i;
    }
    e.Execute(";");
    EXPECT_EQ(Ask(e, "PIDT 2:NENT?"), "16");
    SimResponse t = e.Execute("PIDT 2:TABLE?");
    ExpectTable(t, 17);
    EXPECT_EQ(t.lines[0], "My table");
    EXPECT_EQ(t.lines[1], "1.0 50.0 20.0 0.0 LOW");
}

TEST(SimTables, InternalLogPausesCountsAndRestores) {
    SimEngine e;
    EXPECT_EQ(Ask(e, "DLog:State?"), "ON");
    e.Execute("DLog:State off");
    int count = std::stoi(Ask(e, "DLog:Count?"));
    EXPECT_GT(count, 0);
    for (int i = 0; i < 20; ++i) e.Execute("*OPC?");
    EXPECT_EQ(std::stoi(Ask(e, "DLog:Count?")), count);
    SimResponse r = e.Execute("DLog:Read?");
    ExpectTable(r, static_cast<size_t>(count));
    EXPECT_EQ(r.lines[0].rfind("1,00:00:05,", 0), 0u) << r.lines[0];
    e.Execute("DLog:State ON");
    for (int i = 0; i < 20; ++i) e.Execute("*OPC?");
    EXPECT_GT(std::stoi(Ask(e, "DLog:Count?")), count);
}

TEST(SimCalibration, PasswordGainOffsetAndModeRules) {
    SimEngine e;
    EXPECT_EQ(Ask(e, "INST A:PSWD?"), "CALIB     ");
    EXPECT_EQ(Ask(e, "INST A:PSWD NEWPW;PSWD?"), "NEWPW     ");
    EXPECT_EQ(Ask(e, "INST B:PSWD ELEVENCHARS;PSWD?"), "NEWPW     ");

    // Outside calibration mode the gain does not move.
    std::string before = Ask(e, "INST A:GAIN?");
    EXPECT_EQ(Ask(e, "INST A:GAIN 1.050000;GAIN?"), before);
    EXPECT_EQ(Ask(e, "INST A:MODE ON;MODE?;"), "ON");
    EXPECT_EQ(Ask(e, "INST A:TYPE R1mA;TYPE?"), "R1mA");
    EXPECT_EQ(Ask(e, "INST A:GAIN 1.050000;GAIN?"), "1.0500000");
    EXPECT_EQ(Ask(e, "INST A:OFFSET -0.500000;OFFSET?"), "-0.5000000");
    // Another range of the same channel keeps its own values.
    EXPECT_NE(Ask(e, "INST A:TYPE V10UA;GAIN?"), "1.0500000");
    EXPECT_EQ(Ask(e, "INST A:TYPE R1MA;SAVE;MODE?"), "ON");
    EXPECT_EQ(Ask(e, "INST A:MODE OFF;MODE?;"), "OFF");
    EXPECT_EQ(Ask(e, "INST A:GAIN?;OFFSET?;"), "1.0500000;-0.5000000");

    // Unsaved changes are lost when the mode is left.
    e.Execute("INST B:MODE ON;TYPE R1mA;GAIN 0.95");
    e.Execute("INST B:MODE OFF");
    EXPECT_NE(Ask(e, "INST B:GAIN?"), "0.9500000");
}

TEST(SimCalibration, ReadingSettlesAfterReseed) {
    SimEngine e;
    e.Execute("SIM:APPLY A 100.5");
    e.Execute("INST A:TYPE R1mA");
    auto spread = [&] {
        double lo = 1e9, hi = -1e9;
        for (int i = 0; i < 8; ++i) {
            double v = std::stod(Ask(e, "INPUT? A;"));
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        return (hi - lo) / hi;
    };
    EXPECT_GT(spread(), 1e-4);
    EXPECT_EQ(Ask(e, "syst:reseed;:*OPC?"), "1");
    EXPECT_LT(spread(), 1e-4);
    EXPECT_NEAR(std::stod(Ask(e, "INPUT? A;")), 100.5, 0.5);

    // The noisy switch keeps readings wandering after a reseed; clearing the faults ends it.
    e.Execute("SIM:FAULT NOISY 1");
    EXPECT_EQ(Ask(e, "syst:reseed;:*OPC?"), "1");
    EXPECT_GT(spread(), 1e-4);
    e.Execute("SIM:FAULT CLEAR");
    EXPECT_LT(spread(), 1e-4);
}

TEST(SimCalibration, EveryStepCommandIsAnswered) {
    SimEngine e(SimOptions{27, 3});
    struct Step {
        const char* type;
        const char* range;
        const char* input;
        const char* reply;
    } steps[] = {
        {"INST D:TYPE V10UA;TYPE?", "V10UA", "INPUT D:UNIT S;ISENIX 19;:*OPC?", "1"},
        {"INST D:TYPE I10UA;TYPE?", "I10UA", "INPUT D:UNIT S;ISENIX 1;:*OPC? ", "1"},
        {"INST D:TYPE R1mA;TYPE?", "R1mA", "INPUT D:UNIT S;ISENIX 20;:*OPC?", "1"},
        {"INST D:TYPE R100UA;TYPE?", "R100UA", "INPUT D:UNIT S;ISENIX 21;:*OPC?", "1"},
        {"INST D:TYPE R10UA;TYPE?", "R10UA", "INPUT D:UNIT S;ISENIX 22;:*OPC?", "1"},
        {"INST D:TYPE NTC10UA;TYPE?", "NTC10UA", "INPUT D:UNIT S;sensor 31;:*OPC?", "1"},
        {"INST D:TYPE ACR10K;TYPE?", "ACR10K",
         "INPUT D:UNIT S;iSENIX 33;vbias 10mv;Brange 10K;Brange?", "10K"},
        {"INST D:TYPE ACR1K;TYPE?", "ACR1K", "INPUT D:Brange 1.0K;Brange?", "1.0K"},
        {"INST D:TYPE ACR100;TYPE?", "ACR100", "INPUT D:Brange 100;Brange?", "100"},
        {"INST D:TYPE ACR10;TYPE?", "ACR10", "INPUT D:Brange 10;Brange?", "10"},
    };
    EXPECT_EQ(Ask(e, "INST D:MODE ON;MODE?;"), "ON");
    std::set<std::string> calibrations;  // each range keeps its own
    for (const Step& s : steps) {
        EXPECT_EQ(Ask(e, s.type), s.range);
        EXPECT_EQ(Ask(e, s.input), s.reply) << s.input;
        const std::string gainOffset = Ask(e, "INST D:GAIN?;OFFSET?;");
        double g = 0, o = 0;
        EXPECT_EQ(std::sscanf(gainOffset.c_str(), "%lf;%lf", &g, &o), 2) << gainOffset;
        EXPECT_NEAR(g, 1.0, 0.001);
        calibrations.insert(gainOffset);
    }
    EXPECT_EQ(calibrations.size(), 10u);
    EXPECT_EQ(Ask(e, "INST D:MODE OFF;MODE?;"), "OFF");
}

TEST(SimControl, FaultLinesSetFaultsQuietlyAndLinesAreRecorded) {
    SimEngine e;
    EXPECT_TRUE(e.Execute("SIM:FAULT delay 250").lines.empty());
    e.Execute("sim:fault droptable 2");
    e.Execute("SIM:FAULT silent 1");
    e.Execute("SIM:FAULT refuse 1");
    EXPECT_EQ(e.Faults().delayMs, 250);
    EXPECT_EQ(e.Faults().dropTableAfter, 2);
    EXPECT_TRUE(e.Faults().silent);
    EXPECT_TRUE(e.Execute("*IDN?").refused);
    e.Execute("SIM:FAULT CLEAR");
    EXPECT_FALSE(e.Faults().silent);
    EXPECT_FALSE(e.Faults().refuseLines);
    EXPECT_EQ(e.Faults().dropTableAfter, -1);
    EXPECT_EQ(e.ReceivedLines().size(), 6u);
    EXPECT_EQ(e.ReceivedLines()[4], "*IDN?");
    e.ClearReceivedLines();
    EXPECT_TRUE(e.ReceivedLines().empty());
}

}  // namespace
}  // namespace tavrix::sim
