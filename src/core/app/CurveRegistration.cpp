#include "app/CurveRegistration.h"

#include "app/Commands.h"
#include "app/ViewHub.h"
#include "curves/CurveCommands.h"

namespace tavrix {

void RegisterCurveCommands(ViewHub& hub) {
    hub.RegisterOperation(ID_CURVE_DOWNLOAD, [&hub] { DownloadCurve(hub.Context()); });
    hub.RegisterOperation(ID_CURVE_UPLOAD, [&hub] { UploadCurve(hub.Context()); });
    hub.RegisterOperation(ID_CURVE_CONVERT, [&hub] { ConvertCurve(hub.Operator(), hub.Log()); });
    hub.RegisterOperation(ID_PID_DOWNLOAD, [&hub] { DownloadPidTable(hub.Context()); });
    hub.RegisterOperation(ID_PID_UPLOAD, [&hub] { UploadPidTable(hub.Context()); });
}

}  // namespace tavrix
