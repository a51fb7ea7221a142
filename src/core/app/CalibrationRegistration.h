#pragma once

namespace tavrix {

class ViewHub;

// Plugs instrument calibration (command 32809) into the hub; its dialogs are the hub's
// operator's.
void RegisterCalibrationCommand(ViewHub& hub);

}  // namespace tavrix
