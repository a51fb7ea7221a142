#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/OperatorInterface.h"
#include "base/SettingsStore.h"
#include "link/CCommPort.h"
#include "link/CENetTCPIP.h"
#include "link/GpibDriver.h"

namespace tavrix {

// Status codes of the link's exchanges (negative: failure).
namespace link_status {
inline constexpr int kOk = 0;
inline constexpr int kRs232Timeout = -1;
inline constexpr int kTooLong = -2;
inline constexpr int kBadPortType = -3;
inline constexpr int kNoCommand = -4;
inline constexpr int kNoReply = -5;
inline constexpr int kGpibFailure = -6;
inline constexpr int kLanFailure = -7;
inline constexpr int kLanRefused = -8;
}  // namespace link_status

enum PortType : int { kPortRs232 = 0, kPortGpib = 2, kPortLan = 3 };

// The one link to the instrument. It does not take SessionMutex itself: every caller holds it
// around its exchange (see SessionLock).
class CInstrumentLink {
public:
    static constexpr size_t kMaxCommandLength = 100;
    // A reply line longer than this is not an answer of the instrument; the exchange fails
    // instead of collecting forever.
    static constexpr size_t kMaxReplyLength = 4096;
    static constexpr size_t kMaxTableBytes = CENetTCPIP::kMaxTableBytes;
    static constexpr int kRs232Attempts = 11;
    static constexpr int kSerialTimeoutValue = 50;
    static constexpr int kPacingMs = 100;
    static constexpr size_t kProgressMessageMax = 70;

    // Overall bounds of the waits; none of them restarts when a byte arrives.
    // One RS232 attempt: the port's time-out for the first byte plus the time the longest
    // reply (4096 characters and CR LF, 10 bits each) takes on the line at `baud`.
    static std::chrono::milliseconds Rs232AttemptBound(int baud);
    // A GPIB query's reply, from its write (each read may add the driver's one-second time-out).
    static constexpr std::chrono::milliseconds kGpibReplyBound{5000};
    // A table: the expected lines at `perLine` each (RS232: the time a 100-character line takes
    // at `baud`, at least 50 ms; GPIB and LAN: 50 ms), within the floor and the ceiling.
    static constexpr std::chrono::milliseconds kTableFloor{30000};
    static constexpr std::chrono::milliseconds kTableCeiling{900000};
    static std::chrono::milliseconds TableDeadline(int expectedLines, int portType, int baud,
                                                   std::chrono::milliseconds floor = kTableFloor);
    // A lower floor, for tests that prove the deadline without waiting half a minute.
    void SetTableFloor(std::chrono::milliseconds floor) { tableFloor_ = floor; }
    // A table with more lines than this is not the one asked for: the transfer fails.
    static int TableLineLimit(int expectedLines);

    CInstrumentLink(OperatorInterface& op, SettingsStore& settings);
    ~CInstrumentLink();  // link shut-down
    CInstrumentLink(const CInstrumentLink&) = delete;
    CInstrumentLink& operator=(const CInstrumentLink&) = delete;

    // A query holds "?" and its first "?" is not the first character.
    static bool IsQuery(std::string_view command);
    // A short explanation of a status code, for logs and the command line.
    static const char* StatusText(int status);

    int Transact(const std::string* command, std::string* reply, int pacing = 0);
    int TransactQuiet(const std::string& command, std::string* reply);
    int FetchTable(int expectedLines, const std::string& progressMessage,
                   const std::string* command, std::string* reply);
    // The same without a progress window, message box or message pumping: for exchanges made
    // on behalf of another program (the sharing port), from a thread of its own.
    int FetchTableQuiet(int expectedLines, const std::string& command, std::string* reply);

    // Convenience forms.
    int Command(const std::string& command, int pacing = 0) {
        return Transact(&command, nullptr, pacing);
    }
    int Query(const std::string& command, std::string& reply, int pacing = 0) {
        return Transact(&command, &reply, pacing);
    }

    // Reads the communication settings and opens the serial port (done once at start).
    void StartUp();
    // Closes, frees and re-creates the serial port from the COM and baud indices.
    void RecreateSerialPort();
    // Link shut-down: 0x04 to the serial port, GPIB offline, LAN disconnect.
    void ShutDown();
    // Opens the transport again after the instrument was lost, without a message box: LAN
    // opens a new connection to the same address, RS232 opens its device again (through the
    // /dev/serial/by-id/ name the device had when it last opened, so a USB adapter that comes
    // back under another node is found again), GPIB clears the device. True when the
    // transport could be opened; whether the instrument answers is for the caller to ask.
    bool Reopen();
    // Where the stable names of serial devices live (tests use a folder of their own).
    void SetSerialByIdFolder(std::string folder) { serialByIdFolder_ = std::move(folder); }
    // The stable name of the serial device last opened ("" when it has none).
    std::string SerialStableName() const { return serialStable_; }

    int GetPortType() const { return portType_.load(); }
    void SetPortType(int type) { portType_.store(type); }
    int GpibAddress() const { return gpib_.Address(); }
    // [GPIB] EndOnEOI=1: a reply piece with END ends the reply at once instead of a read
    // having to time out. Read at start-up; off by default.
    bool GpibEndOnEoi() const { return gpibEndOnEoi_; }
    void SetGpibEndOnEoi(bool on) { gpibEndOnEoi_ = on; }
    // Stores the address and writes "GPIBAddr"; false when the write failed.
    bool SetGpibAddress(int address);
    uint16_t CommPortIndex() const { return commPortIndex_; }
    uint16_t BaudIndex() const { return baudIndex_; }
    void SetSerialIndices(uint16_t commPortIndex, uint16_t baudIndex) {
        commPortIndex_ = commPortIndex;
        baudIndex_ = baudIndex;
    }
    MyIPAddr& IpAddr() { return ipAddr_; }

    // LAN connect: 0 failure (after "Failed to connect to server."), 1 connected, other values
    // as the LAN object gives them.
    int LanConnect();
    // Only while the port type is LAN.
    void LanDisconnect();

    // The model code of the last successful "SYST:IDEF?" (0 before any).
    int ModelCode() const { return modelCode_.load(); }
    void SetModelCode(int code) { modelCode_.store(code); }

    // Opens this device for every COM port instead of the settings' mapping (command line,
    // simulator).
    void SetSerialDeviceOverride(std::string path) { serialOverride_ = std::move(path); }
    // Device path of COM port n (1..4) from the settings; defaults documented in the README.
    std::string SerialDevicePath(int portNumber) const;

    // Exchanges made and failed since start, for the metrics: reading them never reaches the
    // instrument.
    uint64_t Exchanges() const { return exchanges_.load(std::memory_order_relaxed); }
    uint64_t ExchangeFailures() const { return exchangeFailures_.load(std::memory_order_relaxed); }

    CCommPort* SerialPort() { return serial_.get(); }
    GpibDevice& Gpib() { return gpib_; }
    GpibDriver& GpibLibrary() { return gpibDriver_; }
    CENetTCPIP& Lan() { return lan_; }
    OperatorInterface& Operator() { return op_; }
    SettingsStore& Settings() { return settings_; }

private:
    int TransactRs232(const std::string* command, std::string* reply, int pacing, bool quiet);
    int TransactGpib(const std::string* command, std::string* reply, bool quiet);
    int TransactLan(const std::string* command, std::string* reply, bool quiet);
    int FetchRs232(int expected, const std::string& command, std::string& reply,
                   ProgressWindow& progress);
    int FetchGpib(int expected, const std::string& command, std::string& reply,
                  ProgressWindow& progress);
    int FetchLan(int expected, const std::string& command, std::string& reply,
                 ProgressWindow& progress);
    // LF, the command, LF; false when any of the writes failed.
    bool WriteFramed(const std::string& command, bool pacing);
    // After an answer to a repeated query: reads the answers the earlier attempts may still
    // get, so that none of them is taken for the next query's.
    // Clears the serial queues at the start of an exchange. What has arrived is read away
    // rather than flushed, so that the link knows whether a line is still in flight.
    bool ClearSerialQueues();
    void ReadAwayFlood();
    bool AwaitFloodEnd();
    // Reads one byte before `deadline` and keeps track of where the line stands.
    int ReadSerialByte(std::chrono::steady_clock::time_point deadline);
    // Returns how many of them did not come.
    int DrainEarlierAnswers(int owed, std::chrono::steady_clock::time_point firstSend,
                            std::chrono::steady_clock::time_point lastSend);
    // Queries left unanswered by an exchange: their answers may still come, for a while.
    void Owe(int lines, std::chrono::steady_clock::time_point lastSend);
    // True (and one fewer owed) when a line that just ended may be such a late answer.
    bool TakeOwedLine();
    void CommunicationError();
    // Keeps the stable name of the serial device just opened at `path`.
    void RememberSerialName(const std::string& path);
    // Counts an exchange and its outcome; returns `status`.
    int Counted(int status);

    OperatorInterface& op_;
    SettingsStore& settings_;
    std::unique_ptr<CCommPort> serial_;
    GpibDriver gpibDriver_;
    GpibDevice gpib_;
    bool gpibEndOnEoi_ = false;
    std::atomic<int> portType_{kPortRs232};
    uint16_t commPortIndex_ = 1;
    uint16_t baudIndex_ = 0;
    MyIPAddr ipAddr_;
    CENetTCPIP lan_;
    std::atomic<int> modelCode_{0};
    std::string serialOverride_;
    std::string serialByIdFolder_ = "/dev/serial/by-id";
    std::string serialStable_;
    // The last byte from the serial port was not a LF: the rest of that line (the tail of an
    // abandoned reply) is still to come and is no answer to anything sent later.
    bool serialMidLine_ = false;
    bool serialFlooding_ = false;  // a failed table may still be coming in
    int serialOwed_ = 0;
    std::chrono::steady_clock::time_point serialOwedUntil_{};
    std::chrono::milliseconds tableFloor_ = kTableFloor;
    bool shutDown_ = false;
    // Set while FetchTableQuiet runs (under SessionMutex, like every exchange).
    bool quietFetch_ = false;
    std::atomic<uint64_t> exchanges_{0};
    std::atomic<uint64_t> exchangeFailures_{0};
};

}  // namespace tavrix
