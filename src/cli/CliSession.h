#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/OperatorFrontEnd.h"
#include "base/SettingsStore.h"
#include "base/ShortcutBar.h"
#include "base/SyncPrimitives.h"
#include "base/VisibleText.h"
#include "curves/CurveCommands.h"
#include "link/CInstrumentLink.h"
#include "link/FeatureManager.h"
#include "link/LinkCommands.h"

namespace tavrix::sim {
class SimEngine;
class PtyFrontEnd;
class TcpFrontEnd;
}  // namespace tavrix::sim

namespace tavrix::cli {

// Transport choices from the command line; unset fields leave the stored settings in charge.
struct TransportOptions {
    std::optional<int> simModel;  // --sim[=CODE]
    std::string simTransport = "serial";
    std::string serialDevice;  // --serial
    std::optional<int> baud;   // --baud (bits per second)
    std::optional<int> gpibAddress;
    bool gpibEoi = false;  // --gpib-eoi: a reply piece with END ends the reply
    std::string lan;       // HOST:PORT
    bool lanAck = false;   // --lan-ack: the peer acknowledges every command line
};

// Answers of the curve dialogs given on the command line; unset ones leave the dialog's value.
struct CurveDialogAnswers {
    std::optional<std::string> openFile, saveFile;
    std::optional<std::string> name, type;
    std::optional<float> multiplier;
    std::optional<int> unitIndex;  // 0..3: Volts, mVolts, Ohms, LogOhms
    bool saveAsCrv = false;        // the header editor's box (ticked for a conversion)
    std::optional<int> userCurve;  // 1..8
    std::optional<int> pidTable;
};

// The command line's operator: dialog answers come from the options, messages go to stderr.
class CliOperator : public OperatorFrontEnd {
public:
    void ShowMessage(const std::string& text, MessageIcon icon) override;
    bool AskYesNo(const std::string& text, MessageIcon icon) override;
    std::unique_ptr<ProgressWindow> OpenProgress() override;
    void PumpMessages() override {}
    DialogResult<SerialSetupChoice> AskSerialSetup(const SerialSetupChoice& preset) override;
    DialogResult<int> AskPortType(int current) override;
    DialogResult<int> AskGpibAddress(int current) override;
    DialogResult<IpAddressChoice> AskIpAddress(const IpAddressChoice& preset) override;
    DialogResult<std::string> AskOpenFile(const FileDialogRequest& request) override;
    DialogResult<std::string> AskSaveFile(const FileDialogRequest& request) override;
    DialogResult<CurveHeaderEdit> EditCurveHeader(const CurveHeaderEdit& header) override;
    DialogResult<UserCurveChoice> ChooseUserCurve(const UserCurveChoice& choice) override;
    DialogResult<int> AskPidTableNumber(int preset) override;
    // The reference-point dialogs have no options here (the calgen command answers them itself).
    DialogResult<OnePointValues> AskOnePoint(const OnePointValues& preset) override;
    DialogResult<TwoPointsValues> AskTwoPoints(const TwoPointsValues& preset) override;
    DialogResult<ThreePointsValues> AskThreePoints(const ThreePointsValues& preset) override;
    // The logging and calibration commands take their answers from the options and run what
    // follows the dialogs; these dialogs are not shown here.
    DialogResult<DataLogSetupModel> AskLogSetup(const DataLogSetupModel& preset) override;
    DialogResult<std::string> AskCalibrationPassword() override;
    DialogResult<NewPasswordEntry> AskNewCalibrationPassword() override;
    DialogOutcome RunCalibrationDialog(CalibSession& session) override;
    // Sharing takes its settings from serve's and --share's options.
    DialogResult<ShareSettings> AskShareSettings(const ShareSettings& preset) override;

    CurveDialogAnswers curve;
    std::vector<std::string> shownTexts;  // every message box text, in order
    std::optional<int> gpibAnswer;
    std::optional<IpAddressChoice> ipAnswer;
    int messagesShown = 0;
};

// The message log on standard output. Replies and file texts in it never reach the terminal
// as control sequences; a line that cannot be written (a closed pipe) is dropped.
class StdoutLog : public LogSink {
public:
    void Append(const std::string& text) override {
        const std::string shown = VisibleLines(text);
        std::fwrite(shown.data(), 1, shown.size(), stdout);
        std::fflush(stdout);
    }
};

// Everything one command-line run works with: settings, link, lock, capability record.
class CliSession {
public:
    CliSession();
    ~CliSession();
    // Applies the transport options; false (after printing why) when they cannot be used.
    // connectLan: make the LAN connection now (identification makes its own).
    bool Open(const TransportOptions& options, bool connectLan);

    SettingsStore settings;
    CliOperator op;
    StdoutLog log;
    SessionMutex mutex;
    ShortcutBarModel bar;
    FeatureManager features{&bar};
    std::unique_ptr<CInstrumentLink> link;
    std::unique_ptr<CurveContext> context;

private:
    void ReleaseSerialPort();

    std::unique_ptr<sim::SimEngine> simEngine_;
    std::unique_ptr<sim::PtyFrontEnd> simPty_;
    std::unique_ptr<sim::TcpFrontEnd> simTcp_;
};

// "HOST:PORT" with a dotted address or a host name; false when it cannot be resolved.
bool ParseHostPort(const std::string& text, IpAddressChoice& out, std::string& error);

}  // namespace tavrix::cli
