// Each way an exchange can fail, pushed through the real link against a stand-in instrument:
// the status, what the operator is shown, how long it took (loosely), and that the next
// exchange still gets its own answer.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "StandInInstrument.h"
#include "TestSupport.h"
#include "base/SettingsStore.h"
#include "link/CInstrumentLink.h"

using namespace tavrix;
using namespace std::chrono;
using tavrix::test::ScriptedOperator;
using tavrix::test::StandInAnswer;
using tavrix::test::StandInInstrument;
using tavrix::test::TempDir;

namespace {

const std::string kIdn = "TAVRIX,Model 336,4711,1.2";
const std::string kTemp = "+77.350";
const std::vector<std::string> kCommError{"Communication Error"};

// How the stand-in answers the first query ("*IDN?") of a case; "INP A:TEMP?" is always
// answered at once, so that it shows whether the link has kept anything from before.
using Fault = std::function<std::optional<StandInAnswer>(const std::string& eol)>;

StandInInstrument::Script Answering(Fault fault, std::string eol) {
    return [fault, eol](const std::string& line, int) -> std::optional<StandInAnswer> {
        if (line == "INP A:TEMP?") return StandInAnswer{kTemp + eol};
        if (line == "*IDN?") return fault(eol);
        if (line.find("TABLE?") != std::string::npos) return fault(eol);
        return std::nullopt;
    };
}

Fault Late(int ms) {
    return [ms](const std::string& eol) { return StandInAnswer{kIdn + eol, ms}; };
}
Fault Trickle(int ms, std::string text) {
    return [ms, text](const std::string& eol) { return StandInAnswer{text, 0, ms}; };
}
Fault Text(std::string text) {
    return [text](const std::string& eol) { return StandInAnswer{text + eol}; };
}
std::string Lines(int n, const std::string& line) {
    std::string all;
    for (int i = 0; i < n; ++i) all += line;
    return all;
}
// Lines without end: a table that never stops.
Fault Endless(int lines) {
    return [lines](const std::string& eol) { return StandInAnswer{Lines(lines, "1.0 2.0" + eol)}; };
}

enum class Act { Query, Quiet, CommandAfterHangUp, Table };

struct Case {
    const char* name;
    Fault fault;
    Act act;
    int status;
    std::vector<std::string> messages;
    milliseconds bound;
    std::string reply = {};   // expected on success ("" = not checked)
    bool nextAnswers = true;  // false: the line is gone, the next exchange fails as well
};

struct Outcome {
    int status;
    std::string reply;
    milliseconds took;
};

Outcome Exchange(CInstrumentLink& link, StandInInstrument& in, Act act) {
    std::string reply;
    const std::string idn = "*IDN?";
    const std::string table = "PIDT 1:TABLE?";
    if (act == Act::CommandAfterHangUp) in.HangUp();
    const auto start = steady_clock::now();
    int status = 0;
    switch (act) {
        case Act::Query:
            status = link.Query(idn, reply);
            break;
        case Act::Quiet:
            status = link.TransactQuiet(idn, &reply);
            break;
        case Act::CommandAfterHangUp:
            status = link.Command("CALC 61");
            break;
        case Act::Table:
            status = link.FetchTable(3, "Receiving", &table, &reply);
            break;
    }
    return {status, reply, duration_cast<milliseconds>(steady_clock::now() - start)};
}

void Check(const Case& c, const Outcome& o, ScriptedOperator& op, CInstrumentLink& link) {
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(op.MessageTexts(), c.messages);
    EXPECT_LT(o.took, c.bound);
    if (!c.reply.empty()) {
        EXPECT_EQ(o.reply, c.reply);
    }
    op.messages.clear();
    std::string next;
    const int status = link.Query("INP A:TEMP?", next);
    if (c.nextAnswers) {
        EXPECT_EQ(status, 0);
        EXPECT_EQ(next, kTemp);
    } else {
        EXPECT_NE(status, 0);
    }
}

}  // namespace

TEST(LinkFailures, Rs232) {
    // At 115200 baud one attempt may last 0.5 s + 0.36 s.
    const milliseconds attempt = CInstrumentLink::Rs232AttemptBound(115200);
    ASSERT_EQ(attempt, milliseconds(856));
    const std::string full(4096, 'x');
    const Case cases[] = {
        {"answer late, after the repeat", Late(600), Act::Query, 0, {}, 2500ms, kIdn},
        {"answer late to the single quiet attempt", Late(600), Act::Quiet, -1, {}, 900ms},
        {"answer trickling past the attempt's bound",
         Trickle(100, "TAVRIX,Mod\r\n"),
         Act::Quiet,
         -1,
         {},
         attempt + 400ms},
        {"4096 characters and CR LF", Text(full), Act::Query, 0, {}, 1000ms, full},
        {"4097 characters", Text(full + "y"), Act::Query, -1, kCommError, 1500ms},
        {"NUL bytes dropped",
         Text(std::string("TAVRIX,Model\0 336", 17)),
         Act::Query,
         0,
         {},
         1000ms,
         "TAVRIX,Model 336"},
        {"endless table", Endless(1000), Act::Table, -1, kCommError, 3000ms},
        // Still streaming when the line limit is passed: the rest must not answer the next query.
        {"table flooding on past its line limit", Trickle(1, Lines(300, "1 2\r\n")), Act::Table, -1,
         kCommError, 4000ms},
        // Still streaming long after the read-away's bound: the next exchange must not send
        // into it, and fails rather than take a line of it for its answer.
        {"table flooding on past every read-away", Trickle(5, Lines(300, "1 2\r\n")), Act::Table,
         -1, kCommError, 4500ms, "", false},
        {"table trickling past its deadline", Trickle(100, "1.0 2.0\r\n3.0 4.0\r\n"), Act::Table,
         -1, kCommError, 3500ms},
        {"line hung up: writes fail", Late(0), Act::CommandAfterHangUp, -1, kCommError, 1000ms, "",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StandInInstrument in(StandInInstrument::Wire::Pty, Answering(c.fault, "\r\n"));
        TempDir dir;
        SettingsStore settings(dir.Str());
        ScriptedOperator op;
        CInstrumentLink link(op, settings);
        link.SetSerialDeviceOverride(in.SlavePath());
        link.StartUp();
        link.SetTableFloor(1000ms);
        Check(c, Exchange(link, in, c.act), op, link);
    }
}

TEST(LinkFailures, Rs232LineThatTakesNoMoreData) {
    StandInInstrument in(StandInInstrument::Wire::Pty, Answering(Late(0), "\r\n"));
    TempDir dir;
    SettingsStore settings(dir.Str());
    ScriptedOperator op;
    CInstrumentLink link(op, settings);
    link.SetSerialDeviceOverride(in.SlavePath());
    link.StartUp();
    in.Stall(true);
    const std::string line(100, 'S');
    int status = 0;
    milliseconds took{};
    for (int i = 0; i < 20000 && status == 0; ++i) {
        const auto start = steady_clock::now();
        status = link.Command(line);
        took = duration_cast<milliseconds>(steady_clock::now() - start);
    }
    EXPECT_EQ(status, link_status::kRs232Timeout);
    EXPECT_EQ(op.MessageTexts(), kCommError);
    // The port's 500 ms for the queue to drain and for the write, and not much more.
    EXPECT_LT(took, 1500ms);
    in.Stall(false);
    op.messages.clear();
    std::string reply;
    EXPECT_EQ(link.Query("INP A:TEMP?", reply), 0);
    EXPECT_EQ(reply, kTemp);
}

TEST(LinkFailures, Lan) {
    const std::string full(4096, 'x');
    // The link waits 600 ms here instead of the 3 s it is given in use.
    const Case cases[] = {
        {"answer after the time-out", Late(900), Act::Query, -7, kCommError, 1100ms},
        {"answer trickling past the time-out", Trickle(100, kIdn + "\r\n"), Act::Query, -7,
         kCommError, 1100ms},
        {"4096 characters and CR LF", Text(full), Act::Query, 0, {}, 1000ms, full},
        {"4097 characters", Text(full + "y"), Act::Query, -7, kCommError, 1000ms},
        {"NUL bytes dropped",
         Text(std::string("TAVRIX,Model\0 336", 17)),
         Act::Query,
         0,
         {},
         1000ms,
         "TAVRIX,Model 336"},
        {"endless table", Endless(1000), Act::Table, -7, {}, 3000ms},
        {"table trickling past its deadline",
         Trickle(100, "1.0 2.0\r\n3.0 4.0\r\n"),
         Act::Table,
         -7,
         {},
         1700ms},
        {"connection dropped", Late(0), Act::CommandAfterHangUp, -7, kCommError, 1500ms, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StandInInstrument in(StandInInstrument::Wire::Tcp, Answering(c.fault, "\r\n"));
        TempDir dir;
        SettingsStore settings(dir.Str());
        ScriptedOperator op;
        CInstrumentLink link(op, settings);
        link.SetSerialDeviceOverride("/nonexistent/tty");
        link.StartUp();
        link.SetPortType(kPortLan);
        link.SetTableFloor(1000ms);
        link.Lan().SetTimeouts(1000, 600);
        link.IpAddr() = MyIPAddr(0x7F000001u, in.Port());
        ASSERT_EQ(link.LanConnect(), 1);
        const Outcome o = Exchange(link, in, c.act);
        if (c.act == Act::CommandAfterHangUp) {
            // The first line may still be taken by the kernel; a query learns the truth.
            std::string reply;
            EXPECT_EQ(link.Query("*IDN?", reply), -7);
            EXPECT_LT(o.took, c.bound);
            EXPECT_FALSE(link.Lan().IsConnected());
            continue;
        }
        Check(c, o, op, link);
        // A late or cut reply was left on a connection that is closed now.
        if (c.status != 0) {
            EXPECT_EQ(in.Connections(), 2);
        }
    }
}

namespace {

// The simulated GPIB library, loaded into this process as the link loads it.
struct GpibSim {
    GpibSim() {
        handle = dlopen(TAVRIX_GPIB_SIM_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!handle) return;
        set = reinterpret_cast<void (*)(const char*, long)>(dlsym(handle, "tavrix_gpib_sim_set"));
        ibrd = reinterpret_cast<int (*)(int, void*, long)>(dlsym(handle, "ibrd"));
        set("reset", 0);
    }
    ~GpibSim() {
        if (handle) dlclose(handle);
    }
    void* handle = nullptr;
    void (*set)(const char*, long) = nullptr;
    int (*ibrd)(int, void*, long) = nullptr;
};

}  // namespace

TEST(LinkFailures, Gpib) {
    struct GpibCase {
        const char* name;
        const char* fault;  // a simulator fault line, sent before the exchange
        Act act;
        int status;
        std::vector<std::string> messages;
        milliseconds bound;
    };
    // Every read waits up to the driver's one-second time-out.
    const GpibCase cases[] = {
        {"answer after the time-out", "SIM:FAULT delay 1500", Act::Query, -6, kCommError, 1800ms},
        {"answer trickling past the time-out", "SIM:FAULT trickle 300", Act::Query, -6, kCommError,
         1800ms},
        {"table cut by a time-out", "SIM:FAULT delay 1500", Act::Table, -6, kCommError, 1800ms},
        {"garbage: NUL bytes dropped", "SIM:FAULT garbage 1", Act::Quiet, 0, {}, 1800ms},
    };
    GpibSim sim;
    ASSERT_TRUE(sim.handle) << dlerror();
    for (const GpibCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim.set("reset", 0);
        TempDir dir;
        SettingsStore settings(dir.Str());
        settings.WriteString("GPIB", "Library", TAVRIX_GPIB_SIM_PATH);
        settings.WriteInt("CommunicationSetup", "PortType", 2);
        ScriptedOperator op;
        CInstrumentLink link(op, settings);
        link.SetSerialDeviceOverride("/nonexistent/tty");
        link.StartUp();
        link.SetTableFloor(1000ms);
        ASSERT_EQ(link.Command(c.fault), 0);
        std::string reply;
        const std::string table = "PIDT 1:TABLE?";
        const auto start = steady_clock::now();
        const int status = c.act == Act::Table   ? link.FetchTable(3, "Receiving", &table, &reply)
                           : c.act == Act::Quiet ? link.TransactQuiet("*IDN?", &reply)
                                                 : link.Query("*IDN?", reply);
        EXPECT_LT(steady_clock::now() - start, c.bound);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(op.MessageTexts(), c.messages);
        EXPECT_EQ(reply.find('\0'), std::string::npos);
        // The device clear left nothing behind for a later read.
        if (link.Gpib().IsOpen()) {
            char buf[100];
            EXPECT_NE(sim.ibrd(link.Gpib().Descriptor(), buf, sizeof buf) & GpibDriver::TIMO, 0);
        }
        op.messages.clear();
        ASSERT_EQ(link.Command("SIM:FAULT CLEAR"), 0);
        ASSERT_EQ(link.Command("INP A:NAME Probe"), 0);
        ASSERT_EQ(link.Query("INP A:NAME?", reply), 0);
        EXPECT_EQ(reply, "Probe");
    }

    // Without the library nothing is sent: a failed write, shown by nobody (the caller reports).
    TempDir dir;
    SettingsStore settings(dir.Str());
    settings.WriteString("GPIB", "Library", dir.Str() + "/libgpib-missing.so");
    settings.WriteInt("CommunicationSetup", "PortType", 2);
    ScriptedOperator op;
    CInstrumentLink missing(op, settings);
    missing.SetSerialDeviceOverride("/nonexistent/tty");
    missing.StartUp();
    EXPECT_EQ(missing.Command("CALC 61"), link_status::kGpibFailure);
    std::string reply = "x";
    EXPECT_EQ(missing.Query("*IDN?", reply), link_status::kGpibFailure);
    EXPECT_TRUE(op.messages.empty());
}

TEST(LinkBounds, GrowWithTheLineAndStayWithinTheirLimits) {
    using L = CInstrumentLink;
    EXPECT_EQ(L::Rs232AttemptBound(9600), milliseconds(500 + 4269));
    EXPECT_EQ(L::Rs232AttemptBound(1200), milliseconds(500 + 34150));
    EXPECT_EQ(L::TableDeadline(3, kPortLan, 0), L::kTableFloor);
    EXPECT_EQ(L::TableDeadline(2000, kPortLan, 0), milliseconds(100000));
    EXPECT_EQ(L::TableDeadline(2000, kPortRs232, 1200), L::kTableCeiling);
    EXPECT_EQ(L::TableDeadline(1000, kPortRs232, 9600), milliseconds(1000 * 107));
    EXPECT_EQ(L::TableLineLimit(0), 258);
    EXPECT_EQ(L::TableLineLimit(200), 656);
}
