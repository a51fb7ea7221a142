#include "ShareCli.h"

#include <CLI/CLI.hpp>

#include <signal.h>

#include <cstdio>

#include "link/LinkCommands.h"
#include "serve/ShareSettings.h"

namespace tavrix::cli {

namespace {

int Fail(const std::string& what) {
    std::fprintf(stderr, "tavrix-cli: %s\n", what.c_str());
    return 1;
}

}  // namespace

void StderrLog::Append(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

void AddShareOptions(CLI::App& command, ShareCliOptions& o, const std::string& listenName,
                     bool listenRequired) {
    auto* listen = command.add_option(
        listenName, o.listen,
        "Share the instrument: listen on [ADDR:]PORT (127.0.0.1 unless an address is given; "
        "port 0 takes a free one) and relay clients' lines to it");
    if (listenRequired) listen->required();
    command.add_option("--allow", o.allow,
                       "A client network allowed to connect, e.g. 192.168.1.0/24 (repeatable; "
                       "needed when listening beyond loopback)");
    command.add_flag("--read-only", o.readOnly, "Relay only lines whose every command is a query");
    command.add_flag("--ack", o.acknowledge,
                     "Answer every relayed command line with an acknowledgement line (for "
                     "clients using --lan-ack)");
    command.add_option("--audit", o.audit,
                       "Append every relayed or refused client line, with time and client "
                       "address, to this file");
    command.add_option("--max-clients", o.maxClients, "Clients served at once (default 8)")
        ->check(CLI::Range(1, 64));
    command.add_option("--idle-timeout", o.idleSeconds,
                       "Seconds after which a silent client is disconnected (default 1800)")
        ->check(CLI::Range(1, 604800));
    command.add_option("--metrics", o.metrics,
                       "Serve Prometheus metrics of what this run reads on "
                       "http://[ADDR:]PORT/metrics (127.0.0.1 unless an address is given)");
}

void AddServeCommand(CLI::App& app, ShareCliOptions& o) {
    o.serve = app.add_subcommand(
        "serve",
        "Hold the link and share the instrument with other programs over TCP until SIGINT or "
        "SIGTERM");
    o.listen = "127.0.0.1:5025";
    AddShareOptions(*o.serve, o, "--listen", false);
}

bool StartShare(const ShareCliOptions& o, CliSession& s, std::unique_ptr<ShareServer>& server) {
    if (o.listen.empty()) return true;
    ShareSettings settings;
    settings.listen = o.listen;
    for (const std::string& net : o.allow) settings.allow += (settings.allow.empty() ? "" : ",") + net;
    settings.readOnly = o.readOnly;
    settings.audit = o.audit;
    settings.maxClients = o.maxClients;
    ShareOptions opt;
    std::string error;
    if (!settings.ToOptions(opt, error)) {
        Fail("cannot share the instrument: " + error);
        return false;
    }
    opt.acknowledge = o.acknowledge;
    opt.idleTimeout = std::chrono::seconds(o.idleSeconds);
    static StderrLog shareLog;
    server = std::make_unique<ShareServer>(*s.link, s.mutex, shareLog);
    if (!server->Start(opt, error)) {
        Fail("cannot share the instrument: " + error);
        return false;
    }
    return true;
}

bool StartMetrics(const ShareCliOptions& o, CliSession& s, std::unique_ptr<CliMetrics>& out) {
    if (o.metrics.empty()) return true;
    uint32_t address = 0;
    int port = 0;
    std::string error;
    if (!ParseMetricsAddress(o.metrics, address, port, error)) {
        Fail("--metrics: " + error);
        return false;
    }
    out = std::make_unique<CliMetrics>(*s.link);
    {
        // The identity, read once: scrapes never reach the instrument.
        SessionLock lock(s.mutex, 1000);
        std::string idn;
        if (lock && s.link->TransactQuiet("*IDN?", &idn) == 0)
            SetIdentityFromReply(out->registry, s.link->ModelCode(), idn);
    }
    out->registry.SetLinkUp(s.features.AnyInstrument());
    if (!out->exporter.Start(address, port, error)) {
        Fail(error);
        return false;
    }
    std::fprintf(stderr, "Metrics: serving http://%s/metrics\n", out->exporter.Address().c_str());
    return true;
}

int RunServe(const ShareCliOptions& o, CliSession& s) {
    ConnectAndIdentify(*s.context);
    if (!s.features.AnyInstrument())
        return Fail("no instrument identified: " + s.bar.Get().modelText + ": nothing shared");
    std::unique_ptr<ShareServer> server;
    if (!StartShare(o, s, server)) return 1;
    std::unique_ptr<CliMetrics> metrics;
    if (!StartMetrics(o, s, metrics)) return 1;
    std::fprintf(stderr, "tavrix-cli: sharing %s on %s\n", s.bar.Get().modelText.c_str(),
                 server->Address().c_str());
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    int sig = 0;
    while (sigwait(&set, &sig) != 0) {
    }
    const ShareServer::Counters n = server->Count();
    server->Stop();
    std::fprintf(stderr,
                 "tavrix-cli: share ended: %llu line(s) relayed, %llu refused, %llu failed, "
                 "%llu connection(s)\n",
                 static_cast<unsigned long long>(n.relayed),
                 static_cast<unsigned long long>(n.refused),
                 static_cast<unsigned long long>(n.failed),
                 static_cast<unsigned long long>(n.connections));
    return 0;
}

}  // namespace tavrix::cli
