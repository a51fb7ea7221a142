#include "CliSession.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cstring>

#include "engine/SimEngine.h"
#include "engine/SimFrontEnds.h"

namespace tavrix::cli {

namespace {
const char* IconWord(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Stop:
            return "error";
        case MessageIcon::Exclamation:
            return "warning";
        default:
            return "note";
    }
}

constexpr int kBaudList[8] = {115200, 57600, 38400, 19200, 9600, 4800, 2400, 1200};
}  // namespace

void CliOperator::ShowMessage(const std::string& text, MessageIcon icon) {
    ++messagesShown;
    shownTexts.push_back(text);
    std::fprintf(stderr, "tavrix-cli: %s: %s\n", IconWord(icon), VisibleLines(text).c_str());
}

bool CliOperator::AskYesNo(const std::string& text, MessageIcon) {
    std::fprintf(stderr, "tavrix-cli: question answered \"no\" (no operator): %s\n",
                 VisibleLines(text).c_str());
    return false;
}

std::unique_ptr<ProgressWindow> CliOperator::OpenProgress() {
    return std::make_unique<SilentProgress>();
}

DialogResult<SerialSetupChoice> CliOperator::AskSerialSetup(const SerialSetupChoice&) {
    return DialogResult<SerialSetupChoice>::Cancelled();
}

DialogResult<int> CliOperator::AskPortType(int) {
    return DialogResult<int>::Cancelled();
}

DialogResult<int> CliOperator::AskGpibAddress(int current) {
    return DialogResult<int>::Accept(gpibAnswer.value_or(current));
}

DialogResult<IpAddressChoice> CliOperator::AskIpAddress(const IpAddressChoice& preset) {
    return DialogResult<IpAddressChoice>::Accept(ipAnswer.value_or(preset));
}

DialogResult<std::string> CliOperator::AskOpenFile(const FileDialogRequest&) {
    if (!curve.openFile) return DialogResult<std::string>::Cancelled();
    return DialogResult<std::string>::Accept(*curve.openFile);
}

DialogResult<std::string> CliOperator::AskSaveFile(const FileDialogRequest&) {
    if (!curve.saveFile) {
        std::fprintf(stderr, "tavrix-cli: no output file given: save dialog cancelled\n");
        return DialogResult<std::string>::Cancelled();
    }
    return DialogResult<std::string>::Accept(*curve.saveFile);
}

DialogResult<CurveHeaderEdit> CliOperator::EditCurveHeader(const CurveHeaderEdit& header) {
    CurveHeaderEdit h = header;
    if (curve.name) h.name = *curve.name;
    if (curve.type) h.type = *curve.type;
    if (curve.multiplier) h.multiplier = *curve.multiplier;
    if (curve.unitIndex) h.unitIndex = *curve.unitIndex;
    h.saveAsCrv = header.saveAsCrv || curve.saveAsCrv;
    if (h.saveAsCrv && !h.SaveBoxEnabled())
        std::fprintf(stderr, "tavrix-cli: note: a .crv source is not saved again as .crv\n");
    return DialogResult<CurveHeaderEdit>::Accept(h);
}

DialogResult<UserCurveChoice> CliOperator::ChooseUserCurve(const UserCurveChoice& choice) {
    for (size_t i = 0; i < choice.names.size(); ++i)
        std::fprintf(stderr, "tavrix-cli: user curve %zu: %s\n", i + 1,
                     VisibleText(choice.names[i]).c_str());
    if (!curve.userCurve) return DialogResult<UserCurveChoice>::Cancelled();
    UserCurveChoice c = choice;
    c.Select(*curve.userCurve - 1);
    return DialogResult<UserCurveChoice>::Accept(c);
}

DialogResult<int> CliOperator::AskPidTableNumber(int preset) {
    return curve.pidTable ? DialogResult<int>::Accept(*curve.pidTable)
                          : DialogResult<int>::Cancelled();
}

// Only the calgen command can answer these; anywhere else there is no dialog to show.
DialogResult<OnePointValues> CliOperator::AskOnePoint(const OnePointValues&) {
    return DialogResult<OnePointValues>::Failed();
}

DialogResult<TwoPointsValues> CliOperator::AskTwoPoints(const TwoPointsValues&) {
    return DialogResult<TwoPointsValues>::Failed();
}

DialogResult<ThreePointsValues> CliOperator::AskThreePoints(const ThreePointsValues&) {
    return DialogResult<ThreePointsValues>::Failed();
}

DialogResult<DataLogSetupModel> CliOperator::AskLogSetup(const DataLogSetupModel& preset) {
    return {DialogOutcome::CouldNotCreate, preset};
}

DialogResult<std::string> CliOperator::AskCalibrationPassword() {
    return DialogResult<std::string>::Failed();
}

DialogResult<ShareSettings> CliOperator::AskShareSettings(const ShareSettings& preset) {
    return {DialogOutcome::CouldNotCreate, preset};
}

DialogResult<NewPasswordEntry> CliOperator::AskNewCalibrationPassword() {
    return DialogResult<NewPasswordEntry>::Failed();
}

DialogOutcome CliOperator::RunCalibrationDialog(CalibSession&) {
    return DialogOutcome::CouldNotCreate;
}

bool ParseHostPort(const std::string& text, IpAddressChoice& out, std::string& error) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size()) {
        error = "expected HOST:PORT, got \"" + text + "\"";
        return false;
    }
    const std::string host = text.substr(0, colon);
    char* end = nullptr;
    const long port = std::strtol(text.c_str() + colon + 1, &end, 10);
    if (*end != '\0' || port < 1 || port > 65535) {
        error = "bad TCP port in \"" + text + "\"";
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) {
        error = "cannot resolve host \"" + host + "\"";
        return false;
    }
    const auto* sin = reinterpret_cast<const sockaddr_in*>(res->ai_addr);
    out.address = ntohl(sin->sin_addr.s_addr);
    out.port = static_cast<unsigned long>(port);
    freeaddrinfo(res);
    return true;
}

CliSession::CliSession() = default;

CliSession::~CliSession() {
    // The link says goodbye to the instrument before the simulator goes away.
    context.reset();
    link.reset();
    simPty_.reset();
    simTcp_.reset();
    simEngine_.reset();
}

bool CliSession::Open(const TransportOptions& o, bool connectLan) {
    const bool explicitTransport =
        o.simModel || !o.serialDevice.empty() || o.gpibAddress || !o.lan.empty();
    if (explicitTransport) settings.DisableWrites();
    // A simulated instrument never reads the operator's settings either.
    if (o.simModel) settings.UseFolder(SettingsStore::SimulatorFolder());
    link = std::make_unique<CInstrumentLink>(op, settings);
    link->StartUp();
    if (o.gpibEoi) link->SetGpibEndOnEoi(true);
    context =
        std::make_unique<CurveContext>(CurveContext{{*link, mutex, features, bar, op, log}, op});

    if (o.baud) {
        int index = -1;
        for (int i = 0; i < 8; ++i)
            if (kBaudList[i] == *o.baud) index = i;
        if (index < 0) {
            std::fprintf(stderr,
                         "tavrix-cli: unsupported baud rate %d (use 115200, 57600, 38400, "
                         "19200, 9600, 4800, 2400 or 1200)\n",
                         *o.baud);
            return false;
        }
        link->SetSerialIndices(link->CommPortIndex(), static_cast<uint16_t>(index));
    }

    if (o.simModel) {
        sim::SimOptions so;
        so.modelCode = *o.simModel;
        simEngine_ = std::make_unique<sim::SimEngine>(so);
        if (o.simTransport == "lan") {
            // This run is the simulator's client: its connection may idle as long as the run
            // waits between samples.
            sim::TcpServiceLimits limits;
            limits.idleSeconds = 0;
            simTcp_ = std::make_unique<sim::TcpFrontEnd>(*simEngine_, 0, false, limits);
            if (!simTcp_->Ok()) {
                std::fprintf(stderr, "tavrix-cli: simulator: %s\n", simTcp_->Error().c_str());
                return false;
            }
            link->SetPortType(kPortLan);
            ReleaseSerialPort();
            // The in-process simulator reports refused lines.
            simTcp_->SetLineAcknowledgement(true);
            link->Lan().SetLineAcknowledgement(true);
            op.ipAnswer = IpAddressChoice{0x7F000001u, static_cast<unsigned long>(simTcp_->Port())};
        } else {
            simPty_ = std::make_unique<sim::PtyFrontEnd>(*simEngine_);
            if (!simPty_->Ok()) {
                std::fprintf(stderr, "tavrix-cli: simulator: %s\n", simPty_->Error().c_str());
                return false;
            }
            link->SetSerialDeviceOverride(simPty_->SlavePath());
            link->SetPortType(kPortRs232);
            link->RecreateSerialPort();
        }
    } else if (!o.serialDevice.empty()) {
        link->SetSerialDeviceOverride(o.serialDevice);
        link->SetPortType(kPortRs232);
        link->RecreateSerialPort();
        if (!link->SerialPort() || !link->SerialPort()->IsOpen()) {
            const std::string why = link->SerialPort() ? link->SerialPort()->OpenError() : "";
            if (link->SerialPort() && !link->SerialPort()->BusyText().empty())
                std::fprintf(stderr, "tavrix-cli: %s\n", why.c_str());
            else
                std::fprintf(stderr, "tavrix-cli: cannot open serial device %s: %s\n",
                             o.serialDevice.c_str(), why.c_str());
            return false;
        }
    } else if (o.gpibAddress) {
        if (*o.gpibAddress < 0 || *o.gpibAddress > 31) {
            std::fprintf(stderr, "tavrix-cli: GPIB address must be 0..31\n");
            return false;
        }
        link->SetPortType(kPortGpib);
        ReleaseSerialPort();
        link->SetGpibAddress(*o.gpibAddress);
        op.gpibAnswer = *o.gpibAddress;
    } else if (!o.lan.empty()) {
        IpAddressChoice ip;
        std::string error;
        if (!ParseHostPort(o.lan, ip, error)) {
            std::fprintf(stderr, "tavrix-cli: --lan: %s\n", error.c_str());
            return false;
        }
        link->SetPortType(kPortLan);
        ReleaseSerialPort();
        link->Lan().SetLineAcknowledgement(o.lanAck);
        op.ipAnswer = ip;
    } else if (o.baud) {
        link->RecreateSerialPort();
    }

    if (link->GetPortType() == kPortLan) {
        // Without --lan the stored address is the answer to the address dialog.
        if (!op.ipAnswer)
            op.ipAnswer = IpAddressChoice{link->IpAddr().Address(), link->IpAddr().Port()};
        if (connectLan) {
            link->IpAddr() = MyIPAddr(op.ipAnswer->address, op.ipAnswer->port);
            if (link->LanConnect() == 0) return false;
        }
    }
    // Another process owns the serial device: this run sends nothing and says who has it.
    if (link->GetPortType() == kPortRs232 && link->SerialPort() &&
        !link->SerialPort()->BusyText().empty()) {
        std::fprintf(stderr, "tavrix-cli: %s\n", link->SerialPort()->BusyText().c_str());
        return false;
    }
    bar.ShowTransport(link->GetPortType());
    return true;
}

void CliSession::ReleaseSerialPort() {
    // A run over GPIB or LAN leaves the stored serial device to whoever needs it.
    if (link && link->SerialPort()) link->SerialPort()->Close();
}

}  // namespace tavrix::cli
