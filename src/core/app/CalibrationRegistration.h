#pragma once

#include "calibration/CalibrationDialogs.h"

namespace tavrix {

class ViewHub;

// Plugs instrument calibration (command 32809) into the hub.
void RegisterCalibrationCommand(ViewHub& hub, CalibrationDialogs& dialogs);

}  // namespace tavrix
