#include "link/CInstrumentLink.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "base/Texts.h"

namespace tavrix {

using namespace link_status;

namespace {
void SetProgress(ProgressWindow& progress, int lines, int expected) {
    const int n = expected > 0 ? expected : 1;
    progress.SetPos(static_cast<int>(static_cast<long long>(lines) * 100 / n));
}
}  // namespace

CInstrumentLink::CInstrumentLink(OperatorInterface& op, SettingsStore& settings)
    : op_(op),
      settings_(settings),
      gpibDriver_(GpibDriver::ChooseLibrary(
          settings.GetString(settings::kGpib, settings::kGpibLibrary, ""))),
      gpib_(gpibDriver_) {
    ipAddr_ = MyIPAddr::FromOctets(192, 168, 0, 4, 5000);
}

CInstrumentLink::~CInstrumentLink() {
    ShutDown();
}

bool CInstrumentLink::IsQuery(std::string_view command) {
    const size_t q = command.find('?');
    return q != std::string_view::npos && q != 0;
}

const char* CInstrumentLink::StatusText(int status) {
    switch (status) {
        case kOk:
            return "success";
        case kRs232Timeout:
            return "no complete reply from the instrument (RS232 read time-out)";
        case kTooLong:
            return "command longer than 100 characters";
        case kBadPortType:
            return "not possible on this port type";
        case kNoCommand:
            return "no command given";
        case kNoReply:
            return "no reply buffer given";
        case kGpibFailure:
            return "GPIB failure";
        case kLanFailure:
            return "LAN failure";
        case kLanRefused:
            return "the instrument refused the line (LAN)";
        default:
            return "unknown status";
    }
}

std::string CInstrumentLink::SerialDevicePath(int portNumber) const {
    if (!serialOverride_.empty()) return serialOverride_;
    if (portNumber >= 1 && portNumber <= 4) {
        const std::string key = "COM" + std::to_string(portNumber);
        return settings_.GetString(settings::kSerialDevices, key,
                                   settings::kDefaultSerialDevice[portNumber - 1]);
    }
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

void CInstrumentLink::StartUp() {
    using namespace settings;
    // A stored number out of its range (a damaged or hand-edited store) counts as absent.
    baudIndex_ = static_cast<uint16_t>(
        settings_.GetIntInRange(kCommunicationSetup, kBaudrateReadName, kDefaultBaudRate, 0, 7));
    commPortIndex_ = static_cast<uint16_t>(
        settings_.GetIntInRange(kCommunicationSetup, kCommPort, kDefaultCommPort, 0, 3));
    int type = settings_.GetIntInRange(kCommunicationSetup, kPortType, kDefaultPortType, 0, 3);
    gpib_.SetAddress(
        settings_.GetIntInRange(kCommunicationSetup, kGpibAddr, kDefaultGpibAddr, 0, 31));
    int octets[4];
    for (int i = 0; i < 4; ++i)
        octets[i] =
            settings_.GetIntInRange(kCommunicationSetup, kIpAddr[i], kDefaultIpAddr[i], 0, 255);
    const int port =
        settings_.GetIntInRange(kCommunicationSetup, kIpPort, kDefaultIpPort, 1, 65535);
    ipAddr_ = MyIPAddr::FromOctets(octets[0], octets[1], octets[2], octets[3],
                                   static_cast<unsigned long>(port));
    if (type == 1) type = kPortLan;  // an old store's LAN entry
    portType_.store(type);
    RecreateSerialPort();
}

void CInstrumentLink::RecreateSerialPort() {
    serial_.reset();
    serial_ = std::make_unique<CCommPort>([this](int n) { return SerialDevicePath(n); });
    // The port's own status is not reported: the first query fails after its repeats instead.
    serial_->Open(commPortIndex_ + 1, CCommPort::SelectorFromBaudIndex(baudIndex_),
                  kSerialTimeoutValue, 2);
}

void CInstrumentLink::ShutDown() {
    if (shutDown_) return;
    shutDown_ = true;
    if (serial_) {
        serial_->WriteByte(0x04);
        serial_->Close();
        serial_.reset();
    }
    if (GetPortType() == kPortGpib && gpib_.IsOpen()) gpib_.Offline();
    if (GetPortType() == kPortLan) lan_.Disconnect();
}

bool CInstrumentLink::SetGpibAddress(int address) {
    gpib_.SetAddress(address);
    return settings_.WriteInt(settings::kCommunicationSetup, settings::kGpibAddr, address);
}

int CInstrumentLink::LanConnect() {
    const char* text = ipAddr_.Get_Addr_Str();
    if (!text || !*text) return 0;
    char buffer[260] = {};
    std::snprintf(buffer, sizeof buffer, "%s", text);
    const int result = lan_.Connect(buffer, ipAddr_.Port());
    if (result == 0) op_.ShowMessage(texts::kFailedToConnectServer, MessageIcon::Stop);
    return result;
}

void CInstrumentLink::LanDisconnect() {
    if (GetPortType() == kPortLan) lan_.Disconnect();
}

void CInstrumentLink::CommunicationError() {
    op_.ShowMessage(texts::kCommunicationError, MessageIcon::Stop);
}

// ---------------------------------------------------------------------------------------------
// Transact / TransactQuiet

int CInstrumentLink::Transact(const std::string* command, std::string* reply, int pacing) {
    if (command && command->size() > kMaxCommandLength) return kTooLong;
    switch (GetPortType()) {
        case kPortRs232:
            return TransactRs232(command, reply, pacing, false);
        case kPortGpib:
            return TransactGpib(command, reply, false);
        case kPortLan:
            return TransactLan(command, reply, false);
        default:
            return kBadPortType;
    }
}

int CInstrumentLink::TransactQuiet(const std::string& command, std::string* reply) {
    if (command.size() > kMaxCommandLength) return kTooLong;
    switch (GetPortType()) {
        case kPortRs232:
            return TransactRs232(&command, reply, 0, true);
        case kPortGpib:
            return TransactGpib(&command, reply, true);
        case kPortLan:
            return TransactLan(&command, reply, true);
        default:
            return kBadPortType;
    }
}

void CInstrumentLink::WriteFramed(const std::string& command, bool pacing) {
    serial_->WriteByte('\n');
    if (!command.empty()) serial_->WriteBlock(static_cast<int>(command.size()), command.data());
    if (pacing) std::this_thread::sleep_for(std::chrono::milliseconds(kPacingMs));
    serial_->WriteByte('\n');
}

int CInstrumentLink::TransactRs232(const std::string* command, std::string* reply, int pacing,
                                   bool quiet) {
    if (!serial_) {
        if (!quiet && command && reply && IsQuery(*command)) CommunicationError();
        return (command && reply && IsQuery(*command)) ? kRs232Timeout : kOk;
    }
    serial_->ClearReceiveQueue();
    serial_->ClearTransmitQueue();
    const bool query = command && reply && IsQuery(*command);
    const int attempts = quiet ? 1 : kRs232Attempts;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        if (command) WriteFramed(*command, !quiet && pacing != 0);
        if (!query) return kOk;
        reply->clear();
        for (;;) {
            const int b = serial_->ReadByte();
            if (b < 0) break;  // time-out ends this attempt
            if (b == '\n') {
                std::erase(*reply, '\r');
                return kOk;
            }
            reply->push_back(static_cast<char>(b));
            if (reply->size() > kMaxReplyLength) {
                // An endless line is not a reply; repeating the query would not help.
                reply->clear();
                if (!quiet) CommunicationError();
                return kRs232Timeout;
            }
        }
    }
    if (!quiet) CommunicationError();
    return kRs232Timeout;
}

int CInstrumentLink::TransactGpib(const std::string* command, std::string* reply, bool quiet) {
    if (command && gpib_.Write(*command) != 0) return kGpibFailure;
    if (!(command && reply && IsQuery(*command))) return kOk;
    reply->clear();
    for (;;) {
        std::string piece;
        if (gpib_.Read(piece) != 0) {
            if (!quiet) CommunicationError();
            return kGpibFailure;
        }
        if (piece.empty()) return kOk;
        reply->append(piece);
        if (reply->size() > kMaxReplyLength) {
            reply->clear();
            if (!quiet) CommunicationError();
            return kGpibFailure;
        }
    }
}

int CInstrumentLink::TransactLan(const std::string* command, std::string* reply, bool quiet) {
    if (command) {
        const int status = lan_.Send(command->data(), static_cast<int>(command->size()), 1);
        if (status == 1) {
            if (!quiet) CommunicationError();
            return kLanFailure;
        }
        if (status == 2 && !quiet) return kLanRefused;
    }
    const bool query = command && reply && IsQuery(*command);
    if (!query) return quiet ? kBadPortType : kOk;
    reply->clear();
    for (;;) {
        char buffer[100];
        buffer[0] = '\0';
        if (lan_.Read(buffer, sizeof buffer) == 0) {
            if (!quiet) CommunicationError();
            return kLanFailure;
        }
        if (buffer[0] == '\0') return kOk;
        reply->append(buffer);
        if (reply->size() > kMaxReplyLength) {
            reply->clear();
            if (!quiet) CommunicationError();
            return kLanFailure;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// FetchTable

int CInstrumentLink::FetchTable(int expectedLines, const std::string& progressMessage,
                                const std::string* command, std::string* reply) {
    auto progress = op_.OpenProgress();
    if (!command) return kNoCommand;
    if (command->size() > kMaxCommandLength) return kTooLong;
    if (!reply) return kNoReply;
    progress->SetMessage(progressMessage.substr(0, kProgressMessageMax));
    progress->SetRange(0, 100);
    int result;
    switch (GetPortType()) {
        case kPortRs232:
            result = FetchRs232(expectedLines, *command, *reply, *progress);
            break;
        case kPortGpib:
            result = FetchGpib(expectedLines, *command, *reply, *progress);
            break;
        case kPortLan:
            result = FetchLan(expectedLines, *command, *reply, *progress);
            break;
        default:
            result = kBadPortType;
            break;
    }
    progress->Close();
    return result;
}

int CInstrumentLink::FetchRs232(int expected, const std::string& command, std::string& reply,
                                ProgressWindow& progress) {
    if (!serial_) {
        CommunicationError();
        return kRs232Timeout;
    }
    serial_->ClearReceiveQueue();
    serial_->ClearTransmitQueue();
    WriteFramed(command, false);
    reply.clear();
    int lines = 0;
    bool lineHasSemicolon = false;
    for (;;) {
        const int b = serial_->ReadByte();
        if (b < 0 || reply.size() > kMaxTableBytes) {
            progress.Close();
            CommunicationError();
            return kRs232Timeout;
        }
        if (b == '\r') continue;
        reply.push_back(static_cast<char>(b));
        if (b == ';') lineHasSemicolon = true;
        if (b == '\n') {
            // Earlier lines held no ";" (or the table would have ended), so this line decides.
            if (lineHasSemicolon) return lines;
            ++lines;
            SetProgress(progress, lines, expected);
        }
    }
}

int CInstrumentLink::FetchGpib(int expected, const std::string& command, std::string& reply,
                               ProgressWindow& progress) {
    if (gpib_.Write(command) != 0) return kGpibFailure;
    reply.clear();
    int lines = 0;
    for (;;) {
        std::string piece;
        if (gpib_.Read(piece) != 0) {
            progress.Close();
            CommunicationError();
            return kGpibFailure;
        }
        if (piece.empty() || piece[0] == ';') return lines;
        reply.append(piece);
        reply.push_back('\n');
        ++lines;
        SetProgress(progress, lines, expected);
        if (reply.size() > kMaxTableBytes) {
            progress.Close();
            CommunicationError();
            return kGpibFailure;
        }
    }
}

int CInstrumentLink::FetchLan(int expected, const std::string& command, std::string& reply,
                              ProgressWindow& progress) {
    if (lan_.Get_Table(command.data(), static_cast<int>(command.size())) == 0) {
        CommunicationError();
        return kLanFailure;
    }
    while (lan_.Get_Table_In_Progress() == 0) {
    }
    int lines = 0;
    while (lines < expected) {
        if (lan_.Get_Received_Counter(&lines) == 0) return kLanFailure;
        op_.PumpMessages();
        SetProgress(progress, lines, expected);
        // A table shorter than announced ends here instead of waiting for lines never sent.
        if (lan_.Table_Complete()) break;
    }
    if (lan_.Table_Ready() == 0) return kLanFailure;
    reply.clear();
    if (lan_.Get_Received_Buffer(&reply) == 0) return kLanFailure;
    return lines;
}

}  // namespace tavrix
