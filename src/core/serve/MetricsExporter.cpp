#include "serve/MetricsExporter.h"

#include <civetweb.h>

#include <mutex>

#include "serve/ShareLines.h"

namespace tavrix {

namespace {
std::once_flag libraryStarted;
}

MetricsExporter::~MetricsExporter() {
    Stop();
}

std::string MetricsExporter::Address() const {
    return share::Ipv4Text(address_) + ":" + std::to_string(port_);
}

int MetricsExporter::Handle(::mg_connection* conn, void* self) {
    auto* me = static_cast<MetricsExporter*>(self);
    const mg_request_info* info = mg_get_request_info(conn);
    if (!info || !info->request_method ||
        (std::string(info->request_method) != "GET" && std::string(info->request_method) != "HEAD")) {
        mg_send_http_error(conn, 405, "%s", "Only GET is served here.\n");
        return 405;
    }
    const std::string body = me->registry_.Render();
    me->registry_.CountScrape();
    mg_printf(conn,
              "HTTP/1.1 200 OK\r\n"
              "Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"
              "Content-Length: %zu\r\n"
              "Cache-Control: no-store\r\n"
              "Connection: close\r\n\r\n",
              body.size());
    if (std::string(info->request_method) == "GET") mg_write(conn, body.data(), body.size());
    return 200;
}

bool MetricsExporter::Start(uint32_t address, int port, std::string& error) {
    Stop();
    std::call_once(libraryStarted, [] { mg_init_library(0); });
    address_ = address;
    const std::string ports = share::Ipv4Text(address) + ":" + std::to_string(port);
    const char* options[] = {"listening_ports",
                             ports.c_str(),
                             "num_threads",
                             "2",
                             "request_timeout_ms",
                             "10000",
                             "enable_keep_alive",
                             "no",
                             "enable_directory_listing",
                             "no",
                             nullptr};
    mg_callbacks callbacks{};
    ctx_ = mg_start(&callbacks, nullptr, options);
    if (!ctx_) {
        error = "cannot serve metrics on " + ports + " (the address is in use or not this host's)";
        return false;
    }
    mg_set_request_handler(ctx_, "/metrics$", &MetricsExporter::Handle, this);
    mg_server_port bound[4]{};
    if (mg_get_server_ports(ctx_, 4, bound) > 0) port_ = bound[0].port;
    return true;
}

void MetricsExporter::Stop() {
    if (ctx_) mg_stop(ctx_);
    ctx_ = nullptr;
}

bool ParseMetricsAddress(const std::string& text, uint32_t& address, int& port,
                         std::string& error) {
    address = 0x7F000001u;
    return share::ParseListenAddress(text, address, port, error);
}

}  // namespace tavrix
