// The link against the simulated controller over TCP and over a pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>

#include "TestSupport.h"
#include "base/SettingsStore.h"
#include "engine/SimEngine.h"
#include "engine/SimFrontEnds.h"
#include "link/CInstrumentLink.h"
#include "link/LinkCommands.h"

using namespace tavrix;
using namespace std::chrono;
using tavrix::test::CollectingLog;
using tavrix::test::ScriptedOperator;
using tavrix::test::StoreCurve;
using tavrix::test::TempDir;

namespace {

struct SimBench : tavrix::test::SimLinkBench {
    explicit SimBench(int portType, int model = 28) : SimLinkBench(model) {
        link.StartUp();
        link.SetPortType(portType);
        link.Lan().SetTimeouts(1000, 1000);
        link.IpAddr() = MyIPAddr(0x7F000001u, static_cast<unsigned long>(tcp.Port()));
        op.ipAnswers.push_back(DialogResult<IpAddressChoice>::Accept(
            {0x7F000001u, static_cast<unsigned long>(tcp.Port())}));
    }
};

class LinkOverTransport : public ::testing::TestWithParam<int> {};

}  // namespace

TEST_P(LinkOverTransport, IdentifiesEveryKnownModel) {
    for (int model : {27, 28, 29, 30, 31, 32}) {
        SimBench b(GetParam(), model);
        ConnectAndIdentify(b.ctx);
        SCOPED_TRACE(model);
        EXPECT_EQ(b.bar.Get().statusWord, "Connected");
        EXPECT_NE(b.bar.Get().modelText.find("Model"), std::string::npos);
        EXPECT_EQ(b.link.ModelCode(), model);
        EXPECT_TRUE(b.features.Identified());
        EXPECT_TRUE(b.op.messages.empty());
    }
}

TEST_P(LinkOverTransport, FetchesATableAndSurvivesOneDroppedMidway) {
    SimBench b(GetParam());
    if (GetParam() == kPortLan) ASSERT_EQ(b.link.LanConnect(), 1);
    StoreCurve(b.link, 30);
    std::string reply;
    const std::string cmd = "CALC? 1";
    const int n = b.link.FetchTable(34, "Receiving", &cmd, &reply);
    EXPECT_EQ(n, 34);
    EXPECT_EQ(reply.substr(reply.size() - 2), ";\n");
    EXPECT_EQ(std::count(reply.begin(), reply.end(), '\n'), n + 1);

    b.engine.Faults().dropTableAfter = 3;
    const auto start = steady_clock::now();
    const int dropped = b.link.FetchTable(50, "Receiving", &cmd, &reply);
    EXPECT_LT(dropped, 0);
    EXPECT_LT(steady_clock::now() - start, seconds(5));
    b.engine.Faults().dropTableAfter = -1;
}

TEST_P(LinkOverTransport, GarbageAndSilenceFailWithinTheTimeouts) {
    SimBench b(GetParam());
    if (GetParam() == kPortLan) ASSERT_EQ(b.link.LanConnect(), 1);
    std::string reply;
    b.engine.Faults().garbage = true;
    auto start = steady_clock::now();
    EXPECT_NE(b.link.TransactQuiet("*IDN?", &reply), 0);
    EXPECT_LT(steady_clock::now() - start, seconds(3));
    b.engine.Faults().garbage = false;
    b.engine.Faults().silent = true;
    start = steady_clock::now();
    EXPECT_NE(b.link.TransactQuiet("*IDN?", &reply), 0);
    EXPECT_LT(steady_clock::now() - start, seconds(3));
    b.engine.Faults().silent = false;
    // The link recovers as soon as the instrument does.
    if (GetParam() == kPortLan && !b.link.Lan().IsConnected()) ASSERT_EQ(b.link.LanConnect(), 1);
    EXPECT_EQ(b.link.Query("*IDN?", reply), 0);
    EXPECT_NE(reply.find("Model"), std::string::npos);
}

TEST_P(LinkOverTransport, TrickledRepliesStillArriveWhole) {
    SimBench b(GetParam());
    if (GetParam() == kPortLan) ASSERT_EQ(b.link.LanConnect(), 1);
    b.engine.Faults().trickleMs = 5;
    std::string reply;
    EXPECT_EQ(b.link.Query("INP A:NAME?;UNITS?;", reply), 0);
    EXPECT_EQ(std::count(reply.begin(), reply.end(), ';'), 1);
}

TEST_P(LinkOverTransport, AReplyTricklingPastItsBoundFailsAndTheNextQueryGetsItsOwn) {
    SimBench b(GetParam());
    if (GetParam() == kPortLan) ASSERT_EQ(b.link.LanConnect(), 1);
    b.engine.Faults().trickleMs = 60;  // the identification takes about 2 s to trickle
    std::string reply;
    const auto start = steady_clock::now();
    EXPECT_NE(b.link.TransactQuiet("*IDN?", &reply), 0);
    // LAN: 1 s from the send here; RS232: one attempt of 0.86 s.
    EXPECT_LT(steady_clock::now() - start, milliseconds(1500));
    b.engine.Faults().trickleMs = 0;
    ASSERT_EQ(b.link.Command("INP A:NAME Probe"), 0);
    EXPECT_EQ(b.link.Query("INP A:NAME?", reply), 0);
    EXPECT_EQ(reply, "Probe");
}

INSTANTIATE_TEST_SUITE_P(Rs232AndLan, LinkOverTransport, ::testing::Values(kPortRs232, kPortLan),
                         [](const auto& info) { return info.param == kPortLan ? "Lan" : "Rs232"; });

TEST(LinkLan, QuietNonQueriesAreSentAndReportMinusThree) {
    SimBench b(kPortLan);
    ASSERT_EQ(b.link.LanConnect(), 1);
    EXPECT_EQ(b.link.TransactQuiet("INP A:NAME Probe", nullptr), link_status::kBadPortType);
    std::string reply;
    EXPECT_EQ(b.link.TransactQuiet("INP A:NAME?", &reply), 0);
    EXPECT_EQ(reply, "Probe");
}

TEST(LinkLan, ATableShorterThanAnnouncedEndsWithoutWaitingForLinesNeverSent) {
    SimBench b(kPortLan);
    ASSERT_EQ(b.link.LanConnect(), 1);
    StoreCurve(b.link, 5);
    std::string reply;
    const std::string cmd = "CALC? 1";
    const auto start = steady_clock::now();
    const int n = b.link.FetchTable(100000, "Receiving", &cmd, &reply);
    EXPECT_EQ(n, 9);
    EXPECT_LT(steady_clock::now() - start, seconds(2));
}

TEST(LinkLan, ConnectFailureIsReportedAndNotConnectedSendsFail) {
    SimBench b(kPortLan);
    b.link.IpAddr() = MyIPAddr(0x7F000001u, 1);  // nothing listens on port 1
    EXPECT_EQ(b.link.LanConnect(), 0);
    EXPECT_EQ(b.op.MessageTexts(), std::vector<std::string>{"Failed to connect to server."});
    std::string reply;
    EXPECT_EQ(b.link.Query("*IDN?", reply), link_status::kLanFailure);
}

TEST(PortSelection, LanToLanKeepsTheConnectionAndOtherChangesDisconnect) {
    SimBench b(kPortLan);
    ConnectAndIdentify(b.ctx);
    ASSERT_TRUE(b.link.Lan().IsConnected());
    ApplyPortChange(b.ctx, kPortLan);
    EXPECT_TRUE(b.link.Lan().IsConnected());
    EXPECT_EQ(b.log.lines, std::vector<std::string>{"Changed to LAN port.\n"});
    ApplyPortChange(b.ctx, kPortRs232);
    EXPECT_FALSE(b.link.Lan().IsConnected());
}

TEST(PortSelection, RefusedWhileBusyAndCancelChangesNothing) {
    SimBench b(kPortRs232);
    b.ctx.communicationBusy = [] { return true; };
    SelectPort(b.ctx);
    EXPECT_EQ(b.op.MessageTexts(),
              std::vector<std::string>{
                  "Please terminates all communicating activites before switching port."});
    EXPECT_TRUE(b.op.portTypePresets.empty());
    b.ctx.communicationBusy = [] { return false; };
    SelectPort(b.ctx);  // the script has no answer: cancel
    EXPECT_EQ(b.op.portTypePresets, std::vector<int>{0});
    EXPECT_TRUE(b.log.lines.empty());
    b.op.portTypeAnswers.push_back(DialogResult<int>::Failed());
    SelectPort(b.ctx);
    EXPECT_EQ(b.op.MessageTexts().back(), "Could not create dialog box");
}

TEST(SerialSetup, PresetsComeFromTheStoreAndOkReopensThePort) {
    SimBench b(kPortRs232);
    b.settings.WriteInt("CommunicationSetup", "BaudRate", 3);
    b.op.serialAnswers.push_back(DialogResult<SerialSetupChoice>::Accept({0, 4}));
    SerialSetup(b.ctx);
    ASSERT_EQ(b.op.serialPresets.size(), 1u);
    EXPECT_EQ(b.op.serialPresets[0].baudIndex, 3);
    EXPECT_EQ(b.op.serialPresets[0].commPortIndex, 1);
    EXPECT_EQ(b.settings.GetInt("CommunicationSetup", "BaudRate", -1), 4);
    EXPECT_EQ(b.settings.GetInt("CommunicationSetup", "CommPort", -1), 0);
    ASSERT_NE(b.link.SerialPort(), nullptr);
    EXPECT_EQ(b.link.SerialPort()->BaudRate(), 9600);
    EXPECT_EQ(b.link.SerialPort()->PortNumber(), 1);
    std::string reply;
    EXPECT_EQ(b.link.Query("*IDN?", reply), 0);
}

TEST(SerialSetup, IndicesNoListEntryStandsForAreNeitherOfferedNorStored) {
    SimBench b(kPortRs232);
    b.settings.WriteInt("CommunicationSetup", "BaudRate", 12);
    b.settings.WriteInt("CommunicationSetup", "CommPort", -1);
    b.op.serialAnswers.push_back(DialogResult<SerialSetupChoice>::Accept({-1, 3}));
    SerialSetup(b.ctx);
    ASSERT_EQ(b.op.serialPresets.size(), 1u);
    EXPECT_EQ(b.op.serialPresets[0].baudIndex, 0);
    EXPECT_EQ(b.op.serialPresets[0].commPortIndex, 1);
    EXPECT_EQ(b.settings.GetInt("CommunicationSetup", "CommPort", 7), -1);  // unchanged
}

TEST(IpAddressEntry, OkStoresEveryOctetAndThePortCancelChangesNothing) {
    SimBench b(kPortLan);
    b.op.ipAnswers.clear();
    b.op.ipAnswers.push_back(DialogResult<IpAddressChoice>::Accept({0x0A000102u, 7000}));
    EXPECT_EQ(IpAddressEntry(b.ctx), 1);
    EXPECT_STREQ(b.link.IpAddr().Get_Addr_Str(), "10.0.1.2");
    EXPECT_EQ(b.settings.GetInt("CommunicationSetup", "IPAddr0", 0), 10);
    EXPECT_EQ(b.settings.GetInt("CommunicationSetup", "IPAddr3", 0), 2);
    EXPECT_EQ(b.settings.GetInt("CommunicationSetup", "IPPort", 0), 7000);
    EXPECT_EQ(IpAddressEntry(b.ctx), 0);
    EXPECT_STREQ(b.link.IpAddr().Get_Addr_Str(), "10.0.1.2");
}
