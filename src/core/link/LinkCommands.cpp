#include "link/LinkCommands.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "base/Texts.h"
#include "link/InterruptedTransfer.h"

namespace tavrix {

namespace {
void WriteFailed(OperatorInterface& op) {
    op.ShowMessage(texts::kUnableToWriteIni, MessageIcon::Stop);
}

// No device: the capability record says so too, so that the menu, the bar's buttons and its
// "No Device" agree whichever transport failed.
void FailureEnding(LinkContext& ctx) {
    ctx.features.Reset();
    ctx.bar.ShowModelAndVersion(texts::kNoDevice, " ");
    ctx.bar.SetStatus(kStateError);
}
}  // namespace

bool ParseIdn(const std::string& reply, IdnFields& out) {
    const size_t model = reply.find("Model");
    if (model == std::string::npos) return false;
    const size_t comma = reply.find(',', model);
    if (comma == std::string::npos) return false;
    out.model = reply.substr(0, comma);
    out.version = reply.substr(reply.rfind(',') + 1);
    return true;
}

int QueryModelCode(CInstrumentLink& link) {
    std::string reply;
    if (link.TransactQuiet("SYST:IDEF?", &reply) != 0) return 0;
    int code = 0, last = 0;
    unsigned long serial = 0;
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (std::sscanf(reply.c_str(), "%d,%lu,%u,%u,%u,%u,%d", &code, &serial, &a, &b, &c, &d,
                    &last) != 7)
        return 0;
    if (code < 27 || code > 33) return 0;
    link.SetModelCode(code);
    return 1;
}

void ReportCommunicationFailure(CInstrumentLink& link, OperatorInterface& op, LogSink& log) {
    op.ShowMessage(texts::kCommunicationError, MessageIcon::Stop);
    if (link.GetPortType() != kPortRs232) return;
    for (const char* line : texts::kRs232CheckList) log.Append(line);
}

bool GpibAddressEntry(LinkContext& ctx) {
    auto r = ctx.op.AskGpibAddress(ctx.link.GpibAddress());
    if (!r.Ok()) return false;
    if (!ctx.link.SetGpibAddress(r.value)) WriteFailed(ctx.op);
    return true;
}

int IpAddressEntry(LinkContext& ctx) {
    MyIPAddr& ip = ctx.link.IpAddr();
    auto r = ctx.op.AskIpAddress({ip.Address(), ip.Port()});
    if (!r.Ok()) return 0;
    ip = MyIPAddr(r.value.address, r.value.port);
    SettingsStore& s = ctx.link.Settings();
    for (int i = 0; i < 4; ++i)
        if (!s.WriteInt(settings::kCommunicationSetup, settings::kIpAddr[i], ip.Octet(i)))
            WriteFailed(ctx.op);
    if (!s.WriteInt(settings::kCommunicationSetup, settings::kIpPort, static_cast<int>(ip.Port())))
        WriteFailed(ctx.op);
    return 1;
}

void ConnectAndIdentify(LinkContext& ctx) {
    if (ctx.communicationBusy()) {
        ctx.op.ShowMessage(texts::kTerminateBeforeReconnecting, MessageIcon::Exclamation);
        return;
    }
    switch (ctx.link.GetPortType()) {
        case kPortGpib:
            if (!GpibAddressEntry(ctx)) return FailureEnding(ctx);
            break;
        case kPortLan: {
            if (IpAddressEntry(ctx) == 0) return FailureEnding(ctx);
            const int result = ctx.link.LanConnect();
            if (result == 0) return FailureEnding(ctx);
            if (result != 1) {
                ctx.bar.SetStatus(kStateConnected);
                return;
            }
            break;
        }
        default:
            break;
    }

    bool identified = false;
    std::string interrupted;
    {
        SessionLock lock(ctx.sessionMutex, 0);
        if (!lock) return FailureEnding(ctx);
        if (ctx.link.GetPortType() == kPortRs232) {
            // The port may have been in use when it was opened; its holder may be gone now.
            const CCommPort* port = ctx.link.SerialPort();
            if (!port || !port->IsOpen()) {
                ctx.link.RecreateSerialPort();
                port = ctx.link.SerialPort();
            }
            // Another process owns the device: nothing is sent, and the operator is told who.
            if (port && !port->BusyText().empty()) {
                ctx.op.ShowMessage(port->BusyText(), MessageIcon::Stop);
                ctx.features.Reset();
                return FailureEnding(ctx);
            }
        }
        std::string reply;
        const std::string idn = "*IDN?";
        // An instrument left in the middle of a table by an interrupted download takes every
        // line as table data and answers nothing. When the first, quiet, try gets no answer,
        // that table is ended once with ";" (to an instrument that is not taking a table it is
        // an empty command) before identification is tried in full.
        const auto probed = std::chrono::steady_clock::now();
        int status = ctx.link.TransactQuiet(idn, &reply);
        const bool endedTable = status != 0;
        if (endedTable) {
            ctx.link.TransactQuiet(";", nullptr);
            // On RS232 a line within two attempts' time of an unanswered query is taken for
            // its late answer: let that time pass (an instrument that took the query as table
            // data never answers it), which also gives the instrument a moment to store the
            // table it ended.
            if (ctx.link.GetPortType() == kPortRs232 && ctx.link.SerialPort())
                std::this_thread::sleep_until(
                    probed +
                    2 * CInstrumentLink::Rs232AttemptBound(ctx.link.SerialPort()->BaudRate()) +
                    std::chrono::milliseconds(200));
            status = ctx.link.Transact(&idn, &reply, 0);
        }
        if (status != 0) {
            ReportCommunicationFailure(ctx.link, ctx.op, ctx.log);
        } else {
            IdnFields fields;
            if (ParseIdn(reply, fields)) {
                ctx.bar.ShowModelAndVersion(fields.model, fields.version);
                identified = true;
            }
        }
        QueryModelCode(ctx.link);
        ctx.features.Update(ctx.link.ModelCode());
        // The instrument answers: no table is open on it any more. What an interrupted
        // transfer left behind is told once.
        if (status == 0) {
            OpenTableRecord record(ctx.link);
            interrupted = InterruptedTransferMessage(endedTable, record.Pending());
            record.End();
        }
    }
    if (identified)
        ctx.bar.SetStatus(kStateConnected);
    else
        FailureEnding(ctx);
    if (!interrupted.empty()) {
        ctx.op.ShowMessage(interrupted, MessageIcon::Exclamation);
        ctx.log.Append(interrupted + "\n");
    }
}

void ApplyPortChange(LinkContext& ctx, int newType) {
    CInstrumentLink& link = ctx.link;
    const int oldType = link.GetPortType();
    // Another thread's exchange must not see its transport closed under it.
    SessionLock lock(ctx.sessionMutex, 1000);
    if (oldType == kPortGpib && link.Gpib().IsOpen()) {
        link.Gpib().Offline();
        if (newType == kPortGpib) ctx.sleep(std::chrono::seconds(2));
    } else if (oldType == kPortLan && newType != kPortLan) {
        link.Lan().Disconnect();
    } else if (oldType == kPortRs232 && newType != kPortRs232 && link.SerialPort()) {
        link.SerialPort()->Close();  // the device is free for other programs meanwhile
    }
    link.SetPortType(newType);
    ctx.bar.SetStatus(kStateNotConnected);
    ctx.features.Reset();
    ctx.bar.ShowTransport(newType);
    switch (newType) {
        case kPortRs232:
            ctx.log.Append(texts::kChangedToRs232);
            break;
        case kPortGpib:
            ctx.log.Append(texts::kChangedToGpib);
            break;
        case kPortLan:
            ctx.log.Append(texts::kChangedToLan);
            break;
        default:
            break;
    }
}

void SelectPort(LinkContext& ctx) {
    if (ctx.communicationBusy()) {
        ctx.op.ShowMessage(texts::kTerminateBeforeSwitching, MessageIcon::Exclamation);
        return;
    }
    auto r = ctx.op.AskPortType(ctx.link.GetPortType());
    if (r.outcome == DialogOutcome::CouldNotCreate) {
        ctx.op.ShowMessage(texts::kCouldNotCreateDialog, MessageIcon::Stop);
        return;
    }
    if (!r.Ok()) return;
    if (!ctx.link.Settings().WriteInt(settings::kCommunicationSetup, settings::kPortType, r.value))
        WriteFailed(ctx.op);
    ApplyPortChange(ctx, r.value);
}

void SerialSetup(LinkContext& ctx) {
    SettingsStore& s = ctx.link.Settings();
    SerialSetupChoice preset;
    preset.baudIndex =
        s.GetInt(settings::kCommunicationSetup, settings::kBaudRate, settings::kDefaultBaudRate);
    preset.commPortIndex =
        s.GetInt(settings::kCommunicationSetup, settings::kCommPort, settings::kDefaultCommPort);
    // A hand-edited store may hold indices no list entry stands for.
    if (preset.baudIndex < 0 || preset.baudIndex > 7) preset.baudIndex = settings::kDefaultBaudRate;
    if (preset.commPortIndex < 0 || preset.commPortIndex > 3)
        preset.commPortIndex = settings::kDefaultCommPort;
    auto r = ctx.op.AskSerialSetup(preset);
    if (r.outcome == DialogOutcome::CouldNotCreate) {
        ctx.op.ShowMessage(texts::kCouldNotCreateDialog, MessageIcon::Stop);
        return;
    }
    if (!r.Ok() || r.value.baudIndex < 0 || r.value.baudIndex > 7 || r.value.commPortIndex < 0 ||
        r.value.commPortIndex > 3)
        return;
    // A typed device must be an absolute path that the settings file can hold on one line.
    const std::string& dev = r.value.device;
    if (!dev.empty() && (dev[0] != '/' || std::any_of(dev.begin(), dev.end(), [](char c) {
                             return static_cast<unsigned char>(c) < 0x20;
                         })))
        return;
    // The port is about to be replaced: no other thread may be in an exchange on it.
    SessionLock lock(ctx.sessionMutex, 1000);
    if (!lock) {
        ctx.op.ShowMessage(texts::kTerminateBeforeSwitching, MessageIcon::Exclamation);
        return;
    }
    ctx.link.SetSerialIndices(static_cast<uint16_t>(r.value.commPortIndex),
                              static_cast<uint16_t>(r.value.baudIndex));
    if (!s.WriteInt(settings::kCommunicationSetup, settings::kBaudRate, r.value.baudIndex) ||
        !s.WriteInt(settings::kCommunicationSetup, settings::kCommPort, r.value.commPortIndex)) {
        WriteFailed(ctx.op);
        return;
    }
    // Stored as a plain path under the COM entry's key, so older versions read it as before.
    const std::string comKey = "COM" + std::to_string(r.value.commPortIndex + 1);
    if (!r.value.device.empty() &&
        r.value.device != s.GetString(settings::kSerialDevices, comKey,
                                      settings::kDefaultSerialDevice[r.value.commPortIndex]) &&
        !s.WriteString(settings::kSerialDevices, comKey, r.value.device)) {
        WriteFailed(ctx.op);
        return;
    }
    ctx.link.RecreateSerialPort();
}

}  // namespace tavrix
