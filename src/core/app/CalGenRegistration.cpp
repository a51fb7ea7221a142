#include "app/CalGenRegistration.h"

#include "app/Commands.h"
#include "app/ViewHub.h"
#include "calgen/CalGenCommands.h"

namespace tavrix {

void RegisterCalGenCommands(ViewHub& hub) {
    const struct {
        int id;
        int (*run)(CalGenContext&);
    } commands[] = {
        {ID_CALGEN_DIODE_300K, GenerateDiode300K},
        {ID_CALGEN_DIODE_4K, GenerateDiode4K},
        {ID_CALGEN_DIODE_2PT, GenerateDiodeTwoPoint},
        {ID_CALGEN_DIODE_3PT, GenerateDiodeThreePoint},
        {ID_CALGEN_PLATINUM, GeneratePlatinum},
    };
    for (const auto& c : commands) {
        hub.RegisterOperation(c.id, [&hub, run = c.run] {
            CalGenContext ctx{hub.Operator(), hub.Log()};
            run(ctx);
        });
    }
}

}  // namespace tavrix
