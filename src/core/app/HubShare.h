#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "app/OperatorFrontEnd.h"
#include "base/LogSink.h"
#include "base/SettingsStore.h"
#include "base/SyncPrimitives.h"
#include "charts/MonitorReading.h"
#include "link/CInstrumentLink.h"
#include "link/FeatureManager.h"
#include "logging/DataLoggingEngine.h"
#include "logging/LogSources.h"
#include "serve/Metrics.h"
#include "serve/MetricsExporter.h"
#include "serve/ShareServer.h"
#include "serve/ShareSettings.h"

namespace tavrix {

// The desktop's sharing port and metrics endpoint, alive for the whole run: started from the
// "Share Instrument..." dialog or, with [Share] Enabled=1 (Metrics set), when the program
// starts; stopped before the link goes. The share's own lines (clients that connect or leave,
// refused lines) go to the view's log. The metrics are fed by what logging and the monitors
// read: a scrape never reaches the instrument.
class HubShare {
public:
    HubShare(CInstrumentLink& link, SessionMutex& mutex, LogSink& log, SettingsStore& settings,
             OperatorFrontEnd& op, const FeatureManager& features);
    ~HubShare();
    HubShare(const HubShare&) = delete;
    HubShare& operator=(const HubShare&) = delete;

    // Program start: the stored settings are applied; what cannot start is a line in the log
    // (nobody may be at the screen).
    void StartUp();
    // The "Share Instrument..." command: asks the settings until they can be used or the
    // operator cancels, stores them, applies them.
    void Configure();
    // Program end: the share and the metrics endpoint stop (clients are disconnected).
    void Stop();

    bool Sharing() const { return server_.Running(); }
    bool ServingMetrics() const { return metricsRunning_; }
    ShareServer& Server() { return server_; }
    MetricsRegistry& Metrics() { return registry_; }
    MetricsExporter& Exporter() { return exporter_; }
    // "Shared on ADDR:PORT, N client(s)" while the share runs, "" otherwise.
    std::string StatusText() const;
    static std::string StatusText(bool running, const std::string& address, int clients);

    // What logging and the monitors read (any thread).
    // A logging run began: its sources and the file's header name the row's columns.
    void LogRunStarted(LogSourceMask mask, const std::string& header, double interval);
    // A row was written: its values become readings, the run's counters are served.
    void LogRowWritten(const std::string& row, const DataLoggingEngine& engine);
    // A run that rides through lost or regained the link: its state and counters are served.
    void LogLinkChanged(const DataLoggingEngine& engine);
    void MonitorReadingTaken(int index, const MonitorReading& r);
    void LinkUp(bool up);
    // The lines of a data log before its "Entry Number" line ("" when it cannot be read).
    static std::string ReadLogHeader(const std::string& path);

private:
    // Applies `s` against what runs now; `interactive` reports failures in a message box.
    void Apply(const ShareSettings& s, bool interactive);
    void Report(const std::string& text, bool interactive);
    void ReadIdentity();

    CInstrumentLink& link_;
    SessionMutex& mutex_;
    LogSink& log_;
    SettingsStore& settings_;
    OperatorFrontEnd& op_;
    const FeatureManager& features_;
    ShareServer server_;
    MetricsRegistry registry_;
    MetricsExporter exporter_;
    bool metricsRunning_ = false;
    ShareSettings applied_;  // what the share and the endpoint run with
    std::mutex rowsMutex_;
    std::unique_ptr<LogRowReadings> rowReadings_;  // under rowsMutex_
};

}  // namespace tavrix
