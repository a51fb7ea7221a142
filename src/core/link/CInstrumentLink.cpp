#include "link/CInstrumentLink.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "base/Texts.h"
#include "link/SerialDevices.h"

namespace tavrix {

using namespace link_status;

namespace {
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

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
            return "RS232 failure (no complete reply in time, or the port refused the write)";
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
    gpibEndOnEoi_ = settings_.GetIntInRange(kGpib, kGpibEndOnEoi, 0, 0, 1) == 1;
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
    // A link set to GPIB or LAN leaves the serial device to other programs; Connect opens it
    // once the link is set to RS232.
    if (GetPortType() != kPortRs232) return;
    // The port's own status is not reported: the first query fails after its repeats instead.
    serial_->Open(commPortIndex_ + 1, CCommPort::SelectorFromBaudIndex(baudIndex_),
                  kSerialTimeoutValue, 2);
    RememberSerialName(SerialDevicePath(commPortIndex_ + 1));
}

void CInstrumentLink::RememberSerialName(const std::string& path) {
    if (!serial_ || !serial_->IsOpen()) return;
    const std::string prefix = serialByIdFolder_ + "/";
    serialStable_ = path.rfind(prefix, 0) == 0 ? path : FindByIdLink(path, serialByIdFolder_);
}

bool CInstrumentLink::Reopen() {
    switch (GetPortType()) {
        case kPortLan: {
            lan_.Disconnect();
            const char* text = ipAddr_.Get_Addr_Str();
            if (!text || !*text) return false;
            char buffer[260] = {};
            std::snprintf(buffer, sizeof buffer, "%s", text);
            return lan_.Connect(buffer, ipAddr_.Port()) == 1;
        }
        case kPortGpib:
            return gpib_.Clear() == 0;
        case kPortRs232: {
            const std::string configured = SerialDevicePath(commPortIndex_ + 1);
            // The stable name first: the node an adapter had may now belong to another one.
            std::vector<std::string> paths;
            if (!serialStable_.empty()) paths.push_back(serialStable_);
            if (paths.empty() || !SameDevice(paths.front(), configured))
                paths.push_back(configured);
            for (const std::string& path : paths) {
                serial_.reset();
                serial_ = std::make_unique<CCommPort>([path](int) { return path; });
                serial_->Open(commPortIndex_ + 1, CCommPort::SelectorFromBaudIndex(baudIndex_),
                              kSerialTimeoutValue, 2);
                if (serial_->IsOpen()) {
                    serialMidLine_ = false;
                    serialOwed_ = 0;
                    RememberSerialName(path);
                    return true;
                }
            }
            return false;
        }
        default:
            return false;
    }
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

milliseconds CInstrumentLink::Rs232AttemptBound(int baud) {
    const long long bits = 10LL * static_cast<long long>(kMaxReplyLength + 2);
    const long long lineMs = (bits * 1000 + baud - 1) / (baud > 0 ? baud : 1);
    return milliseconds(kSerialTimeoutValue * CCommPort::kTimeoutUnitMs + lineMs);
}

milliseconds CInstrumentLink::TableDeadline(int expectedLines, int portType, int baud,
                                            milliseconds floor) {
    long long perLineMs = 50;
    if (portType == kPortRs232 && baud > 0)
        perLineMs = std::max(
            perLineMs,
            (10LL * static_cast<long long>(kMaxCommandLength + 2) * 1000 + baud - 1) / baud);
    const long long ms = std::max(expectedLines, 1) * perLineMs;
    return std::clamp(milliseconds(ms), std::min(floor, kTableCeiling), kTableCeiling);
}

int CInstrumentLink::TableLineLimit(int expectedLines) {
    // The expected count may leave out header lines or come from a reply that was no number.
    return 2 * std::max(expectedLines, 1) + 256;
}

void CInstrumentLink::CommunicationError() {
    if (quietFetch_) return;
    op_.ShowMessage(texts::kCommunicationError, MessageIcon::Stop);
}

// ---------------------------------------------------------------------------------------------
// Transact / TransactQuiet

int CInstrumentLink::Counted(int status) {
    exchanges_.fetch_add(1, std::memory_order_relaxed);
    // "Not possible on this port type" is how a sent LAN command without reply comes back.
    if (status < 0 && status != kBadPortType)
        exchangeFailures_.fetch_add(1, std::memory_order_relaxed);
    return status;
}

int CInstrumentLink::Transact(const std::string* command, std::string* reply, int pacing) {
    if (command && command->size() > kMaxCommandLength) return Counted(kTooLong);
    switch (GetPortType()) {
        case kPortRs232:
            return Counted(TransactRs232(command, reply, pacing, false));
        case kPortGpib:
            return Counted(TransactGpib(command, reply, false));
        case kPortLan:
            return Counted(TransactLan(command, reply, false));
        default:
            return kBadPortType;
    }
}

int CInstrumentLink::TransactQuiet(const std::string& command, std::string* reply) {
    if (command.size() > kMaxCommandLength) return Counted(kTooLong);
    switch (GetPortType()) {
        case kPortRs232:
            return Counted(TransactRs232(&command, reply, 0, true));
        case kPortGpib:
            return Counted(TransactGpib(&command, reply, true));
        case kPortLan:
            return Counted(TransactLan(&command, reply, true));
        default:
            return kBadPortType;
    }
}

bool CInstrumentLink::WriteFramed(const std::string& command, bool pacing) {
    if (serial_->WriteByte('\n') != 0) return false;
    const int n = static_cast<int>(command.size());
    if (n > 0 && serial_->WriteBlock(n, command.data()) != n) return false;
    if (pacing) std::this_thread::sleep_for(milliseconds(kPacingMs));
    return serial_->WriteByte('\n') == 0;
}

int CInstrumentLink::TransactRs232(const std::string* command, std::string* reply, int pacing,
                                   bool quiet) {
    const bool query = command && reply && IsQuery(*command);
    auto fail = [&] {
        if (!quiet) CommunicationError();
        return kRs232Timeout;
    };
    if (!serial_) return command ? fail() : kOk;
    // Nothing is sent while an abandoned table is still coming in: its lines would be taken
    // for the answer.
    if (!ClearSerialQueues()) return fail();
    const int attempts = quiet ? 1 : kRs232Attempts;
    const milliseconds bound = Rs232AttemptBound(serial_->BaudRate());
    Clock::time_point firstSend{}, lastSend{};
    int linesSeen = 0;                  // reply lines received in this exchange, for any attempt
    bool foreignLine = serialMidLine_;  // a line begun before this exchange is still arriving
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        lastSend = Clock::now();
        if (attempt == 1) firstSend = lastSend;
        // A write that fails will not succeed when repeated: the port or the line is gone.
        if (command && !WriteFramed(*command, !quiet && pacing != 0)) return fail();
        if (!query) return kOk;
        reply->clear();
        const auto deadline = Clock::now() + bound;
        // The tail of a line begun before this attempt is no answer to it.
        bool staleLine = serialMidLine_;
        for (;;) {
            const int b = ReadSerialByte(deadline);
            if (b < 0) break;  // time-out (or a dead port) ends this attempt
            if (b == '\n') {
                if (staleLine) {
                    staleLine = false;
                    if (foreignLine) {
                        foreignLine = false;
                        TakeOwedLine();
                    } else {
                        ++linesSeen;  // an earlier attempt's answer
                    }
                    continue;
                }
                if (TakeOwedLine()) {  // the late answer to an earlier exchange's query
                    reply->clear();
                    continue;
                }
                ++linesSeen;
                Owe(DrainEarlierAnswers(attempt - linesSeen, firstSend, lastSend), lastSend);
                return kOk;
            }
            // CR is removed before anything is counted; NUL is dropped as on GPIB and LAN.
            if (b == '\r' || b == '\0' || staleLine) continue;
            reply->push_back(static_cast<char>(b));
            if (reply->size() > kMaxReplyLength) {
                // An endless line is not a reply; repeating the query would not help.
                reply->clear();
                return fail();
            }
        }
    }
    reply->clear();
    Owe(attempts - linesSeen, lastSend);
    return fail();
}

void CInstrumentLink::Owe(int lines, Clock::time_point lastSend) {
    if (lines <= 0) return;
    serialOwed_ = std::min(kRs232Attempts, serialOwed_ + lines);
    // An answer later than this is taken as never coming.
    serialOwedUntil_ = lastSend + 2 * Rs232AttemptBound(serial_->BaudRate());
}

bool CInstrumentLink::TakeOwedLine() {
    if (serialOwed_ > 0 && Clock::now() <= serialOwedUntil_) {
        --serialOwed_;
        return true;
    }
    serialOwed_ = 0;
    return false;
}

bool CInstrumentLink::ClearSerialQueues() {
    if (serialFlooding_) {
        if (!AwaitFloodEnd()) return false;
        serialFlooding_ = false;
    }
    // A flood is not read away for ever: past this much it is flushed, and the next line end
    // is taken as the end of whatever was in flight.
    constexpr int kMostToReadAway = 1 << 16;
    const auto now = Clock::now();
    int n = 0;
    for (int b; n < kMostToReadAway && (b = ReadSerialByte(now)) >= 0; ++n)
        if (b == '\n') TakeOwedLine();
    if (n == kMostToReadAway) {
        serial_->ClearReceiveQueue();
        serialMidLine_ = true;
    }
    serial_->ClearTransmitQueue();
    return true;
}

// What a plain read-away at the next exchange misses of a table still streaming in would be
// taken for that exchange's answer. A failed table is read away until it has ended: its ";"
// line has come, or the line has been quiet for a while (ten characters' time, at least
// 100 ms) after a line end - a pause in the middle of a line is not the end. The wait is bound
// to two seconds; a table still coming then is not guessed over (a flush cannot stop what the
// instrument has yet to send): the line stays marked as flooding, and the next exchange waits
// for the end the same way before it sends anything.
void CInstrumentLink::ReadAwayFlood() {
    serialFlooding_ = !AwaitFloodEnd();
}

bool CInstrumentLink::AwaitFloodEnd() {
    const int baud = std::max(serial_->BaudRate(), 1);
    const milliseconds quiet{std::max<long long>(100, (10LL * 10 * 1000 + baud - 1) / baud)};
    const auto until = Clock::now() + std::chrono::seconds(2);
    auto gapEnd = std::min(Clock::now() + quiet, until);
    bool lineHasSemicolon = false;
    for (;;) {
        const int b = ReadSerialByte(gapEnd);
        const auto now = Clock::now();
        if (b == -2) return true;  // the port failed: nothing more will come
        if (b >= 0) {
            if (b == ';') lineHasSemicolon = true;
            if (b == '\n' && lineHasSemicolon) return true;
            if (b == '\n') lineHasSemicolon = false;
            gapEnd = std::min(now + quiet, until);
        } else if (now >= gapEnd && now < until && !serialMidLine_) {
            return true;
        } else if (now >= gapEnd) {
            gapEnd = std::min(now + quiet, until);
        }
        if (now >= until) return false;
    }
}

int CInstrumentLink::ReadSerialByte(Clock::time_point deadline) {
    const int b = serial_->ReadByte(deadline);
    if (b >= 0) serialMidLine_ = b != '\n';
    return b;
}

int CInstrumentLink::DrainEarlierAnswers(int owed, Clock::time_point firstSend,
                                         Clock::time_point lastSend) {
    if (owed <= 0) return 0;
    // The answer taken may have been the first attempt's; the later attempts' answers then
    // come as long after their sends as it came after the first.
    const auto until = lastSend + (Clock::now() - firstSend) +
                       milliseconds(kSerialTimeoutValue * CCommPort::kTimeoutUnitMs);
    while (owed > 0) {
        const int b = ReadSerialByte(until);
        if (b == -2) return 0;  // the port failed: nothing more will come
        if (b < 0) {
            if (Clock::now() >= until) return owed;
            continue;
        }
        if (b == '\n') --owed;
    }
    return 0;
}

int CInstrumentLink::TransactGpib(const std::string* command, std::string* reply, bool quiet) {
    if (command && gpib_.Write(*command) != 0) return kGpibFailure;
    if (!(command && reply && IsQuery(*command))) return kOk;
    reply->clear();
    auto fail = [&] {
        reply->clear();
        if (!quiet) CommunicationError();
        return kGpibFailure;
    };
    const auto deadline = Clock::now() + kGpibReplyBound;
    for (bool first = true;; first = false) {
        std::string piece;
        bool timedOut = false, end = false;
        if (gpib_.Read(piece, &timedOut, &end) != 0) return fail();
        if (piece.empty()) {
            // Nothing at all within the time-out is no answer (the device was cleared).
            if (first && timedOut) return fail();
            return kOk;
        }
        reply->append(piece);
        if (reply->size() > kMaxReplyLength || Clock::now() >= deadline) {
            gpib_.Clear();  // the rest must not wait for the next query
            return fail();
        }
        // The device marked its last byte: no need to wait for a read to time out.
        if (end && gpibEndOnEoi_) return kOk;
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
            lan_.Abandon();  // the rest of the line must not reach the next query
            reply->clear();
            if (!quiet) CommunicationError();
            return kLanFailure;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// FetchTable

int CInstrumentLink::FetchTableQuiet(int expectedLines, const std::string& command,
                                     std::string* reply) {
    quietFetch_ = true;
    const int result = FetchTable(expectedLines, std::string(), &command, reply);
    quietFetch_ = false;
    return result;
}

int CInstrumentLink::FetchTable(int expectedLines, const std::string& progressMessage,
                                const std::string* command, std::string* reply) {
    std::unique_ptr<ProgressWindow> progress =
        quietFetch_ ? std::make_unique<SilentProgress>() : op_.OpenProgress();
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
    // A table that came in whole ends with a full bar.
    if (result >= 0) progress->SetPos(100);
    progress->Close();
    return Counted(result);
}

int CInstrumentLink::FetchRs232(int expected, const std::string& command, std::string& reply,
                                ProgressWindow& progress) {
    // A table that failed may still be streaming in (past its deadline or its line limit):
    // what is left of it must not answer the next query.
    bool sent = false;
    auto fail = [&] {
        if (sent) ReadAwayFlood();
        progress.Close();
        CommunicationError();
        return kRs232Timeout;
    };
    if (!serial_ || !ClearSerialQueues()) return fail();
    if (!WriteFramed(command, false)) return fail();
    sent = true;
    const auto deadline =
        Clock::now() + TableDeadline(expected, kPortRs232, serial_->BaudRate(), tableFloor_);
    const int lineLimit = TableLineLimit(expected);
    reply.clear();
    int lines = 0;
    bool lineHasSemicolon = false;
    bool staleLine = serialMidLine_;
    size_t lineStart = 0;
    for (;;) {
        const int b = ReadSerialByte(deadline);
        if (b < 0 || reply.size() > kMaxTableBytes) return fail();
        if (staleLine) {  // the tail of an earlier reply
            staleLine = b != '\n';
            if (!staleLine) TakeOwedLine();
            continue;
        }
        if (b == '\r' || b == '\0') continue;
        reply.push_back(static_cast<char>(b));
        if (b == ';') lineHasSemicolon = true;
        if (b == '\n' && TakeOwedLine()) {  // a late answer to an earlier query
            reply.resize(lineStart);
            lineHasSemicolon = false;
            continue;
        }
        if (b == '\n') {
            lineStart = reply.size();
            // Earlier lines held no ";" (or the table would have ended), so this line decides.
            if (lineHasSemicolon) return lines;
            if (++lines > lineLimit) return fail();
            SetProgress(progress, lines, expected);
        }
    }
}

int CInstrumentLink::FetchGpib(int expected, const std::string& command, std::string& reply,
                               ProgressWindow& progress) {
    if (gpib_.Write(command) != 0) return kGpibFailure;
    auto fail = [&] {
        reply.clear();
        progress.Close();
        CommunicationError();
        return kGpibFailure;
    };
    const auto deadline = Clock::now() + TableDeadline(expected, kPortGpib, 0, tableFloor_);
    const int lineLimit = TableLineLimit(expected);
    reply.clear();
    int lines = 0;
    for (;;) {
        std::string piece;
        bool timedOut = false;
        if (gpib_.Read(piece, &timedOut) != 0) return fail();
        // A table ends only with its ";" piece: a time-out before it means lines were lost.
        if (timedOut) return fail();
        if (!piece.empty() && piece[0] == ';') return lines;
        reply.append(piece);
        reply.push_back('\n');
        ++lines;
        SetProgress(progress, lines, expected);
        if (reply.size() > kMaxTableBytes || lines > lineLimit || Clock::now() >= deadline) {
            gpib_.Clear();  // the rest of the table must not wait for the next query
            return fail();
        }
    }
}

int CInstrumentLink::FetchLan(int expected, const std::string& command, std::string& reply,
                              ProgressWindow& progress) {
    lan_.SetTableBounds(TableDeadline(expected, kPortLan, 0, tableFloor_),
                        TableLineLimit(expected));
    if (lan_.Get_Table(command.data(), static_cast<int>(command.size())) == 0) {
        CommunicationError();
        return kLanFailure;
    }
    while (lan_.Get_Table_In_Progress() == 0) {
    }
    int lines = 0;
    while (lines < expected) {
        if (lan_.Get_Received_Counter(&lines) == 0) return kLanFailure;
        if (!quietFetch_) op_.PumpMessages();
        SetProgress(progress, lines, expected);
        // A table shorter than announced ends here instead of waiting for lines never sent.
        if (lan_.Table_Complete()) break;
    }
    if (lan_.Table_Ready() == 0) return kLanFailure;
    // The table may have gone on past the lines announced: its count is the whole table's,
    // as over RS232, so that a caller's "too long" check sees it.
    lan_.Get_Received_Counter(&lines);
    reply.clear();
    if (lan_.Get_Received_Buffer(&reply) == 0) return kLanFailure;
    return lines;
}

}  // namespace tavrix
