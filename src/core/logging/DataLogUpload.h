#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "base/OperatorInterface.h"
#include "base/SyncPrimitives.h"
#include "link/CInstrumentLink.h"

namespace tavrix {

namespace datalog_texts {
inline constexpr const char* kFailedToCreate = "Failed to create file.";
inline constexpr const char* kConnectionFailed = "Communication connection failed";
inline constexpr const char* kComplete = "Upload Complete";
inline constexpr const char* kProgress = "Uploading Internal DataLog. Please wait...";
inline constexpr const char* kUploaded = "Internal DataLog is uploaded to %s\n";
inline constexpr const char* kLeftOff =
    "The instrument's internal data log was left off: it could not be set back to \"%s\". "
    "Send \"DLog:State %s\" when the instrument answers again.";
}  // namespace datalog_texts

// The "&Upload Internal DataLog" command: pauses the instrument's own log, fetches its
// records into a file byte for byte (LF line ends plus one more LF) and restores the log's
// earlier state on every way out, proven by reading it back. The file replaces an earlier one
// only when it is whole. 0 when the file was written and the state restored; negative
// otherwise.
struct DataLogUploadContext {
    CInstrumentLink& link;
    SessionMutex& mutex;
    OperatorInterface& op;
    LogSink& log;
    // The 50 ms pauses between the "DLog" exchanges; tests replace it.
    std::function<void(std::chrono::milliseconds)> sleep;
};
int UploadInternalDataLog(DataLogUploadContext& ctx);

}  // namespace tavrix
