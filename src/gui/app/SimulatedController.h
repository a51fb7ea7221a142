#pragma once

#include <memory>
#include <string>

#include "engine/SimEngine.h"
#include "engine/SimFrontEnds.h"

namespace tavrix {

// A simulated controller inside the program, reachable over a pseudo-terminal (every COM port)
// and over TCP on the loopback.
class SimulatedController {
public:
    explicit SimulatedController(int modelCode);
    ~SimulatedController();

    bool Ok() const;
    std::string Error() const;
    std::string PtyPath() const { return pty_->SlavePath(); }
    int TcpPort() const { return tcp_->Port(); }
    sim::SimEngine& Engine() { return *engine_; }

private:
    // The front ends use the engine: declared after it, they go first.
    std::unique_ptr<sim::SimEngine> engine_;
    std::unique_ptr<sim::PtyFrontEnd> pty_;
    std::unique_ptr<sim::TcpFrontEnd> tcp_;
};

}  // namespace tavrix
