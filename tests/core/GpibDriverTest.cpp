#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "link/GpibDriver.h"

namespace tavrix {
namespace {

// Sets or clears an environment variable for one test and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_.c_str(), old_->c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }

private:
    std::string name_;
    std::optional<std::string> old_;
};

TEST(GpibDriver, LibraryComesFromTheEnvironmentThenTheSettingsThenTheDefault) {
    {
        ScopedEnv env("TAVRIX_GPIB_LIBRARY", "/opt/env/libgpib.so");
        EXPECT_EQ(GpibDriver::ChooseLibrary("/from/settings.so"), "/opt/env/libgpib.so");
    }
    ScopedEnv env("TAVRIX_GPIB_LIBRARY", nullptr);
    EXPECT_EQ(GpibDriver::ChooseLibrary("/from/settings.so"), "/from/settings.so");
    EXPECT_EQ(GpibDriver::ChooseLibrary(""), "libgpib.so.0");
}

TEST(GpibDriver, MissingLibrarySkipsEveryCall) {
    GpibDriver driver("/nonexistent/libgpib-tavrix.so");
    char buf[8] = {};
    EXPECT_EQ(driver.ibdev(0, 12, 0, 11, 1, 0), -1);
    EXPECT_EQ(driver.ibclr(1), 0);
    EXPECT_EQ(driver.ibonl(1, 0), 0);
    EXPECT_EQ(driver.ibwrt(1, "x", 1), 0);
    EXPECT_EQ(driver.ibrd(1, buf, sizeof buf), 0);
    EXPECT_FALSE(driver.Loaded());
    EXPECT_EQ(driver.Ibsta(), 0);
    EXPECT_EQ(driver.Ibcntl(), 0);
}

TEST(GpibDriver, LibraryWithoutStatusVariablesIsNotKept) {
    // The C maths library loads fine but is no GPIB driver.
    GpibDriver driver("libm.so.6");
    EXPECT_EQ(driver.ibdev(0, 12, 0, 11, 1, 0), -1);
    EXPECT_EQ(driver.ibclr(1), 0);
    EXPECT_FALSE(driver.Loaded());
}

TEST(GpibDriver, EmptyPathDoesNotBindTheProgramItself) {
    GpibDriver driver("");
    EXPECT_EQ(driver.ibdev(0, 12, 0, 11, 1, 0), -1);
    EXPECT_FALSE(driver.Loaded());
}

TEST(GpibDevice, WithoutADriverNothingIsSentAndEveryExchangeFails) {
    GpibDriver driver("/nonexistent/libgpib-tavrix.so");
    GpibDevice device(driver);
    EXPECT_EQ(device.Address(), 12);
    EXPECT_EQ(device.Write("*IDN?"), -6);
    std::string piece = "left over";
    EXPECT_EQ(device.Read(piece), -6);
    EXPECT_EQ(piece, "");
    EXPECT_FALSE(device.IsOpen());
    device.Offline();
    EXPECT_EQ(device.Descriptor(), -1);
}

}  // namespace
}  // namespace tavrix
