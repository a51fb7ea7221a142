#pragma once

#include "base/OperatorInterface.h"
#include "curves/CurveDialogModels.h"

namespace tavrix {

// The curve dialogs. The header editor is handed a prepared model (Open() already applied)
// and gives it back as edited after "Accept"; the chooser gives back the chosen number in
// `number`; the PID table number request is preset with `preset`.
class CurveDialogs : public virtual OperatorInterface {
public:
    virtual DialogResult<CurveHeaderEdit> EditCurveHeader(const CurveHeaderEdit& header) = 0;
    virtual DialogResult<UserCurveChoice> ChooseUserCurve(const UserCurveChoice& choice) = 0;
    virtual DialogResult<int> AskPidTableNumber(int preset) = 0;
};

}  // namespace tavrix
