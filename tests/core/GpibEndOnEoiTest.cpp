// GPIB replies ended by END (EOI with the last byte) when asked, by a timed-out read otherwise,
// over the simulated driver library.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <chrono>

#include "TestSupport.h"
#include "base/SettingsStore.h"
#include "link/CInstrumentLink.h"

using namespace tavrix;
using tavrix::test::ScriptedOperator;
using tavrix::test::TempDir;

namespace {

struct EoiBench {
    explicit EoiBench(const char* endOnEoiSetting) {
        SettingsStore s(dir.Str());
        s.WriteString("GPIB", "Library", TAVRIX_GPIB_SIM_PATH);
        s.WriteInt("CommunicationSetup", "PortType", 2);
        if (endOnEoiSetting) s.WriteString("GPIB", "EndOnEOI", endOnEoiSetting);
        handle = dlopen(TAVRIX_GPIB_SIM_PATH, RTLD_NOW | RTLD_LOCAL);
        set = reinterpret_cast<void (*)(const char*, long)>(dlsym(handle, "tavrix_gpib_sim_set"));
        calls = reinterpret_cast<long (*)(const char*)>(dlsym(handle, "tavrix_gpib_sim_calls"));
        set("reset", 0);
        set("timeout_ms", 100);  // the device's time-out, short for the test
        link = std::make_unique<CInstrumentLink>(op, settings);
        link->SetSerialDeviceOverride("/nonexistent/tty");
        link->StartUp();
    }
    ~EoiBench() {
        link.reset();
        dlclose(handle);
    }
    TempDir dir;
    SettingsStore settings{dir.Str()};
    ScriptedOperator op;
    void* handle = nullptr;
    void (*set)(const char*, long) = nullptr;
    long (*calls)(const char*) = nullptr;
    std::unique_ptr<CInstrumentLink> link;
};

}  // namespace

TEST(GpibEndOnEoi, TheSettingIsReadAtStartUpAndOffUnlessOne) {
    for (const auto& [text, on] : std::array<std::pair<const char*, bool>, 4>{
             {{nullptr, false}, {"1", true}, {"0", false}, {"2", false}}}) {
        EoiBench b(text);
        EXPECT_EQ(b.link->GpibEndOnEoi(), on) << (text ? text : "(absent)");
    }
}

// The same replies either way; only the read that has to time out goes away, and only when
// the device asserts EOI.
TEST(GpibEndOnEoi, EndsAtTheEndPieceOnlyWhenOnAndTheDeviceAssertsEoi) {
    const std::string name(15, 'N');
    const std::string longQuery = "INP A:NAME?;NAME?;NAME?;NAME?;NAME?;NAME?;NAME?";
    struct Case {
        const char* setting;
        bool deviceEoi;
        long extraReads;  // reads beyond the pieces of the reply
    };
    for (const Case& c : {Case{nullptr, true, 1}, Case{"1", true, 0}, Case{"1", false, 1}}) {
        SCOPED_TRACE(std::string(c.setting ? "EndOnEOI=1" : "default") +
                     (c.deviceEoi ? ", device with EOI" : ", device without EOI"));
        EoiBench b(c.setting);
        ASSERT_TRUE(b.handle) << dlerror();
        b.set("eoi", c.deviceEoi ? 1 : 0);
        std::string reply;
        ASSERT_EQ(b.link->Command("INP A:NAME " + name), 0);

        long before = b.calls("ibrd");
        ASSERT_EQ(b.link->Query("*IDN?", reply), 0);
        EXPECT_NE(reply.find("Model"), std::string::npos);
        EXPECT_EQ(b.calls("ibrd") - before, 1 + c.extraReads);

        // Longer than one 100-byte piece: END comes with the second piece only.
        before = b.calls("ibrd");
        ASSERT_EQ(b.link->Query(longQuery, reply), 0);
        std::string expected = name;
        for (int i = 0; i < 6; ++i) expected += ";" + name;
        EXPECT_EQ(reply, expected);
        EXPECT_EQ(b.calls("ibrd") - before, 2 + c.extraReads);
        EXPECT_TRUE(b.op.messages.empty());
    }
}

// Nothing to read: the simulated driver answers TIMO only once the device's time-out (T1s
// here) has passed, as a real one does; before, it answered at once and hid that second.
TEST(GpibEndOnEoi, AQueryEndedByTimeOutCostsTheDevicesTimeOut) {
    EoiBench b(nullptr);
    ASSERT_TRUE(b.handle);
    b.set("timeout_ms", -1);
    std::string reply;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(b.link->Query("*IDN?", reply), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(950));
    EXPECT_NE(reply.find("Model"), std::string::npos);
}
