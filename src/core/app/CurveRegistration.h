#pragma once

namespace tavrix {

class ViewHub;

// Plugs the five curve commands into the hub (curve download, upload and conversion, PID table
// download and upload); the shortcut bar's messages reach them through the hub.
void RegisterCurveCommands(ViewHub& hub);

}  // namespace tavrix
