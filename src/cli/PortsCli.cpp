#include "PortsCli.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "base/SettingsStore.h"
#include "link/SerialDevices.h"

namespace tavrix::cli {

CLI::App* AddPortsCommand(CLI::App& app) {
    return app.add_subcommand(
        "ports",
        "List the serial devices present (stable /dev/serial/by-id/ names where the system has "
        "them) and the COM entry stored for each");
}

int RunPorts() {
    const SettingsStore settings(SettingsStore::DefaultFolder());
    std::string stored[4];
    for (int i = 0; i < 4; ++i)
        stored[i] = settings.GetString(settings::kSerialDevices, "COM" + std::to_string(i + 1),
                                       settings::kDefaultSerialDevice[i]);
    const auto devices = ListSerialDevices();
    for (const SerialDeviceInfo& d : devices) {
        std::string line = d.StablePath();
        if (!d.byId.empty()) line += " -> " + d.node;
        if (const std::string desc = d.Description(); !desc.empty()) line += "  " + desc;
        for (int i = 0; i < 4; ++i)
            if (stored[i] == d.byId || SameDevice(stored[i], d.node))
                line += "  [COM" + std::to_string(i + 1) + "]";
        std::printf("%s\n", line.c_str());
    }
    if (devices.empty()) std::fprintf(stderr, "tavrix-cli: no serial devices found\n");
    return 0;
}

}  // namespace tavrix::cli
