#include <gtest/gtest.h>

#include <thread>

#include "TestSupport.h"
#include "base/SettingsStore.h"
#include "base/ShortcutBar.h"
#include "link/CInstrumentLink.h"
#include "link/FeatureManager.h"
#include "link/LinkCommands.h"

using namespace tavrix;
using tavrix::test::CollectingLog;
using tavrix::test::PtyInstrument;
using tavrix::test::PtyLinkBench;
using tavrix::test::ScriptedOperator;
using tavrix::test::TempDir;

namespace {

PtyInstrument::Responder Answers(std::string idn, std::string idef) {
    return [idn, idef](const std::string& line) -> std::optional<std::string> {
        if (line == "*IDN?") return idn;
        if (line == "SYST:IDEF?") return idef;
        return std::nullopt;
    };
}

const std::vector<std::string> kCheckList = {
    "Please check the followings for RS232 connection:\n",
    "- RS232 null modem cable connection\n",
    "- Controller Remote I/O Port Select is RS232\n",
    "- Matching Baud Rates\n",
    "- Comm port selection\n",
};

}  // namespace

TEST(ParseIdn, ModelTextIsEverythingBeforeTheCommaAfterModelAndVersionTheLastField) {
    IdnFields f;
    ASSERT_TRUE(ParseIdn("Orvella Model 3028,0012345,2.04", f));
    EXPECT_EQ(f.model, "Orvella Model 3028");
    EXPECT_EQ(f.version, "2.04");
    ASSERT_TRUE(ParseIdn("ACME,Model X,12,3,1.5b", f));
    EXPECT_EQ(f.model, "ACME,Model X");
    EXPECT_EQ(f.version, "1.5b");
    EXPECT_FALSE(ParseIdn("Orvella Model 3028", f));      // no comma after Model
    EXPECT_FALSE(ParseIdn("Orvella,MODEL 3028,1,2", f));  // "Model" is looked for as written
    EXPECT_FALSE(ParseIdn("", f));
}

TEST(Identification, ASuccessfulConnectShowsModelVersionAndTheModelsCapabilities) {
    PtyLinkBench b(Answers("Orvella Model 3028,0012345,2.04", "28,12345,1,0,0,0,0"));
    b.bar.ShowTransport(b.link.GetPortType());
    ConnectAndIdentify(b.ctx);
    const auto s = b.bar.Get();
    EXPECT_EQ(s.statusWord, "Connected");
    EXPECT_EQ(s.ledIndex, 0);
    EXPECT_EQ(s.modelText, "Orvella Model 3028");
    EXPECT_EQ(s.versionText, "2.04");
    EXPECT_EQ(s.transportName, "RS232");
    EXPECT_EQ(b.link.ModelCode(), 28);
    EXPECT_TRUE(b.features.Analog2Present());
    EXPECT_TRUE(b.bar.ButtonEnabled(ShortcutButton::PidDownload));
    EXPECT_EQ(b.instrument.Lines(), (std::vector<std::string>{"*IDN?", "SYST:IDEF?"}));
    EXPECT_TRUE(b.op.messages.empty());
    EXPECT_TRUE(b.log.lines.empty());
}

TEST(Identification, AReplyWithoutCommaAfterModelEndsInNoDevice) {
    PtyLinkBench b(Answers("Orvella Model 3028", "28,1,1,0,0,0,0"));
    ConnectAndIdentify(b.ctx);
    const auto s = b.bar.Get();
    EXPECT_EQ(s.statusWord, "Error");
    EXPECT_EQ(s.ledIndex, 2);
    EXPECT_EQ(s.modelText, "No Device");
    EXPECT_EQ(s.versionText, " ");
    // The model code query still ran, but "No Device" is what the capability record says too:
    // nothing that needs an instrument is offered.
    EXPECT_EQ(b.link.ModelCode(), 28);
    EXPECT_FALSE(b.features.AnyInstrument());
    for (bool on : s.buttons) EXPECT_FALSE(on);
    EXPECT_TRUE(b.op.messages.empty());
}

TEST(Identification, ModelCodeRepliesThatAreNotSevenNumbersInRangeLeaveTheCodeAlone) {
    struct Case {
        const char* reply;
        int expectedCode;
    } cases[] = {
        {"29,1,2,3,4,5", 0},     // six numbers
        {"26,1,2,3,4,5,6", 0},   // below the range
        {"34,1,2,3,4,5,6", 0},   // above the range
        {"x,1,2,3,4,5,6", 0},    // not a number
        {"33,1,2,3,4,5,6", 33},  // stored, but no capability row
        {"27,9,0,0,0,0,-1", 27},
    };
    for (const auto& c : cases) {
        PtyLinkBench b(Answers("Orvella Model 3000,1,1.0", c.reply));
        ConnectAndIdentify(b.ctx);
        EXPECT_EQ(b.link.ModelCode(), c.expectedCode) << c.reply;
    }
}

TEST(Identification, ModelCode33IsStoredButLeavesTheInstrumentUnidentified) {
    PtyLinkBench b(Answers("Orvella Model 3033,1,1.0", "33,1,2,3,4,5,6"));
    ConnectAndIdentify(b.ctx);
    EXPECT_EQ(b.link.ModelCode(), 33);
    EXPECT_EQ(b.bar.Get().statusWord, "Connected");
    EXPECT_FALSE(b.features.Identified());
    EXPECT_FALSE(b.features.AnyInstrument());
    EXPECT_TRUE(b.bar.ButtonEnabled(ShortcutButton::CurveDownload));
    EXPECT_TRUE(b.bar.ButtonEnabled(ShortcutButton::Interact));
    EXPECT_TRUE(b.bar.ButtonEnabled(ShortcutButton::DataLogging));
    EXPECT_FALSE(b.bar.ButtonEnabled(ShortcutButton::PidDownload));
    EXPECT_FALSE(b.bar.ButtonEnabled(ShortcutButton::DatalogUpload));
}

TEST(Identification, ASilentInstrumentOnRs232GivesTwoErrorsAndTheCheckList) {
    PtyLinkBench b([](const std::string&) { return std::nullopt; });
    ConnectAndIdentify(b.ctx);
    EXPECT_EQ(b.op.MessageTexts(),
              (std::vector<std::string>{"Communication Error", "Communication Error"}));
    EXPECT_EQ(b.log.lines, kCheckList);
    EXPECT_EQ(b.bar.Get().modelText, "No Device");
    EXPECT_EQ(b.bar.Get().statusWord, "Error");
}

TEST(Identification, ABusyLockEndsInNoDeviceWithoutTouchingTheInstrument) {
    PtyLinkBench b(Answers("Orvella Model 3028,1,2.0", "28,1,1,0,0,0,0"));
    std::atomic<bool> held{false}, release{false};
    std::thread other([&] {
        SessionLock lock(b.mutex, 0);
        held = true;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
    while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ConnectAndIdentify(b.ctx);
    release = true;
    other.join();
    EXPECT_TRUE(b.instrument.Received().empty());
    EXPECT_EQ(b.bar.Get().statusWord, "Error");
    EXPECT_EQ(b.bar.Get().modelText, "No Device");
}

TEST(Identification, ConnectIsRefusedWhileMonitorsOrLoggingRun) {
    PtyLinkBench b(Answers("Orvella Model 3028,1,2.0", "28,1,1,0,0,0,0"));
    b.ctx.communicationBusy = [] { return true; };
    ConnectAndIdentify(b.ctx);
    ASSERT_EQ(b.op.messages.size(), 1u);
    EXPECT_EQ(b.op.messages[0].text,
              "Please terminates all communicating activites before reconnecting.");
    EXPECT_EQ(b.op.messages[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(b.bar.Get().statusWord, "Not Connected");
    EXPECT_TRUE(b.instrument.Received().empty());
}

TEST(FeatureManager, RowsAndQueries) {
    struct Expect {
        int code, family, inputs, loops;
        bool cd, eh, heaters, an1, an2, identified, cal, pid, upload;
    } rows[] = {
        {27, 2, 4, 3, true, false, true, true, false, true, true, true, true},
        {28, 2, 4, 4, true, false, true, true, true, true, true, true, true},
        {29, 1, 8, 0, true, true, false, false, false, true, false, false, true},
        {30, 1, 4, 0, true, false, false, false, false, true, false, false, true},
        {31, 1, 2, 0, false, false, false, false, false, true, false, false, true},
        {32, 2, 2, 4, false, false, true, true, true, true, true, true, true},
        {0, 0, 4, 2, false, false, false, false, false, false, false, false, false},
        {33, 0, 4, 2, false, false, false, false, false, false, false, false, false},
    };
    for (const auto& r : rows) {
        ShortcutBarModel bar;
        FeatureManager fm(&bar);
        fm.Update(r.code);
        SCOPED_TRACE(r.code);
        EXPECT_EQ(fm.GetFamily(), r.family);
        EXPECT_EQ(fm.InputCount(), r.inputs);
        EXPECT_EQ(fm.LoopCount(), r.loops);
        EXPECT_EQ(fm.AnyInstrument(), r.family != 0);
        EXPECT_EQ(fm.InputsCDPresent(), r.cd);
        EXPECT_EQ(fm.InputsEHPresent(), r.eh);
        EXPECT_EQ(fm.HeatersPresent(), r.heaters);
        EXPECT_EQ(fm.Analog1Present(), r.an1);
        EXPECT_EQ(fm.Analog2Present(), r.an2);
        EXPECT_EQ(fm.Identified(), r.identified);
        EXPECT_EQ(fm.CalibrationOffered(), r.cal);
        EXPECT_TRUE(bar.ButtonEnabled(ShortcutButton::CurveDownload));
        EXPECT_TRUE(bar.ButtonEnabled(ShortcutButton::Interact));
        EXPECT_TRUE(bar.ButtonEnabled(ShortcutButton::DataLogging));
        EXPECT_EQ(bar.ButtonEnabled(ShortcutButton::PidDownload), r.pid);
        EXPECT_EQ(bar.ButtonEnabled(ShortcutButton::DatalogUpload), r.upload);

        fm.Reset();
        EXPECT_FALSE(fm.AnyInstrument());
        EXPECT_EQ(fm.InputCount(), 0);
        const auto s = bar.Get();
        EXPECT_EQ(s.modelText, "No Device");
        EXPECT_EQ(s.versionText, "");
        for (bool on : s.buttons) EXPECT_FALSE(on);
    }
}
