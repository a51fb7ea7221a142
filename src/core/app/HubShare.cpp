#include "app/HubShare.h"

#include <cstdlib>
#include <ctime>
#include <fstream>

#include "logging/MonitorPoller.h"

namespace tavrix {

HubShare::HubShare(CInstrumentLink& link, SessionMutex& mutex, LogSink& log,
                   SettingsStore& settings, OperatorFrontEnd& op, const FeatureManager& features)
    : link_(link),
      mutex_(mutex),
      log_(log),
      settings_(settings),
      op_(op),
      features_(features),
      server_(link, mutex, log),
      registry_(&link),
      exporter_(registry_) {}

HubShare::~HubShare() {
    Stop();
}

void HubShare::StartUp() {
    Apply(ShareSettings::Load(settings_), false);
}

void HubShare::Configure() {
    ShareSettings preset = ShareSettings::Load(settings_);
    for (;;) {
        const DialogResult<ShareSettings> answer = op_.AskShareSettings(preset);
        if (!answer.Ok()) return;
        std::string error;
        if (!answer.value.Check(error)) {
            // Asked again with what the operator typed: nothing is lost to a typo.
            op_.ShowMessage("The instrument cannot be shared so: " + error + ".",
                            MessageIcon::Stop);
            preset = answer.value;
            continue;
        }
        if (!answer.value.Store(settings_))
            op_.ShowMessage(
                "The sharing settings could not be stored; they apply until the "
                "program ends.",
                MessageIcon::Exclamation);
        Apply(answer.value, true);
        return;
    }
}

void HubShare::Stop() {
    if (server_.Running()) server_.Stop();
    if (metricsRunning_) {
        exporter_.Stop();
        metricsRunning_ = false;
    }
}

void HubShare::Report(const std::string& text, bool interactive) {
    if (interactive)
        op_.ShowMessage(text, MessageIcon::Stop);
    else
        log_.Append(text + "\n");
}

void HubShare::Apply(const ShareSettings& s, bool interactive) {
    const bool shareChanged = s.listen != applied_.listen || s.allow != applied_.allow ||
                              s.readOnly != applied_.readOnly || s.audit != applied_.audit ||
                              s.maxClients != applied_.maxClients;
    // A share that runs as asked keeps its clients; any change starts it anew.
    if (server_.Running() && (!s.enabled || shareChanged)) server_.Stop();
    if (s.enabled && !server_.Running()) {
        ShareOptions options;
        std::string error;
        if (!s.ToOptions(options, error) || !server_.Start(options, error))
            Report("Cannot share the instrument: " + error, interactive);
    }

    const bool metricsWanted = s.metrics.find_first_not_of(" \t") != std::string::npos;
    if (metricsRunning_ && (!metricsWanted || s.metrics != applied_.metrics)) {
        exporter_.Stop();
        metricsRunning_ = false;
    }
    if (metricsWanted && !metricsRunning_) {
        uint32_t address = 0;
        int port = 0;
        std::string error;
        if (ParseMetricsAddress(s.metrics, address, port, error) &&
            exporter_.Start(address, port, error)) {
            metricsRunning_ = true;
            ReadIdentity();
            registry_.SetLinkUp(features_.AnyInstrument());
            log_.Append("Metrics: serving http://" + exporter_.Address() + "/metrics\n");
        } else {
            Report("Cannot serve the metrics: " + error, interactive);
        }
    }
    applied_ = s;
}

void HubShare::ReadIdentity() {
    if (!features_.AnyInstrument()) return;
    SessionLock lock(mutex_, 1000);
    std::string idn;
    if (lock && link_.TransactQuiet("*IDN?", &idn) == 0)
        SetIdentityFromReply(registry_, link_.ModelCode(), idn);
}

std::string HubShare::StatusText(bool running, const std::string& address, int clients) {
    if (!running) return "";
    return "Shared on " + address + ", " + std::to_string(clients) + " client(s)";
}

std::string HubShare::StatusText() const {
    return StatusText(server_.Running(), server_.Address(), server_.ClientCount());
}

void HubShare::LogRunStarted(LogSourceMask mask, const std::string& header, double interval) {
    {
        std::lock_guard lock(rowsMutex_);
        rowReadings_ = std::make_unique<LogRowReadings>(mask, header);
    }
    registry_.SetSampleInterval(interval);
    registry_.SetLinkUp(true);
    if (metricsRunning_) ReadIdentity();
}

void HubShare::LogRowWritten(const std::string& row, const DataLoggingEngine& engine) {
    {
        std::lock_guard lock(rowsMutex_);
        if (rowReadings_)
            rowReadings_->Apply(row, static_cast<double>(std::time(nullptr)), registry_);
    }
    PublishLogRun(registry_, engine);
}

void HubShare::LogLinkChanged(const DataLoggingEngine& engine) {
    PublishLogRun(registry_, engine);
}

void HubShare::MonitorReadingTaken(int index, const MonitorReading& r) {
    if (index < 0 || index >= static_cast<int>(kMonitorSources.size())) return;
    char* end = nullptr;
    const double v = std::strtod(r.value.c_str(), &end);
    if (end != r.value.c_str())
        registry_.SetReading(kMonitorSources[static_cast<size_t>(index)].cliName, r.name, r.unit, v,
                             static_cast<double>(std::time(nullptr)));
    registry_.SetLinkUp(true);
}

std::string HubShare::ReadLogHeader(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string header, line;
    while (std::getline(in, line) && line.rfind("Entry Number", 0) != 0) header += line + "\n";
    return header;
}

void HubShare::LinkUp(bool up) {
    registry_.SetLinkUp(up);
}

}  // namespace tavrix
