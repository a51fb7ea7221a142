#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "link/GpibDriver.h"

namespace tavrix {
namespace {

// The GPIB device steps against the simulated driver library. The test opens the same library
// as the driver does, so both see one simulated bus and the test can turn its knobs.
class GpibSimDevice : public ::testing::Test {
protected:
    void SetUp() override {
        lib_ = ::dlopen(TAVRIX_GPIB_SIM_PATH, RTLD_NOW | RTLD_LOCAL);
        if (lib_ == nullptr) GTEST_SKIP() << "no simulated GPIB library: " << ::dlerror();
        set_ = reinterpret_cast<SetFn>(::dlsym(lib_, "tavrix_gpib_sim_set"));
        calls_ = reinterpret_cast<CallsFn>(::dlsym(lib_, "tavrix_gpib_sim_calls"));
        ASSERT_NE(set_, nullptr);
        ASSERT_NE(calls_, nullptr);
        set_("reset", 0);
    }
    void TearDown() override {
        if (lib_ != nullptr) ::dlclose(lib_);
    }

    long Calls(const char* function) const { return calls_(function); }
    std::string Query(const std::string& command) {
        std::string reply, piece;
        EXPECT_EQ(device_.Write(command), 0);
        do {
            EXPECT_EQ(device_.Read(piece), 0);
            reply += piece;
        } while (!piece.empty());
        return reply;
    }

    using SetFn = void (*)(const char*, long);
    using CallsFn = long (*)(const char*);
    void* lib_ = nullptr;
    SetFn set_ = nullptr;
    CallsFn calls_ = nullptr;
    GpibDriver driver_{TAVRIX_GPIB_SIM_PATH};
    GpibDevice device_{driver_};
};

TEST_F(GpibSimDevice, QueryOpensOnceAndEndsWithAnEmptyPieceAfterTheTimeOut) {
    const std::string id = Query("*IDN?");
    EXPECT_EQ(id.rfind("Orvella ", 0), 0u) << id;
    EXPECT_TRUE(driver_.Loaded());
    EXPECT_TRUE(device_.IsOpen());
    EXPECT_EQ(Calls("ibdev"), 1);
    // One clear when the device opened, one after the read that timed out.
    EXPECT_EQ(Calls("ibclr"), 2);

    EXPECT_EQ(Query("*IDN?"), id);
    EXPECT_EQ(Calls("ibdev"), 1);  // still open
    EXPECT_EQ(driver_.Ibcnt(), driver_.Ibcntl());
}

TEST_F(GpibSimDevice, LongReplyComesInPiecesOf100Bytes) {
    const std::string id = Query("*IDN?");
    const std::string expected = id + ";" + id + ";" + id + ";" + id + ";" + id;
    ASSERT_GT(expected.size(), 100u);
    ASSERT_EQ(device_.Write("*IDN?;*IDN?;*IDN?;*IDN?;*IDN?"), 0);
    EXPECT_EQ(driver_.Ibcntl(), 29);
    std::string first, rest, end;
    ASSERT_EQ(device_.Read(first), 0);
    ASSERT_EQ(device_.Read(rest), 0);
    ASSERT_EQ(device_.Read(end), 0);
    EXPECT_EQ(first.size(), 100u);
    EXPECT_EQ(first + rest, expected);
    EXPECT_EQ(end, "");
}

TEST_F(GpibSimDevice, ZeroDescriptorIsNotKeptOpen) {
    set_("zero_descriptor", 1);
    std::string piece;
    EXPECT_EQ(device_.Write("*IDN?"), 0);
    EXPECT_EQ(device_.Read(piece), 0);
    EXPECT_FALSE(device_.IsOpen());
    EXPECT_EQ(device_.Descriptor(), 0);
    EXPECT_EQ(Calls("ibdev"), 2);  // every exchange opens anew
}

TEST_F(GpibSimDevice, ErrorsTakeTheDeviceOfflineAndTheNextExchangeReopens) {
    ASSERT_EQ(device_.Write("*IDN?"), 0);

    // Nobody listens at the device's address any more: the read fails without a time-out.
    set_("address", 5);
    std::string piece = "stale";
    EXPECT_EQ(device_.Read(piece), -6);
    EXPECT_EQ(piece, "");
    EXPECT_EQ(device_.Descriptor(), -1);
    EXPECT_EQ(Calls("ibonl"), 1);

    // Opening anew fails at the clear, and takes the new descriptor offline too.
    EXPECT_EQ(device_.Write("*IDN?"), -6);
    EXPECT_EQ(Calls("ibdev"), 2);
    EXPECT_EQ(Calls("ibonl"), 2);
    EXPECT_EQ(Calls("ibwrt"), 1);

    set_("address", 12);
    EXPECT_EQ(Query("*IDN?").rfind("Orvella ", 0), 0u);
    EXPECT_EQ(Calls("ibdev"), 3);
}

}  // namespace
}  // namespace tavrix
