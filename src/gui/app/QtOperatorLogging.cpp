// The logging setup dialog.
#include "app/QtOperator.h"
#include "base/GuiThread.h"
#include "logging/CDataLogSetup.h"

namespace tavrix {

DialogResult<DataLogSetupModel> QtOperator::AskLogSetup(const DataLogSetupModel& preset) {
    DialogResult<DataLogSetupModel> r{DialogOutcome::Cancel, preset};
    RunOnGuiThread(
        [&] {
            CDataLogSetup dlg(preset, Parent());
            const int shown = dlg.exec();
            // The interval comes back on Cancel too: an applied one is kept.
            r = {shown == QDialog::Accepted ? DialogOutcome::Ok : DialogOutcome::Cancel,
                 dlg.Model()};
        },
        quit_);
    return r;
}

}  // namespace tavrix
