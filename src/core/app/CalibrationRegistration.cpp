#include "app/CalibrationRegistration.h"

#include "app/Commands.h"
#include "app/ViewHub.h"
#include "calibration/CalibrationCommand.h"

namespace tavrix {

void RegisterCalibrationCommand(ViewHub& hub, CalibrationDialogs& dialogs) {
    hub.RegisterOperation(ID_CALIBRATION, [&hub, &dialogs] {
        CalibrationContext ctx{hub.Link(), hub.Mutex(), hub.Operator(), dialogs};
        PerformCalibration(ctx);
    });
}

}  // namespace tavrix
