// Serial devices by name: what the machine offers, how a stored device is matched, and the
// RS232 set-up storing the device behind a COM entry.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>

#include "TestSupport.h"
#include "link/LinkCommands.h"
#include "link/SerialDevices.h"

using namespace tavrix;
using namespace tavrix::test;
namespace fs = std::filesystem;

namespace {

bool IsCharDevice(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

SerialDeviceInfo Adapter(std::string node, std::string byId) {
    SerialDeviceInfo d;
    d.node = std::move(node);
    d.byId = std::move(byId);
    d.vendor = "FTDI";
    d.product = "FT232R USB UART";
    d.vendorId = "0403";
    d.productId = "6001";
    d.serial = "A1B2C3";
    return d;
}

}  // namespace

// Whatever this machine has (in a container often nothing, or only ttyS ports without a udev
// database), every entry is a device that can be opened by its stable name.
TEST(SerialDevices, EveryListedDeviceExistsAndItsStableNameLeadsToIt) {
    const auto devices = ListSerialDevices();
    for (const SerialDeviceInfo& d : devices) {
        SCOPED_TRACE(d.node);
        EXPECT_TRUE(IsCharDevice(d.node));
        EXPECT_TRUE(SameDevice(d.StablePath(), d.node));
        const std::string name = fs::path(d.node).filename().string();
        EXPECT_TRUE(name.rfind("ttyS", 0) == 0 || name.rfind("ttyUSB", 0) == 0 ||
                    name.rfind("ttyACM", 0) == 0);
    }
}

TEST(SerialDevices, ByIdLinkIsFoundForItsNodeOnly) {
    sim::SimEngine engine(sim::SimOptions{28, 1});
    sim::PtyFrontEnd pty(engine);
    ASSERT_TRUE(pty.Ok());
    TempDir byId;
    const fs::path if01 = byId.Path() / "usb-FTDI_FT232R_USB_UART_A1B2C3-if01-port0";
    const fs::path if00 = byId.Path() / "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
    fs::create_symlink(pty.SlavePath(), if01);
    fs::create_symlink(pty.SlavePath(), if00);
    fs::create_symlink("/dev/null", byId.Path() / "usb-Other_Adapter-if00-port0");
    fs::create_symlink("/dev/does-not-exist", byId.Path() / "usb-Gone-if00-port0");

    // Two interfaces of one adapter: the same name every time.
    EXPECT_EQ(FindByIdLink(pty.SlavePath(), byId.Str()), if00.string());
    EXPECT_TRUE(SameDevice(if00.string(), pty.SlavePath()));
    EXPECT_FALSE(SameDevice(if00.string(), "/dev/null"));
    EXPECT_EQ(FindByIdLink("/dev/zero", byId.Str()), "");
    EXPECT_EQ(FindByIdLink(pty.SlavePath(), byId.Str() + "/missing"), "");
    EXPECT_EQ(FindByIdLink("/dev/does-not-exist", byId.Str()), "");
}

TEST(SerialDevices, DescriptionNamesWhatIsKnown) {
    EXPECT_EQ(Adapter("/dev/ttyUSB0", "").Description(),
              "FTDI FT232R USB UART (0403:6001) serial A1B2C3");
    SerialDeviceInfo plain;
    plain.node = "/dev/ttyS0";
    EXPECT_EQ(plain.Description(), "");
    plain.serial = "X9";
    EXPECT_EQ(plain.Description(), "serial X9");
}

TEST(SerialDeviceChoices, TheStoredDeviceIsSelectedOrAddedSoThatOkKeepsIt) {
    sim::SimEngine engine(sim::SimOptions{28, 1});
    sim::PtyFrontEnd pty(engine);
    ASSERT_TRUE(pty.Ok());
    const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
    SerialDeviceInfo ttyS;
    ttyS.node = "/dev/ttyS0";
    // The adapter's node is the pty here, so that the node matches by its real path.
    const std::vector<SerialDeviceInfo> present = {ttyS, Adapter(pty.SlavePath(), byId)};

    struct Case {
        std::string stored;
        int selected;
        size_t entries;
        std::string selectedPath, selectedLabel;
    };
    const std::array<Case, 5> cases{{
        {byId, 1, 2, byId,
         byId + " (" + pty.SlavePath() + ") FTDI FT232R USB UART (0403:6001) serial A1B2C3"},
        // An old setting naming the node is offered as the stable name of the same adapter.
        {pty.SlavePath(), 1, 2, byId, ""},
        {"/dev/ttyS0", 0, 2, "/dev/ttyS0", "/dev/ttyS0"},
        {"/dev/null", 2, 3, "/dev/null", "/dev/null"},
        {"/dev/ttyUSB7", 2, 3, "/dev/ttyUSB7", "/dev/ttyUSB7 (not present)"},
    }};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        const SerialDeviceChoices choices = SerialDeviceChoices::For(present, c.stored);
        ASSERT_EQ(choices.entries.size(), c.entries);
        ASSERT_EQ(choices.selected, c.selected);
        EXPECT_EQ(choices.entries[c.selected].path, c.selectedPath);
        if (!c.selectedLabel.empty()) {
            EXPECT_EQ(choices.entries[c.selected].label, c.selectedLabel);
        }
    }

    // No devices at all (a machine without udev): the stored one is still there to keep.
    const SerialDeviceChoices none = SerialDeviceChoices::For({}, pty.SlavePath());
    ASSERT_EQ(none.entries.size(), 1u);
    EXPECT_EQ(none.selected, 0);
    EXPECT_EQ(none.entries[0].path, pty.SlavePath());
    EXPECT_EQ(SerialDeviceChoices::For({}, "").selected, -1);
}

// The operator picks the simulator's pty for COM3: it is stored under the COM entry's key and
// the link opens it from there, without any override.
TEST(SerialSetup, StoresThePickedDeviceForTheComEntryAndOpensIt) {
    SimLinkBench b;
    ASSERT_TRUE(b.pty.Ok());
    b.link.SetSerialDeviceOverride("");
    b.link.StartUp();
    b.op.serialAnswers.push_back(
        DialogResult<SerialSetupChoice>::Accept({2, 0, b.pty.SlavePath()}));
    SerialSetup(b.ctx);
    EXPECT_EQ(b.settings.GetString("SerialDevices", "COM3", ""), b.pty.SlavePath());
    EXPECT_EQ(b.settings.GetString("SerialDevices", "COM2", ""), "");
    std::string reply;
    EXPECT_EQ(b.link.Query("*IDN?", reply), 0);
    EXPECT_NE(reply.find("Model"), std::string::npos);

    // No device chosen (the simulator's own dialog), a relative path or one with a line break:
    // the stored device stays.
    for (const std::string& bad : {std::string(), std::string("ttyUSB0"),
                                   std::string("/dev/ttyUSB0\n[CommunicationSetup]")}) {
        b.op.serialAnswers.push_back(DialogResult<SerialSetupChoice>::Accept({2, 0, bad}));
        SerialSetup(b.ctx);
        EXPECT_EQ(b.settings.GetString("SerialDevices", "COM3", ""), b.pty.SlavePath());
    }
    EXPECT_TRUE(b.op.messages.empty());
}

TEST(SerialDevices, CliPortsListsDevicesAndSucceedsWithoutAny) {
    TempDir config;
    const std::string cmd = "TAVRIX_CONFIG_DIR='" + config.Str() + "' '" TAVRIX_CLI_PATH "' ports";
    FILE* p = ::popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char line[512];
    int lines = 0;
    while (std::fgets(line, sizeof line, p)) {
        ++lines;
        std::string path(line);
        path = path.substr(0, path.find_first_of(" \n"));
        EXPECT_TRUE(IsCharDevice(path)) << line;
    }
    EXPECT_EQ(::pclose(p), 0);
    EXPECT_EQ(static_cast<size_t>(lines), ListSerialDevices().size());
}
