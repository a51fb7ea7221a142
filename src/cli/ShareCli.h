#pragma once

#include <memory>
#include <string>
#include <vector>

#include "CliSession.h"
#include "serve/MetricsExporter.h"
#include "serve/ShareServer.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace tavrix::cli {

// The sharing port's options, on `serve` and on `log` and `monitor` (--share).
struct ShareCliOptions {
    std::string listen;  // [ADDR:]PORT
    std::vector<std::string> allow;
    bool readOnly = false;
    bool acknowledge = false;
    std::string audit;
    int maxClients = 8;
    int idleSeconds = 1800;
    std::string metrics;  // [ADDR:]PORT of the Prometheus endpoint
    CLI::App* serve = nullptr;
};

// The metrics endpoint of a run: what it read, served on /metrics.
struct CliMetrics {
    explicit CliMetrics(CInstrumentLink& link) : registry(&link), exporter(registry) {}
    MetricsRegistry registry;
    MetricsExporter exporter;
};

// Adds --allow, --read-only, --ack, --audit, --max-clients and --idle-timeout to `command`, and
// the listening option under `listenName` ("--listen" on serve, "--share" elsewhere).
void AddShareOptions(CLI::App& command, ShareCliOptions& o, const std::string& listenName,
                     bool listenRequired);
void AddServeCommand(CLI::App& app, ShareCliOptions& o);
// Starts the share when one was asked for; false after saying why it could not start.
bool StartShare(const ShareCliOptions& o, CliSession& s, std::unique_ptr<ShareServer>& server);
int RunServe(const ShareCliOptions& o, CliSession& s);
// Starts the metrics endpoint when --metrics was given (after identification: the instrument's
// identity is read once here); false after saying why it could not start.
bool StartMetrics(const ShareCliOptions& o, CliSession& s, std::unique_ptr<CliMetrics>& out);

// The owner's log lines of a share, on stderr (standard output carries rows and readings).
class StderrLog : public LogSink {
public:
    void Append(const std::string& text) override;
};

}  // namespace tavrix::cli
