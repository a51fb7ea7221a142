#pragma once

namespace CLI {
class App;
}

namespace tavrix::cli {

// `ports`: the serial devices present, with the COM entry each one is stored for.
CLI::App* AddPortsCommand(CLI::App& app);
int RunPorts();

}  // namespace tavrix::cli
