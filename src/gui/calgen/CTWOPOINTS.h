#pragma once

#include "calgen/CReferencePointDialog.h"

namespace tavrix {

// "Enter two reference points": the upper row holds the low reference, the lower row the high
// one; the command supplies every prompt, label, unit and limit.
class CTWOPOINTS : public CReferencePointDialog {
    Q_OBJECT
public:
    CTWOPOINTS(const TwoPointsValues& preset, DesktopPrograms& desktop, OperatorInterface& op,
               QWidget* parent = nullptr);

    const TwoPointsValues& Values() const { return form_.values; }

protected:
    LimitedFloatForm& Form() override { return form_; }

private:
    TwoPointsForm form_;
};

}  // namespace tavrix
