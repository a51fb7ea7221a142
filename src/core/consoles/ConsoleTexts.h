#pragma once

// Texts of the terminal and the command file runner.
namespace tavrix::texts {
inline constexpr const char* kQueryPrefix = "\nquery:";
inline constexpr const char* kResponsePrefix = "\nresponse:";
inline constexpr const char* kCommandPrefix = "\ncommand:";

inline constexpr const char* kXmlFilter = "XML Files (*.xml)|*.xml||";
inline constexpr const char* kXmlExtension = "xml";
inline constexpr const char* kTestCompleted = "Command language test completed.\n";
inline constexpr const char* kTestAborted = "Command language test aborted.\n";
inline constexpr const char* kErrorsLogged = " Errors logged in the ErrorLog.txt\n";
// A run passes only when it ran something and read the whole file.
inline constexpr const char* kNoClosingTag =
    "Error:The file ends before its closing tag </TRANSACTIONS>\n";
inline constexpr const char* kNoTransaction =
    "Error:No transaction was run: the file holds no COMMAND, CALCUR or QUERY element\n";
}  // namespace tavrix::texts
