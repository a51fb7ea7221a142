#include <dlfcn.h>
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "base/SettingsStore.h"
#include "link/CInstrumentLink.h"
#include "link/LinkCommands.h"

using namespace tavrix;
using tavrix::test::CollectingLog;
using tavrix::test::ScriptedOperator;
using tavrix::test::StoreCurve;
using tavrix::test::TempDir;

namespace {

// The simulated GPIB library, loaded into this process as the link will load it.
struct GpibSim {
    GpibSim() {
        handle = dlopen(TAVRIX_GPIB_SIM_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!handle) return;
        set = reinterpret_cast<void (*)(const char*, long)>(dlsym(handle, "tavrix_gpib_sim_set"));
        calls = reinterpret_cast<long (*)(const char*)>(dlsym(handle, "tavrix_gpib_sim_calls"));
        set("reset", 0);
    }
    ~GpibSim() {
        if (handle) dlclose(handle);
    }
    void* handle = nullptr;
    void (*set)(const char*, long) = nullptr;
    long (*calls)(const char*) = nullptr;
};

// A store that selects GPIB through the simulated library.
std::string GpibSettings(const TempDir& dir) {
    SettingsStore s(dir.Str());
    s.WriteString("GPIB", "Library", TAVRIX_GPIB_SIM_PATH);
    s.WriteInt("CommunicationSetup", "PortType", 2);
    return dir.Str();
}

struct GpibBench {
    TempDir dir;
    GpibSim sim;
    SettingsStore settings{GpibSettings(dir)};
    ScriptedOperator op;
    CollectingLog log;
    std::unique_ptr<CInstrumentLink> link = [this] {
        auto l = std::make_unique<CInstrumentLink>(op, settings);
        l->SetSerialDeviceOverride("/nonexistent/tty");
        l->StartUp();
        return l;
    }();
};

}  // namespace

TEST(LinkGpib, QueryRepliesArriveInPiecesUntilAReadTimesOut) {
    GpibBench b;
    ASSERT_TRUE(b.sim.handle) << dlerror();
    std::string reply;
    ASSERT_EQ(b.link->Query("*IDN?", reply), 0);
    EXPECT_NE(reply.find("Model"), std::string::npos);
    EXPECT_EQ(reply.find('\n'), std::string::npos);
    EXPECT_TRUE(b.link->Gpib().IsOpen());
    // One ibdev and one ibclr opened the device; the next exchange reuses it.
    EXPECT_EQ(b.sim.calls("ibdev"), 1);
    ASSERT_EQ(b.link->Query("SYST:IDEF?", reply), 0);
    EXPECT_EQ(b.sim.calls("ibdev"), 1);
    // A reply longer than one 100-byte piece is joined whole.
    const std::string name(15, 'N');
    ASSERT_EQ(b.link->Command("INP A:NAME " + name), 0);
    ASSERT_EQ(b.link->Query("INP A:NAME?;NAME?;NAME?;NAME?;NAME?;NAME?;NAME?", reply), 0);
    std::string expected = name;
    for (int i = 0; i < 6; ++i) expected += ";" + name;
    ASSERT_GT(expected.size(), 100u);
    EXPECT_EQ(reply, expected);
    EXPECT_TRUE(b.op.messages.empty());
}

TEST(LinkGpib, ADescriptorOfZeroIsNotTakenAsOpen) {
    GpibBench b;
    ASSERT_TRUE(b.sim.handle);
    b.sim.set("zero_descriptor", 1);
    std::string reply;
    b.link->Query("*IDN?", reply);
    b.link->Query("*IDN?", reply);
    EXPECT_FALSE(b.link->Gpib().IsOpen());
    // Every write and every read opened the device anew.
    EXPECT_GE(b.sim.calls("ibdev"), 4);
}

TEST(LinkGpib, AnAbsentDeviceFailsAndIsTakenOffline) {
    GpibBench b;
    ASSERT_TRUE(b.sim.handle);
    b.sim.set("address", 5);  // nobody listens at 12
    std::string reply;
    EXPECT_EQ(b.link->Query("*IDN?", reply), link_status::kGpibFailure);
    EXPECT_FALSE(b.link->Gpib().IsOpen());
    EXPECT_TRUE(b.op.messages.empty());  // a failed write shows nothing
}

TEST(LinkGpib, TablesEndAtTheSemicolonPieceWhichIsNotKept) {
    GpibBench b;
    ASSERT_TRUE(b.sim.handle);
    StoreCurve(*b.link, 20);
    std::string reply;
    const std::string cmd = "CALC? 1";
    const int n = b.link->FetchTable(24, "Receiving", &cmd, &reply);
    EXPECT_EQ(n, 24);
    EXPECT_EQ(std::count(reply.begin(), reply.end(), '\n'), n);
    EXPECT_EQ(reply.find(';'), std::string::npos);
}

TEST(LinkGpib, ADroppedTableFailsWithCommunicationError) {
    GpibBench b;
    ASSERT_TRUE(b.sim.handle);
    auto* engine = reinterpret_cast<void* (*)()>(dlsym(b.sim.handle, "tavrix_gpib_sim_engine"));
    ASSERT_TRUE(engine);
    std::string reply;
    StoreCurve(*b.link, 20);
    ASSERT_EQ(b.link->Command("SIM:FAULT droptable 2"), 0);
    const std::string cmd = "CALC? 1";
    EXPECT_EQ(b.link->FetchTable(50, "Receiving", &cmd, &reply), link_status::kGpibFailure);
    EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{"Communication Error"});
    EXPECT_FALSE(b.link->Gpib().IsOpen());
}

TEST(LinkGpib, AMissingLibraryFailsEveryExchangeAndGivesNoDevice) {
    TempDir dir;
    SettingsStore settings(dir.Str());
    settings.WriteString("GPIB", "Library", dir.Str() + "/libgpib-missing.so");
    settings.WriteInt("CommunicationSetup", "PortType", 2);
    ScriptedOperator op;
    CollectingLog log;
    CInstrumentLink link(op, settings);
    link.StartUp();
    std::string reply = "x";
    EXPECT_EQ(link.Query("*IDN?", reply), link_status::kGpibFailure);
    EXPECT_FALSE(link.GpibLibrary().Loaded());
    EXPECT_TRUE(op.messages.empty());  // a write that fails shows nothing itself

    SessionMutex mutex;
    ShortcutBarModel bar;
    FeatureManager features(&bar);
    LinkContext ctx{link, mutex, features, bar, op, log};
    op.gpibAnswers.push_back(DialogResult<int>::Accept(9));
    ConnectAndIdentify(ctx);
    EXPECT_EQ(op.gpibPresets, std::vector<int>{12});
    EXPECT_EQ(link.GpibAddress(), 9);
    EXPECT_EQ(settings.GetInt("CommunicationSetup", "GPIBAddr", 0), 9);
    EXPECT_EQ(bar.Get().modelText, "No Device");
    EXPECT_EQ(bar.Get().statusWord, "Error");
    EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{"Communication Error"});
    EXPECT_TRUE(log.lines.empty());  // no RS232 check-list on GPIB
}

TEST(PortSelection, ReselectingGpibWithAnOpenDeviceTakesItOfflineAndWaitsTwoSeconds) {
    GpibBench b;
    ASSERT_TRUE(b.sim.handle);
    std::string reply;
    ASSERT_EQ(b.link->Query("*IDN?", reply), 0);
    ASSERT_TRUE(b.link->Gpib().IsOpen());
    SessionMutex mutex;
    ShortcutBarModel bar;
    FeatureManager features(&bar);
    features.Update(28);
    LinkContext ctx{*b.link, mutex, features, bar, b.op, b.log};
    std::vector<std::chrono::milliseconds> slept;
    ctx.sleep = [&](std::chrono::milliseconds d) { slept.push_back(d); };
    b.op.portTypeAnswers.push_back(DialogResult<int>::Accept(2));
    SelectPort(ctx);
    EXPECT_EQ(b.op.portTypePresets, std::vector<int>{2});
    EXPECT_FALSE(b.link->Gpib().IsOpen());
    EXPECT_EQ(b.sim.calls("ibonl"), 1);
    EXPECT_EQ(slept, std::vector<std::chrono::milliseconds>{std::chrono::seconds(2)});
    EXPECT_EQ(b.log.lines, std::vector<std::string>{"Changed to GPIB port.\n"});
    EXPECT_EQ(bar.Get().statusWord, "Not Connected");
    EXPECT_EQ(bar.Get().transportName, "GPIB");
    EXPECT_FALSE(features.AnyInstrument());

    // Moving on to RS232 takes nothing offline twice and does not wait.
    b.op.portTypeAnswers.push_back(DialogResult<int>::Accept(0));
    SelectPort(ctx);
    EXPECT_EQ(slept.size(), 1u);
    EXPECT_EQ(b.link->GetPortType(), 0);
    EXPECT_EQ(b.settings.GetInt("CommunicationSetup", "PortType", -1), 0);
    EXPECT_EQ(b.log.lines.back(), "Changed to RS232 port.\n");
}
