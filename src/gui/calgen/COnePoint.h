#pragma once

#include "calgen/CReferencePointDialog.h"

namespace tavrix {

// "Enter a single reference point": one reading and its temperature under the command's
// prompt.
class COnePoint : public CReferencePointDialog {
    Q_OBJECT
public:
    COnePoint(const OnePointValues& preset, DesktopPrograms& desktop, OperatorInterface& op,
              QWidget* parent = nullptr);

    // The values; what the operator entered once the dialog ended with OK.
    const OnePointValues& Values() const { return form_.values; }

protected:
    LimitedFloatForm& Form() override { return form_; }

private:
    OnePointForm form_;
};

}  // namespace tavrix
