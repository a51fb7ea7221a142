#pragma once

#include <string>

#include "base/OperatorInterface.h"
#include "base/SettingsStore.h"
#include "serve/ShareServer.h"

namespace tavrix {

// The sharing port's settings, kept in the [Share] section.
struct ShareSettings {
    bool enabled = false;                   // Enabled: share whenever the program runs
    std::string listen = "127.0.0.1:5025";  // Listen: [ADDR:]PORT
    std::string allow;                      // Allow: client networks, comma-separated CIDRs
    bool readOnly = false;                  // ReadOnly
    std::string audit;                      // Audit: file of every relayed line; empty for none
    int maxClients = 8;                     // MaxClients: 1..64
    std::string metrics;                    // Metrics: [ADDR:]PORT of /metrics; empty for none

    static ShareSettings Load(const SettingsStore& settings);
    bool Store(SettingsStore& settings) const;
    // The options a share starts with; false with the reason.
    bool ToOptions(ShareOptions& out, std::string& error) const;
    // Whether every field can be used as it stands (listen address, networks, metrics
    // address); false with the reason.
    bool Check(std::string& error) const;
};

// The desktop's "Share Instrument..." dialog.
class ShareDialogs : public virtual OperatorInterface {
public:
    virtual DialogResult<ShareSettings> AskShareSettings(const ShareSettings& preset) = 0;
};

}  // namespace tavrix
