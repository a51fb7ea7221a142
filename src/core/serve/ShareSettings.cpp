#include "serve/ShareSettings.h"

#include "serve/MetricsExporter.h"

namespace tavrix {

namespace {
constexpr const char* kSection = "Share";
}

ShareSettings ShareSettings::Load(const SettingsStore& s) {
    ShareSettings out;
    out.enabled = s.GetIntInRange(kSection, "Enabled", 0, 0, 1) == 1;
    out.listen = s.GetString(kSection, "Listen", out.listen);
    out.allow = s.GetString(kSection, "Allow", "");
    out.readOnly = s.GetIntInRange(kSection, "ReadOnly", 0, 0, 1) == 1;
    out.audit = s.GetString(kSection, "Audit", "");
    out.maxClients = s.GetIntInRange(kSection, "MaxClients", 8, 1, 64);
    out.metrics = s.GetString(kSection, "Metrics", "");
    return out;
}

bool ShareSettings::Store(SettingsStore& s) const {
    bool ok = s.WriteInt(kSection, "Enabled", enabled ? 1 : 0);
    ok = s.WriteString(kSection, "Listen", listen) && ok;
    ok = s.WriteString(kSection, "Allow", allow) && ok;
    ok = s.WriteInt(kSection, "ReadOnly", readOnly ? 1 : 0) && ok;
    ok = s.WriteString(kSection, "Audit", audit) && ok;
    ok = s.WriteInt(kSection, "MaxClients", maxClients) && ok;
    ok = s.WriteString(kSection, "Metrics", metrics) && ok;
    return ok;
}

bool ShareSettings::ToOptions(ShareOptions& out, std::string& error) const {
    out = ShareOptions{};
    if (!share::ParseListenAddress(listen, out.address, out.port, error)) return false;
    size_t start = 0;
    while (start <= allow.size()) {
        const size_t comma = allow.find(',', start);
        const std::string item =
            allow.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (item.find_first_not_of(" \t") != std::string::npos) {
            share::Ipv4Net net;
            if (!share::ParseIpv4Net(item, net)) {
                error = "\"" + item + "\" is not an IPv4 network such as 192.168.1.0/24";
                return false;
            }
            out.allow.push_back(net);
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    out.readOnly = readOnly;
    out.auditPath = audit;
    out.maxClients = maxClients;
    return true;
}

bool ShareSettings::Check(std::string& error) const {
    ShareOptions options;
    if (!ToOptions(options, error)) return false;
    if ((options.address >> 24) != 127 && options.allow.empty()) {
        error = "listening on " + share::Ipv4Text(options.address) +
                " lets other machines in: name the client networks allowed";
        return false;
    }
    if (maxClients < 1 || maxClients > 64) {
        error = "the number of clients must be 1 to 64";
        return false;
    }
    if (metrics.find_first_not_of(" \t") == std::string::npos) return true;
    uint32_t address = 0;
    int port = 0;
    std::string why;
    if (!ParseMetricsAddress(metrics, address, port, why)) {
        error = "metrics: " + why;
        return false;
    }
    return true;
}

}  // namespace tavrix
