#include "serve/ShareSettings.h"

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
    return out;
}

bool ShareSettings::Store(SettingsStore& s) const {
    bool ok = s.WriteInt(kSection, "Enabled", enabled ? 1 : 0);
    ok = s.WriteString(kSection, "Listen", listen) && ok;
    ok = s.WriteString(kSection, "Allow", allow) && ok;
    ok = s.WriteInt(kSection, "ReadOnly", readOnly ? 1 : 0) && ok;
    ok = s.WriteString(kSection, "Audit", audit) && ok;
    ok = s.WriteInt(kSection, "MaxClients", maxClients) && ok;
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

}  // namespace tavrix
