#pragma once

#include <string>

#include "base/OperatorInterface.h"

namespace tavrix {

class CalibSession;

// What the change-password dialog gives back on OK.
struct NewPasswordEntry {
    std::string newText;
    std::string retyped;
};

// The calibration dialogs. Every front end answers each call; one that cannot show a dialog
// returns DialogOutcome::CouldNotCreate.
class CalibrationDialogs : public virtual OperatorInterface {
public:
    // "Verify Calibration Password": the typed text.
    virtual DialogResult<std::string> AskCalibrationPassword() = 0;
    // "Change Password ": the new and the re-typed text.
    virtual DialogResult<NewPasswordEntry> AskNewCalibrationPassword() = 0;
    // "Instrument Calibration", modal, bound to a session that has been retrieved. Returns when
    // the dialog closed.
    virtual DialogOutcome RunCalibrationDialog(CalibSession& session) = 0;
};

// Overwrites a secret before its memory is given back.
void WipeSecret(std::string& secret);

}  // namespace tavrix
