#pragma once

#include "calgen/CReferencePointDialog.h"

namespace tavrix {

// "Enter three reference points": fixed rows near 4.2 K, 77 K and 300 K.
class CThreePoints : public CReferencePointDialog {
    Q_OBJECT
public:
    CThreePoints(const ThreePointsValues& preset, DesktopPrograms& desktop, OperatorInterface& op,
                 QWidget* parent = nullptr);

    const ThreePointsValues& Values() const { return form_.values; }

protected:
    LimitedFloatForm& Form() override { return form_; }

private:
    ThreePointsForm form_;
};

}  // namespace tavrix
