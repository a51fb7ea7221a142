#pragma once

// Texts of the calibration dialog and the password dialogs.
namespace tavrix::calib_texts {
inline constexpr const char* kStatusTexts[3] = {"Current", "Edited", "Calibrated"};

inline constexpr const char* kFailedToVerifyPassword = "Failed to verify calibration password";
inline constexpr const char* kFailedToGetPassword = "Failed to get Password";
inline constexpr const char* kPasswordTooLong =
    "The calibration password must be less than 11 characters ";
inline constexpr const char* kPasswordUppercase = "The calibration password must be in uppercase.";
inline constexpr const char* kPasswordsDoNotMatch = "New and re-typed passwords do not match";
inline constexpr const char* kFailedToSetPassword = "Failed to set password";
inline constexpr const char* kEnterNoMoreThan = "Enter no more than %d characters.";
// A new password is sent inside a command line: characters that would end or split that line
// are refused instead of being sent.
inline constexpr const char* kPasswordBadCharacter =
    "The calibration password must not contain ';', ':', '?' or control characters.";

inline constexpr const char* kFailedToRetrieve = "Failed to retrieve calibration data";
inline constexpr const char* kRetrieving =
    "Retrieving calibration data from instruement. Please wait...";
inline constexpr const char* kCommunicationError = "Communication Error";
inline constexpr const char* kUnableToSetupCapture = "Unable to setup the capture data process";
inline constexpr const char* kFailedToGetInput = "Failed to get input value from instrument";
inline constexpr const char* kCapturedUpper = "Captured Upper Value";
inline constexpr const char* kCapturedLower = "Captured Lower Value";
inline constexpr const char* kAborted = "Aborted capturing data";
inline constexpr const char* kTargetsOutOfOrder =
    "The upper Target Value must be bigger than the lower target value.";
inline constexpr const char* kUpperNotPositive = "The upper Target must be +ve and bigger than 0.";
inline constexpr const char* kLowerNegative = "The lower target must be > 0.";
inline constexpr const char* kBadTargetsOrCaptures = "Error in the target and/or captured values";
inline constexpr const char* kGainZero = "The gain value must not be zero.";
inline constexpr const char* kGainOutOfRange = "Calculated gain must be between 0.9 and 1.2";
inline constexpr const char* kNoModification = "No calibration data modification.";
inline constexpr const char* kSendQuestion =
    "Send the modified calibration data in the current page to instrument? ";
inline constexpr const char* kFailedToSend = "Failed to send calibration data";
inline constexpr const char* kQuitQuestion = "There are Calibration data not saved. Quit?";
inline constexpr const char* kEnterNumber = "Enter a number.";
inline constexpr const char* kGainLimits = "Enter a number between 0.9 and 1.2.";
// A range whose values were never read from the instrument.
inline constexpr const char* kNotReadStatus = "Not read";
inline constexpr const char* kNotReadCompute =
    "The gain and offset of this range were not read from the instrument, so no new values can "
    "be computed from them. Enter both and APPLY them first.";
inline constexpr const char* kNotReadApply =
    "The gain and offset of this range were not read from the instrument. Enter both before "
    "sending them.";
// %s: the input letters.
inline constexpr const char* kInputsNotRestored =
    "Could not set input(s) %s back to the unit and settings they had before the calibration. "
    "Check them before taking readings or logging.";
inline constexpr const char* kNoSteps =
    "This instrument model has no calibration steps; there is nothing to calibrate.";

inline constexpr const char* kModeOn = "INST %c:MODE ON;MODE?;";
inline constexpr const char* kModeOff = "INST %c:MODE OFF;MODE?;";
inline constexpr const char* kGainOffsetQuery = "INST %c:GAIN?;OFFSET?;";
inline constexpr const char* kInputQuery = "INPUT? %c;";
// The settings the step commands change, read before and written back after.
inline constexpr const char* kTypeQuery = "INST %c:TYPE?";
inline constexpr const char* kInputSettingsQuery = "INPUT %c:UNIT?;ISENIX?;VBIAS?;BRANGE?";
inline constexpr const char* kReseed = "syst:reseed;:*OPC?";
inline constexpr const char* kSetGain = "INST A:GAIN ";
inline constexpr const char* kSetOffset = "INST A:OFFSET ";
inline constexpr const char* kSave = "INST A:SAVE;MODE?";
inline constexpr const char* kPasswordQuery = "INST A:PSWD?";
inline constexpr const char* kSetPassword = "INST A:PSWD ";
inline constexpr const char* kPasswordReadBack = ";PSWD?";

// Dialog titles and fixed texts.
inline constexpr const char* kDialogTitle = "Instrument Calibration";
inline constexpr const char* kSheetTitle = "Calibration";
inline constexpr const char* kCapturingTitle = "Capturing Data in Progress";
inline constexpr const char* kVerifyTitle = "Verify Calibration Password";
inline constexpr const char* kChangeTitle = "Change Password ";
inline constexpr const char* kChangeAdvice =
    "Enter new password \n( max 10 characters, no space, Uppercase only )";
}  // namespace tavrix::calib_texts
