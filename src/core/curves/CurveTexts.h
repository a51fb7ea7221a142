#pragma once

// Texts of the curve and PID table commands and their dialogs, used verbatim by every front end.
namespace tavrix::curve_texts {

// File dialogs ("|"-separated filter text: label|patterns|...|, patterns split by ";").
inline constexpr const char* kDownloadFilter =
    "Curve Files (.crv .340)|*.crv;*.340| All Files (*.*)|*.*||";
inline constexpr const char* kDownloadExtension = "crv";
inline constexpr const char* kCrvSaveFilter = "Curve Files (*.crv)|*.crv||";
inline constexpr const char* kCrvExtension = "crv";
inline constexpr const char* kConvertFilter = "Curve Files (.340)|*.340| All Files (*.*)|*.*||";
inline constexpr const char* kConvertExtension = ".340";
inline constexpr const char* kPidOpenFilter = "PID Table Files (*.pid)|*.pid|All Files (*.*)|*.*||";
inline constexpr const char* kPidSaveFilter = "PID Table Files (*.pid)|*.pid||";
inline constexpr const char* kPidExtension = "pid";

// Message boxes.
inline constexpr const char* kFormatError =
    "Error detected informat. Correct indicated error and then try again.";  // 134
inline constexpr const char* kErrorsDisplayed =
    "Error detected. Please check and correct the displayed error logs on screen.  ";  // 132
inline constexpr const char* kNotEnoughPoints = "Not enough points to form a curve";
inline constexpr const char* kDownloadComplete = "Download Complete";
inline constexpr const char* kUploadComplete = "Upload Complete";
inline constexpr const char* kConnectionFailed = "Communication connection failed";
inline constexpr const char* kFailedToCreateFile = "Failed to create file";
inline constexpr const char* kFailedToReadFile = "Failed to read file";  // 61239
inline constexpr const char* kFileSyntaxError = "File Syntax Error";
inline constexpr const char* kNotEnoughEntries = "Not enough curve entry";
inline constexpr const char* kMoreThanEntries = "More than %d entries";
inline constexpr const char* kAbortedConversion = "Aborted Sensor Curve conversion";
inline constexpr const char* kConvertedSaved = "Converted Sensor Curve saved";
inline constexpr const char* kConvertedNotSaved = "Converted Sensor Curve not saved";
inline constexpr const char* kPidFileReadError = "File Read Error";
inline constexpr const char* kPidSyntaxError = "Syntax Error";
inline constexpr const char* kPidNoEntry = "No table entry";
inline constexpr const char* kPidTooManyEntries = "More than 16 entries";
inline constexpr const char* kPidErrorInFile = "Error detected in file";
inline constexpr const char* kPidTooLong = "PID table entry is too long.";
// A line of a download that cannot be sent as it stands: "%s" the field, then the reason.
inline constexpr const char* kCannotSend =
    "%s cannot be sent to the instrument: %s. Correct it and try again.";
inline constexpr const char* kFaultSemicolon = "it holds \";\"";
inline constexpr const char* kFaultControl = "it holds a control character";
inline constexpr const char* kFaultTooLong = "it is longer than 100 characters";
inline constexpr const char* kFaultEmpty = "it is empty";
inline constexpr const char* kFieldName = "Sensor Name";
inline constexpr const char* kFieldType = "Sensor Type";
inline constexpr const char* kFieldMultiplier = "Multiplier";
inline constexpr const char* kFieldUnit = "Unit";
inline constexpr const char* kFieldPoint = "Point %d";
inline constexpr const char* kFieldPidTitle = "The PID table title (line 1)";
inline constexpr const char* kFieldPidEntry = "The PID table entry on line %d";

// Progress window texts.
inline constexpr const char* kDownloadingCurve = "Downloading to User Curve %d. Please wait...";
inline constexpr const char* kUploadingCurve = "Uploading from User Curve %d. Please wait...";
inline constexpr const char* kDownloadingPid = "Downloading to PID Table %d. Please wait...";
inline constexpr const char* kUploadingPid = "Uploading from PID table %d. Please wait...";

// Log lines.
inline constexpr const char* kLogNoFileName = "No File Name provided\n";
inline constexpr const char* kLogCannotOpenInput = "Cannot open input file\n";
inline constexpr const char* kLogCannotOpenOutput = "Error! Can't open output file\n";
inline constexpr const char* kLogTooManyPoints = "More than %d curve points in file: line %d\n";
inline constexpr const char* kLogLineTooLong = "Line %d of the file is too long\n";
inline constexpr const char* kLogNotEnoughPoints = "Not enough points in %s file\n";
inline constexpr const char* kLogErrorMark = "   **ERROR**";  // error listing
inline constexpr const char* kLogSendMark = " **ERROR**";     // a refused line of a download
inline constexpr const char* kLogCurveDownloaded = "User Curve %d is downloaded from %s\n";
inline constexpr const char* kLogCurveUploaded = "User Curve %d is uploaded to %s\n";
inline constexpr const char* kLogSyntaxError = "Syntax error in %s file\n";
inline constexpr const char* kLogNotEnoughEntries = "Not enough curve entry in %s file\n";
inline constexpr const char* kLogMoreThanEntries = "More than %d curve entries in %s file\n";
inline constexpr const char* kLogAbortedConversion = "Aborted Sensor Curve conversion\r\n";
inline constexpr const char* kLogConvertedSaved = "Converted Sensor Curve saved\r\n";
inline constexpr const char* kLogConvertedNotSaved = "Converted Sensor Curve not saved\r\n";
inline constexpr const char* kLogPidFileReadError = "File Read Error in %s file\n";
inline constexpr const char* kLogPidNoEntry = "No table entry in %s file\n";
inline constexpr const char* kLogPidTooManyEntries = "More than 16 PID table entries in %s file\n";
inline constexpr const char* kLogPidDownloaded = "PID Table %d is downloaded from %s\n";
inline constexpr const char* kLogPidErrorIn = "Error detected in %s\n";
inline constexpr const char* kLogPidTooLong = "PID table entry is too long.\n";
inline constexpr const char* kLogCannotSend = "%s cannot be sent: %s\n";
inline constexpr const char* kLogCurveNotDownloaded =
    "User Curve %d is not downloaded: the link failed at line %d of %d\n";
inline constexpr const char* kLogPidNotDownloaded =
    "PID Table %d is not downloaded: the link failed at line %d\n";
inline constexpr const char* kLogPidUploaded = "PID Table %d is uploaded to %s\n";
// The count read back after a table: the instrument did not answer, or holds another count
// ("%s" its reply, then the count taken).
inline constexpr const char* kLogCurveNotConfirmed =
    "User Curve %d is not downloaded: the instrument did not confirm the curve\n";
inline constexpr const char* kLogPidNotConfirmed =
    "PID Table %d is not downloaded: the instrument did not confirm the table\n";
inline constexpr const char* kCurveNotWhole =
    "User Curve %d did not arrive whole: the instrument reports %s points for it instead of %d. "
    "Download it again.";
inline constexpr const char* kLogCurveNotWhole =
    "User Curve %d is not downloaded: the instrument reports %s points instead of %d\n";
inline constexpr const char* kPidNotWhole =
    "PID Table %d did not arrive whole: the instrument reports %s entries for it instead of %d. "
    "Download it again.";
inline constexpr const char* kLogPidNotWhole =
    "PID Table %d is not downloaded: the instrument reports %s entries instead of %d\n";
// The table named in the record of a transfer under way.
inline constexpr const char* kTableUserCurve = "User Curve %d";
inline constexpr const char* kTablePid = "PID Table %d";

// Dialogs.
inline constexpr const char* kHeaderEditTitle = "Edit Curve Header:";
inline constexpr const char* kHeaderNameLabel = "Sensor Name:";
inline constexpr const char* kHeaderTypeLabel = "Sensor Type:";
inline constexpr const char* kHeaderMultiplierLabel = "Multiplier:";
inline constexpr const char* kHeaderUnitLabel = "Unit:";
inline constexpr const char* kHeaderCountLabel = "Number of Pts:";
inline constexpr const char* kHeaderSaveBox = "Save as .crv file";
inline constexpr const char* kHeaderAccept = "Accept";
inline constexpr const char* kHeaderAbort = "Abort";
inline constexpr const char* kHeaderDisplayCurve = "Display Curve";
inline constexpr const char* kEnterANumber = "Enter a number.";
inline constexpr const char* kEnterAnInteger = "Enter an integer.";
inline constexpr const char* kChooserTitle = "User Curve Number";
inline constexpr const char* kChooserNote =
    "Please check user manual for the number of user curves for the target model. The user "
    "curves are after the factory curves in Sensor Setup.";
inline constexpr const char* kChooserPrompt = "Enter user curve number :";
// A typed user-curve number outside 1..8, or text that is no number.
inline constexpr const char* kChooserTypedRange = "Enter an integer between 1 and 8.";
inline constexpr const char* kPidNumberTitle = "PID Table Number";
inline constexpr const char* kPidNumberPrompt = "Enter PID table number :";
inline constexpr const char* kTransferTitle = "Download/Upload Message";
inline constexpr const char* kTransferDefaultText = "Transferring data. Please wait.....";
inline constexpr const char* kTransferLow = "0%";
inline constexpr const char* kTransferHigh = "100%";

}  // namespace tavrix::curve_texts
