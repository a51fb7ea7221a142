#pragma once

#include <memory>
#include <string>

#include "engine/SimEngine.h"
#include "engine/SimFrontEnds.h"

namespace tavrix {

class CVoduradView;

// A simulated controller inside the program, reachable over a pseudo-terminal (every COM port)
// and over TCP on the loopback.
class SimulatedController {
public:
    // The TCP port is the first free one of this range, which the IP address dialog accepts.
    static constexpr int kFirstTcpPort = 7700;
    static constexpr int kLastTcpPort = 7739;

    explicit SimulatedController(int modelCode);
    ~SimulatedController();

    bool Ok() const;
    std::string Error() const;
    std::string PtyPath() const { return pty_->SlavePath(); }
    int TcpPort() const { return tcp_->Port(); }
    sim::SimEngine& Engine() { return *engine_; }

    // Points a view at this controller: every COM port opens the pseudo-terminal (before the
    // view's first update, which opens the port) ...
    void AttachBeforeInitialUpdate(CVoduradView& view);
    // ... and the IP address dialog offers the loopback address and the TCP port (after it,
    // since link start-up reads the stored address).
    void AttachAfterInitialUpdate(CVoduradView& view);

private:
    int modelCode_;
    // The front ends use the engine: declared after it, they go first.
    std::unique_ptr<sim::SimEngine> engine_;
    std::unique_ptr<sim::PtyFrontEnd> pty_;
    std::unique_ptr<sim::TcpFrontEnd> tcp_;
};

}  // namespace tavrix
