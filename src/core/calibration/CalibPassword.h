#pragma once

#include <optional>
#include <string>

#include "base/OperatorInterface.h"
#include "calibration/CalibSession.h"
#include "calibration/CalibrationDialogs.h"

namespace tavrix {

inline constexpr size_t kCalibPasswordLength = 10;

// The typed password as the instrument holds it: padded with blanks to ten characters;
// nothing for a text over ten characters.
std::optional<std::string> PaddedCalibPassword(const std::string& typed);

// Checks a typed password against the instrument's ("INST A:PSWD?"). false for a text over ten
// characters (no exchange), a failed query ("Failed to get Password" shown) or a mismatch.
bool CheckCalibrationPassword(const std::string& typed, const CalibTransact& transact,
                              OperatorInterface& op);
// `VerifyCalibrationPassword`: the dialog, then the check; Cancel gives false.
bool VerifyCalibrationPassword(CalibrationDialogs& dialogs, const CalibTransact& transact,
                               OperatorInterface& op);

// Sets the password from the change dialog's two texts: they must match exactly; the new text
// is sent in upper case ("INST A:PSWD " new ";PSWD?"). 0 when it was sent; -1 after a message.
int SetCalibrationPassword(const NewPasswordEntry& entry, const CalibTransact& transact,
                           OperatorInterface& op);
// `ChangeCalibrationPassword`: the dialog, then the setting; Cancel ends quietly.
void ChangeCalibrationPassword(CalibrationDialogs& dialogs, const CalibTransact& transact,
                               OperatorInterface& op);

// The rules of the change dialog's "New:" field.
struct ChangePasswordForm {
    // The field holds at most ten characters: false when typing `inserted` characters over a
    // selection of `selected` in a text of `length` would pass that.
    static bool Fits(size_t length, size_t selected, size_t inserted) {
        return length - selected + inserted <= kCalibPasswordLength;
    }
    // Leaving "New:": the message to show, or null.
    static const char* CheckOnLeave(const std::string& text);
    // OK: the message that refuses the texts, or an empty string.
    static std::string CheckOnOk(const NewPasswordEntry& entry);
};

}  // namespace tavrix
