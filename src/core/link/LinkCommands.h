#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "base/OperatorInterface.h"
#include "base/ShortcutBar.h"
#include "base/SyncPrimitives.h"
#include "link/CInstrumentLink.h"
#include "link/FeatureManager.h"
#include "link/LinkDialogs.h"

namespace tavrix {

// What the link's operator commands work on: the view's objects, passed by reference.
struct LinkContext {
    CInstrumentLink& link;
    SessionMutex& sessionMutex;
    FeatureManager& features;
    ShortcutBar& bar;
    LinkDialogs& op;
    LogSink& log;
    // True while a monitor window is open or data logging runs.
    std::function<bool()> communicationBusy = [] { return false; };
    // The pause after re-selecting GPIB; tests replace it.
    std::function<void(std::chrono::milliseconds)> sleep = [](std::chrono::milliseconds d) {
        std::this_thread::sleep_for(d);
    };
};

// Result of "*IDN?" parsing: the model text and the version text.
struct IdnFields {
    std::string model;
    std::string version;
};
// false when the reply has no "Model" followed by a comma.
bool ParseIdn(const std::string& reply, IdnFields& out);

// "SYST:IDEF?": 1 when a valid model code (27..33) was read and stored in the link, else 0.
int QueryModelCode(CInstrumentLink& link);

// "Communication Error", then the RS232 check-list while the port type is RS232.
void ReportCommunicationFailure(CInstrumentLink& link, OperatorInterface& op, LogSink& log);

// Connect and identify; the outcome shows on the shortcut bar and in FeatureManager.
void ConnectAndIdentify(LinkContext& ctx);

// The "&Port Select..." command.
void SelectPort(LinkContext& ctx);
// Switches the transport as port selection does after its dialog (no dialog, no busy check).
void ApplyPortChange(LinkContext& ctx, int newType);

// The "&RS232 Set Up..." command.
void SerialSetup(LinkContext& ctx);

// The GPIB address dialog: true on OK (the address is stored and written).
bool GpibAddressEntry(LinkContext& ctx);
// The IP address dialog: 1 on OK (address and port stored and written), 0 on cancel.
int IpAddressEntry(LinkContext& ctx);

}  // namespace tavrix
