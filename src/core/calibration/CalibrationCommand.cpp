#include "calibration/CalibrationCommand.h"

#include "base/Texts.h"
#include "calibration/CalibPassword.h"
#include "calibration/CalibSession.h"
#include "calibration/CalibTexts.h"
#include "link/CInstrumentLink.h"

namespace tavrix {

namespace ct = calib_texts;

int PerformCalibration(CalibrationContext& ctx) {
    SessionLock lock(ctx.sessionMutex, 1000);
    if (!lock) return kCalibrationBusy;
    CalibExchange exchange = CalibExchangeOver(ctx.link);
    if (!VerifyCalibrationPassword(ctx.dialogs, exchange.transact, ctx.op)) {
        ctx.op.ShowMessage(ct::kFailedToVerifyPassword, MessageIcon::Stop);
        return kCalibrationNoPassword;
    }
    CalibSession session(exchange, ctx.op);
    session.pumpMessages = [&ctx] { ctx.op.PumpMessages(); };
    // The retrieval and the pages switch inputs to sensor units and calibration ranges: they
    // are put back however the dialog ends, still under the lock.
    CalibInputsRestorer restorer(session);
    const bool retrieved = session.Retrieve();
    if (!session.HasSteps()) {
        // Without a model code nothing was read; without steps there is nothing to show.
        if (session.ModelCode() == 0) return kCalibrationFailed;
        ctx.op.ShowMessage(ct::kNoSteps, MessageIcon::Information);
        return kCalibrationNoSteps;
    }
    (void)retrieved;  // the dialog is shown after a failed retrieval too (message already shown)
    const DialogOutcome shown = ctx.dialogs.RunCalibrationDialog(session);
    if (shown == DialogOutcome::CouldNotCreate) {
        ctx.op.ShowMessage(texts::kCouldNotCreateDialog, MessageIcon::Stop);
        return kCalibrationFailed;
    }
    return kCalibrationShown;
}

}  // namespace tavrix
