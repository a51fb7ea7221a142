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
}  // namespace tavrix::texts
