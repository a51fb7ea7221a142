#pragma once

#include <cstdint>
#include <string>

#include "serve/Metrics.h"

struct mg_context;
struct mg_connection;

namespace tavrix {

// Serves a MetricsRegistry on http://ADDR:PORT/metrics in the Prometheus text format, with the
// embedded HTTP server civetweb (no files, no other paths). A scrape renders what the registry
// holds and nothing else: it never causes an exchange with the instrument.
class MetricsExporter {
public:
    explicit MetricsExporter(MetricsRegistry& registry) : registry_(registry) {}
    ~MetricsExporter();
    MetricsExporter(const MetricsExporter&) = delete;
    MetricsExporter& operator=(const MetricsExporter&) = delete;

    // address in host byte order; port 0 takes a free one. False with the reason.
    bool Start(uint32_t address, int port, std::string& error);
    void Stop();
    int Port() const { return port_; }
    std::string Address() const;

private:
    static int Handle(::mg_connection* conn, void* self);
    MetricsRegistry& registry_;
    mg_context* ctx_ = nullptr;
    uint32_t address_ = 0;
    int port_ = 0;
};

// "[ADDR:]PORT" for --metrics (127.0.0.1 unless an address is given).
bool ParseMetricsAddress(const std::string& text, uint32_t& address, int& port,
                         std::string& error);

}  // namespace tavrix
