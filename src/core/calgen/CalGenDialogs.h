#pragma once

#include "base/OperatorInterface.h"
#include "calgen/ReferencePoints.h"

namespace tavrix {

// The reference-point dialogs of curve generation, opened with the given values; OK gives the
// values entered (each within the dialog's limits).
class CalGenDialogs : public virtual OperatorInterface {
public:
    virtual DialogResult<OnePointValues> AskOnePoint(const OnePointValues& preset) = 0;
    virtual DialogResult<TwoPointsValues> AskTwoPoints(const TwoPointsValues& preset) = 0;
    virtual DialogResult<ThreePointsValues> AskThreePoints(const ThreePointsValues& preset) = 0;
};

}  // namespace tavrix
