#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "TestSupport.h"
#include "base/SettingsStore.h"
#include "link/CInstrumentLink.h"

using namespace tavrix;
using tavrix::test::ScriptedOperator;
using tavrix::test::TempDir;

namespace {
std::string ReadAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
}  // namespace

TEST(SettingsStore, MissingFileAndValuesGiveTheDefaults) {
    TempDir dir;
    SettingsStore s(dir.Str() + "/none");
    EXPECT_EQ(s.GetInt("CommunicationSetup", "PortType", 7), 7);
    EXPECT_EQ(s.GetString("LOG", "INTERVAL", "30.0"), "30.0");
    EXPECT_EQ(s.FilePath(), dir.Str() + "/none/Tavrix.INI");
}

TEST(SettingsStore, NamesAreFoundWithoutRegardToCase) {
    TempDir dir;
    SettingsStore s(dir.Str());
    ASSERT_TRUE(s.WriteInt("CommunicationSetup", "BaudRate", 4));
    EXPECT_EQ(s.GetInt("CommunicationSetup", "Baudrate", 0), 4);
    EXPECT_EQ(s.GetInt("communicationsetup", "BAUDRATE", 0), 4);
    // Writing under another spelling replaces the value rather than adding a second one.
    ASSERT_TRUE(s.WriteInt("COMMUNICATIONSETUP", "baudrate", 6));
    EXPECT_EQ(s.GetInt("CommunicationSetup", "BaudRate", 0), 6);
    const std::string text = ReadAll(dir.Path() / "Tavrix.INI");
    EXPECT_EQ(text.find("aud"), text.rfind("aud"));
}

TEST(SettingsStore, WritesKeepOtherValuesAndLeaveNoTemporaryFiles) {
    TempDir dir;
    SettingsStore s(dir.Str() + "/Orvella, Inc");
    ASSERT_TRUE(s.WriteString("LOG", "INTERVAL", "2.500000"));
    ASSERT_TRUE(s.WriteInt("MAINVIEWPOS", "WinLeft", -20));
    EXPECT_EQ(s.GetString("LOG", "INTERVAL", ""), "2.500000");
    EXPECT_EQ(s.GetInt("MAINVIEWPOS", "WinLeft", 0), -20);
    int files = 0;
    for ([[maybe_unused]] auto& e :
         std::filesystem::directory_iterator(dir.Path() / "Orvella, Inc"))
        ++files;
    EXPECT_EQ(files, 1);
}

TEST(SettingsStore, AStoreThatCannotBeWrittenReportsFailure) {
    if (geteuid() == 0) {
        // root writes into read-only folders; use a path under a regular file instead.
        TempDir dir;
        std::ofstream(dir.Path() / "file") << "x";
        SettingsStore s((dir.Path() / "file" / "sub").string());
        EXPECT_FALSE(s.WriteInt("CommunicationSetup", "PortType", 2));
        EXPECT_EQ(s.GetInt("CommunicationSetup", "PortType", 0), 0);
        return;
    }
    TempDir dir;
    ::chmod(dir.Str().c_str(), 0500);
    SettingsStore s(dir.Str());
    EXPECT_FALSE(s.WriteInt("CommunicationSetup", "PortType", 2));
    ::chmod(dir.Str().c_str(), 0700);
}

TEST(SettingsStore, HandEditedNumbersAreDecimal) {
    TempDir dir;
    std::ofstream(dir.Path() / "Tavrix.INI") << "[CommunicationSetup]\nGPIBAddr = 09\nIPPort=x\n";
    SettingsStore s(dir.Str());
    EXPECT_EQ(s.GetInt("CommunicationSetup", "GPIBAddr", 12), 9);
    EXPECT_EQ(s.GetInt("CommunicationSetup", "IPPort", 5000), 5000);
}

TEST(SettingsStore, ValuesWithLineBreaksAreRefused) {
    TempDir dir;
    SettingsStore s(dir.Str());
    EXPECT_FALSE(s.WriteString("LOG", "INTERVAL", "1.0\n[Evil]\nx=1"));
    EXPECT_EQ(s.GetString("Evil", "x", "none"), "none");
}

TEST(SettingsStore, EnvironmentRedirectsTheFolder) {
    TempDir dir;
    ::setenv("TAVRIX_CONFIG_DIR", dir.Str().c_str(), 1);
    EXPECT_EQ(SettingsStore::DefaultFolder(), dir.Str());
    ::unsetenv("TAVRIX_CONFIG_DIR");
    ::setenv("XDG_CONFIG_HOME", "/tmp/xdg", 1);
    EXPECT_EQ(SettingsStore::DefaultFolder(), "/tmp/xdg/Orvella, Inc");
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST(LinkStartUp, FirstRunUsesTheDefaults) {
    TempDir dir;
    SettingsStore s(dir.Str());
    ScriptedOperator op;
    CInstrumentLink link(op, s);
    link.StartUp();
    EXPECT_EQ(link.GetPortType(), kPortRs232);
    EXPECT_EQ(link.CommPortIndex(), 1);  // COM2
    EXPECT_EQ(link.BaudIndex(), 0);      // 115200
    EXPECT_EQ(link.GpibAddress(), 12);
    EXPECT_STREQ(link.IpAddr().Get_Addr_Str(), "192.168.0.4");
    EXPECT_EQ(link.IpAddr().Port(), 5000u);
    ASSERT_NE(link.SerialPort(), nullptr);
    EXPECT_EQ(link.SerialPort()->DevicePath(), "/dev/ttyS1");
    EXPECT_TRUE(op.messages.empty());  // a port that fails to open is not reported here
    EXPECT_FALSE(std::filesystem::exists(s.FilePath()));  // start-up writes nothing
}

TEST(LinkStartUp, StoredValuesAreReadAndAStoredOneMeansLan) {
    TempDir dir;
    SettingsStore s(dir.Str());
    ASSERT_TRUE(s.WriteInt("CommunicationSetup", "PortType", 1));
    ASSERT_TRUE(s.WriteInt("CommunicationSetup", "BaudRate", 4));
    ASSERT_TRUE(s.WriteInt("CommunicationSetup", "CommPort", 2));
    ASSERT_TRUE(s.WriteInt("CommunicationSetup", "IPAddr0", 10));
    ASSERT_TRUE(s.WriteInt("CommunicationSetup", "IPAddr3", 77));
    ASSERT_TRUE(s.WriteInt("CommunicationSetup", "IPPort", 7777));
    ASSERT_TRUE(s.WriteString("SerialDevices", "COM3", "/dev/ttyACM0"));
    ScriptedOperator op;
    CInstrumentLink link(op, s);
    link.StartUp();
    EXPECT_EQ(link.GetPortType(), kPortLan);
    EXPECT_EQ(link.BaudIndex(), 4);
    EXPECT_STREQ(link.IpAddr().Get_Addr_Str(), "10.168.0.77");
    EXPECT_EQ(link.IpAddr().Port(), 7777u);
    EXPECT_EQ(link.SerialDevicePath(link.CommPortIndex() + 1), "/dev/ttyACM0");
    // Set to LAN, the link leaves the serial device alone.
    EXPECT_FALSE(link.SerialPort()->IsOpen());
}

namespace {
void WriteRaw(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}
}  // namespace

TEST(SettingsStore, OnlyARegularFileIsReadOrReplaced) {
    // A FIFO would block every read until someone writes into it; a folder cannot be parsed.
    TempDir fifoDir, folderDir;
    ASSERT_EQ(::mkfifo((fifoDir.Path() / "Tavrix.INI").c_str(), 0600), 0);
    std::filesystem::create_directory(folderDir.Path() / "Tavrix.INI");
    for (const TempDir* dir : {&fifoDir, &folderDir}) {
        SettingsStore s(dir->Str());
        EXPECT_EQ(s.GetInt("CommunicationSetup", "GPIBAddr", 12), 12);
        EXPECT_EQ(s.GetString("LOG", "INTERVAL", "30.0"), "30.0");
        EXPECT_FALSE(s.WriteInt("CommunicationSetup", "GPIBAddr", 5));
        EXPECT_FALSE(std::filesystem::is_regular_file(dir->Path() / "Tavrix.INI"));
    }
}

TEST(SettingsStore, AWriteChangesItsValueAndKeepsEveryOtherByte) {
    const std::string nul("\0", 1);
    struct Case {
        const char* what;
        std::string before;
        std::string after;  // after writing CommunicationSetup/BaudRate = 3
    } cases[] = {
        {"value replaced in place, comments, unknown lines and CR LF kept",
         "; operator's note\r\n[CommunicationSetup]\r\nPortType = 0\r\nnot a setting\r\n"
         "BaudRate = 6\r\n# end\r\n",
         "; operator's note\r\n[CommunicationSetup]\r\nPortType = 0\r\nnot a setting\r\n"
         "BaudRate = 3\r\n# end\r\n"},
        {"NUL bytes do not cut the file",
         "[LOG]\nINTERVAL=2.0\n" + nul + "junk\n[CommunicationSetup]\nCommPort=2" + nul + "\n",
         "[LOG]\nINTERVAL=2.0\n" + nul + "junk\n[CommunicationSetup]\nCommPort=2" + nul +
             "\nBaudRate=3\n"},
        {"a new key goes after the last key of its section",
         "[CommunicationSetup]\nPortType=3\n\n[LOG]\nINTERVAL=1.0\n",
         "[CommunicationSetup]\nPortType=3\nBaudRate=3\n\n[LOG]\nINTERVAL=1.0\n"},
        {"an unterminated header owns nothing and stays",
         "[LOG]\nINTERVAL=1.0\n[CommunicationSetup\nBaudRate=6",
         "[LOG]\nINTERVAL=1.0\n[CommunicationSetup\nBaudRate=6\n[CommunicationSetup]\n"
         "BaudRate=3\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        WriteRaw(dir.Path() / "Tavrix.INI", c.before);
        SettingsStore s(dir.Str());
        ASSERT_TRUE(s.WriteInt("CommunicationSetup", "BaudRate", 3));
        EXPECT_EQ(ReadAll(dir.Path() / "Tavrix.INI"), c.after);
        // Writing again changes nothing more: no line is gained at every write.
        ASSERT_TRUE(s.WriteInt("CommunicationSetup", "BaudRate", 3));
        EXPECT_EQ(ReadAll(dir.Path() / "Tavrix.INI"), c.after);
        EXPECT_EQ(s.GetInt("CommunicationSetup", "Baudrate", 0), 3);
    }
}

TEST(LinkStartUp, StoredNumbersOutOfRangeFallBackToTheirDefaults) {
    TempDir dir;
    WriteRaw(dir.Path() / "Tavrix.INI",
             "[CommunicationSetup]\nPortType=7\nCommPort=-5\nBaudRate=255\nGPIBAddr=99\n"
             "IPAddr0=300\nIPAddr1=-1\nIPPort=0\n");
    SettingsStore s(dir.Str());
    ScriptedOperator op;
    CInstrumentLink link(op, s);
    link.StartUp();
    EXPECT_EQ(link.GetPortType(), kPortRs232);
    EXPECT_EQ(link.CommPortIndex(), 1);
    EXPECT_EQ(link.BaudIndex(), 0);
    EXPECT_EQ(link.GpibAddress(), 12);
    EXPECT_STREQ(link.IpAddr().Get_Addr_Str(), "192.168.0.4");
    EXPECT_EQ(link.IpAddr().Port(), 5000u);
    // An explicit device still opens whatever the store held.
    WriteRaw(dir.Path() / "Tavrix.INI", "[CommunicationSetup]\nCommPort=255\n");
    CInstrumentLink other(op, s);
    other.SetSerialDeviceOverride("/dev/null");
    other.StartUp();
    ASSERT_NE(other.SerialPort(), nullptr);
    EXPECT_EQ(other.SerialPort()->DevicePath(), "/dev/null");
}
