#include "app/SimulatedController.h"

#include "app/CVoduradView.h"
#include "app/QtOperator.h"

namespace tavrix {

SimulatedController::SimulatedController(int modelCode) : modelCode_(modelCode) {
    sim::SimOptions options;
    options.modelCode = modelCode;
    engine_ = std::make_unique<sim::SimEngine>(options);
    pty_ = std::make_unique<sim::PtyFrontEnd>(*engine_);
    for (int port = kFirstTcpPort; port <= kLastTcpPort; ++port) {
        tcp_ = std::make_unique<sim::TcpFrontEnd>(*engine_, port);
        if (tcp_->Ok()) break;
    }
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
    if (!tcp_->Ok())
        return "TCP: no free port in " + std::to_string(kFirstTcpPort) + ".." +
               std::to_string(kLastTcpPort) + " (" + tcp_->Error() + ")";
    return {};
}

void SimulatedController::AttachBeforeInitialUpdate(CVoduradView& view) {
    view.Hub().Link().SetSerialDeviceOverride(PtyPath());
    if (view.GuiOperator()) view.GuiOperator()->SetSerialDeviceOverride(PtyPath());
}

void SimulatedController::AttachAfterInitialUpdate(CVoduradView& view) {
    view.Hub().Link().IpAddr() =
        MyIPAddr::FromOctets(127, 0, 0, 1, static_cast<unsigned long>(TcpPort()));
    view.Hub().Log().Append("Simulated controller (model code " + std::to_string(modelCode_) +
                            ") on " + PtyPath() + " and TCP port " + std::to_string(TcpPort()) +
                            ".\n");
}

}  // namespace tavrix
