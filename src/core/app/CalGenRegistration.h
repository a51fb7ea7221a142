#pragma once

namespace tavrix {

class ViewHub;

// Plugs the curve generation commands into the hub under ID_CALGEN_DIODE_300K,
// ID_CALGEN_DIODE_4K, ID_CALGEN_DIODE_2PT, ID_CALGEN_DIODE_3PT and ID_CALGEN_PLATINUM.
void RegisterCalGenCommands(ViewHub& hub);

}  // namespace tavrix
