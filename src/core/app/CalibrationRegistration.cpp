#include "app/CalibrationRegistration.h"

#include "app/Commands.h"
#include "app/ViewHub.h"
#include "calibration/CalibrationCommand.h"

namespace tavrix {

void RegisterCalibrationCommand(ViewHub& hub) {
    hub.RegisterOperation(ID_CALIBRATION, [&hub] {
        CalibrationContext ctx{hub.Link(), hub.Mutex(), hub.Operator(), hub.Operator()};
        PerformCalibration(ctx);
    });
}

}  // namespace tavrix
