#pragma once

#include "calgen/CalGenDialogs.h"
#include "calibration/CalibrationDialogs.h"
#include "curves/CurveDialogs.h"
#include "link/LinkDialogs.h"
#include "logging/LoggingDialogs.h"
#include "serve/ShareSettings.h"

namespace tavrix {

// Everything the hub asks of the person at the screen: the basic calls and every subsystem's
// dialogs. Each front end (the Qt operator, the command line, the tests' scripted operator)
// implements all of it; one that cannot show a dialog answers DialogOutcome::CouldNotCreate.
class OperatorFrontEnd : public LinkDialogs,
                         public CurveDialogs,
                         public CalGenDialogs,
                         public LoggingDialogs,
                         public CalibrationDialogs,
                         public ShareDialogs {};

}  // namespace tavrix
