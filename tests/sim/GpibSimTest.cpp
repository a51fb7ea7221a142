#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "engine/SimEngine.h"

namespace tavrix::sim {
namespace {

constexpr int ERR = 0x8000, TIMO = 0x4000, END = 0x2000, CMPL = 0x0100;

// The library as the program binds it: dlopen and look-ups by name.
class GpibSim : public ::testing::Test {
protected:
    void SetUp() override {
        handle_ = ::dlopen(TAVRIX_GPIB_SIM_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << ::dlerror();
        Bind(ibdev, "ibdev");
        Bind(ibclr, "ibclr");
        Bind(ibonl, "ibonl");
        Bind(ibrd, "ibrd");
        Bind(ibwrt, "ibwrt");
        Bind(set, "tavrix_gpib_sim_set");
        Bind(calls, "tavrix_gpib_sim_calls");
        Bind(engine, "tavrix_gpib_sim_engine");
        sta = static_cast<volatile int*>(::dlsym(handle_, "ibsta"));
        err = static_cast<volatile int*>(::dlsym(handle_, "iberr"));
        cntl = static_cast<volatile long*>(::dlsym(handle_, "ibcntl"));
        ASSERT_TRUE(sta && err && cntl);
        set("reset", 1);
        set("timeout_ms", 200);
    }
    void TearDown() override {
        if (handle_) ::dlclose(handle_);
    }
    template <class F>
    void Bind(F& f, const char* name) {
        f = reinterpret_cast<F>(::dlsym(handle_, name));
        ASSERT_NE(f, nullptr) << name;
    }
    int Write(int ud, const std::string& s) {
        return ibwrt(ud, s.data(), static_cast<long>(s.size()));
    }
    // One ibrd of at most 100 bytes; the text read, or "<ERR>".
    std::string Read(int ud) {
        char buf[101] = {};
        int s = ibrd(ud, buf, 100);
        if (s & ERR) return "<ERR>";
        return std::string(buf, static_cast<size_t>(*cntl));
    }
    int Open() {
        int ud = ibdev(0, 12, 0, 11, 1, 0);
        EXPECT_FALSE(*sta & ERR);
        return ud;
    }

    void* handle_ = nullptr;
    int (*ibdev)(int, int, int, int, int, int) = nullptr;
    int (*ibclr)(int) = nullptr;
    int (*ibonl)(int, int) = nullptr;
    int (*ibrd)(int, void*, long) = nullptr;
    int (*ibwrt)(int, const void*, long) = nullptr;
    void (*set)(const char*, long) = nullptr;
    long (*calls)(const char*) = nullptr;
    void* (*engine)() = nullptr;
    volatile int* sta = nullptr;
    volatile int* err = nullptr;
    volatile long* cntl = nullptr;
};

TEST_F(GpibSim, ReplyComesInPiecesThenTimesOut) {
    int ud = Open();
    ASSERT_GT(ud, 0);
    EXPECT_FALSE(ibclr(ud) & ERR);
    const std::string idn = "Orvella Model 3028,0012328,2.04";
    EXPECT_EQ(Write(ud, "*IDN?;*IDN?;*IDN?;*IDN?"), CMPL);
    EXPECT_EQ(*cntl, 23);
    std::string first = Read(ud);
    EXPECT_EQ(first.size(), 100u);
    EXPECT_EQ(*sta & (END | ERR), 0);  // more of the message to come
    std::string rest = Read(ud);
    EXPECT_TRUE(*sta & END);
    EXPECT_EQ(first + rest, idn + ";" + idn + ";" + idn + ";" + idn);

    auto t0 = std::chrono::steady_clock::now();
    char buf[100];
    EXPECT_EQ(ibrd(ud, buf, 100), ERR | TIMO);
    EXPECT_EQ(*err, 6);
    EXPECT_EQ(*cntl, 0);
    // Nothing left to read ends only when the device's time-out (200 ms here) has passed.
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(190));
}

TEST_F(GpibSim, TableLinesAreSeparateMessagesEndingWithSemicolon) {
    int ud = Open();
    Write(ud, "PIDT 1:TABLE?");
    EXPECT_EQ(Read(ud), "Default PID table 1");
    EXPECT_TRUE(*sta & END);
    for (int i = 0; i < 3; ++i) EXPECT_NE(Read(ud), "<ERR>");
    EXPECT_EQ(Read(ud), ";");
    EXPECT_EQ(Read(ud), "<ERR>");
    EXPECT_TRUE(*sta & TIMO);

    // A cut table fails the read without a time-out.
    Write(ud, "SIM:FAULT droptable 2");
    Write(ud, "PIDT 1:TABLE?");
    Read(ud);
    Read(ud);
    EXPECT_EQ(Read(ud), "<ERR>");
    EXPECT_EQ(*sta & (ERR | TIMO), ERR);
    EXPECT_EQ(*err, 14);
}

TEST_F(GpibSim, AddressDescriptorZeroOfflineAndCounters) {
    set("address", 5);
    int ud = Open();  // ibdev does not check for a listener, like the real driver
    EXPECT_EQ(ibclr(ud) & ERR, ERR);
    EXPECT_EQ(*err, 2);
    EXPECT_EQ(Write(ud, "*IDN?") & ERR, ERR);
    EXPECT_EQ(ibonl(ud, 0), CMPL);

    set("address", 12);
    set("zero_descriptor", 1);
    int zero = Open();
    EXPECT_EQ(zero, 0);
    EXPECT_FALSE(ibclr(zero) & ERR);
    Write(zero, "*OPC?");
    EXPECT_EQ(Read(zero), "1");

    // Taking the device offline forgets both the descriptor and an unread reply.
    Write(zero, "*OPC?");
    EXPECT_EQ(ibonl(zero, 0), CMPL);
    EXPECT_TRUE(ibclr(zero) & ERR);
    EXPECT_EQ(calls("ibdev"), 2);
    EXPECT_EQ(calls("ibclr"), 3);
    EXPECT_EQ(calls("ibwrt"), 3);
    EXPECT_EQ(calls("ibrd"), 1);
    EXPECT_EQ(calls("ibonl"), 2);
    set("reset", 1);
    EXPECT_EQ(calls("ibdev"), 0);
}

TEST_F(GpibSim, DelayedReplyWaitsUpToTheTimeout) {
    auto* e = static_cast<SimEngine*>(engine());
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->ModelCode(), 28);
    int ud = Open();
    e->Faults().delayMs = 100;
    Write(ud, "*OPC?");
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Read(ud), "1");
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(90));

    e->Faults().delayMs = 1000;
    Write(ud, "*OPC?");
    t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Read(ud), "<ERR>");
    EXPECT_TRUE(*sta & TIMO);
    auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, std::chrono::milliseconds(190));
    EXPECT_LT(waited, std::chrono::milliseconds(800));

    e->Faults().delayMs = 0;
    e->Faults().silent = true;
    Write(ud, "*OPC?");
    EXPECT_EQ(Read(ud), "<ERR>");
    e->Faults().silent = false;
    e->Faults().garbage = true;
    Write(ud, "*OPC?");
    EXPECT_EQ(Read(ud).size(), 32u);
    EXPECT_EQ(e->ReceivedLines().back(), "*OPC?");
}

}  // namespace
}  // namespace tavrix::sim
