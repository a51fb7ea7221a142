#pragma once

#include "base/OperatorInterface.h"
#include "base/SyncPrimitives.h"
#include "calibration/CalibrationDialogs.h"

namespace tavrix {

class CInstrumentLink;

// What the calibration command works with.
struct CalibrationContext {
    CInstrumentLink& link;
    SessionMutex& sessionMutex;
    OperatorInterface& op;
    CalibrationDialogs& dialogs;
};

// How the command ended.
enum CalibrationOutcome : int {
    kCalibrationShown = 0,       // the dialog was shown and closed
    kCalibrationBusy = 1,        // the instrument was busy: nothing done
    kCalibrationNoPassword = 2,  // the password was not verified (message shown)
    kCalibrationNoSteps = 3,     // the model has no step table (message shown)
    kCalibrationFailed = -1,     // the model code could not be read, or no dialog
};

// The view's instrument calibration: SessionMutex (1000 ms), the password, the retrieval and the
// dialog; the lock is held until the dialog closes. A model without a step table gets a message
// instead of an empty dialog.
int PerformCalibration(CalibrationContext& ctx);

}  // namespace tavrix
