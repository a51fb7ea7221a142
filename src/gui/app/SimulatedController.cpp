#include "app/SimulatedController.h"

namespace tavrix {

SimulatedController::SimulatedController(int modelCode) {
    sim::SimOptions options;
    options.modelCode = modelCode;
    engine_ = std::make_unique<sim::SimEngine>(options);
    pty_ = std::make_unique<sim::PtyFrontEnd>(*engine_);
    tcp_ = std::make_unique<sim::TcpFrontEnd>(*engine_, 0);
}

SimulatedController::~SimulatedController() {
    tcp_.reset();
    pty_.reset();
}

bool SimulatedController::Ok() const {
    return pty_->Ok() && tcp_->Ok();
}

std::string SimulatedController::Error() const {
    if (!pty_->Ok()) return "pseudo-terminal: " + pty_->Error();
    if (!tcp_->Ok()) return "TCP: " + tcp_->Error();
    return {};
}

}  // namespace tavrix
