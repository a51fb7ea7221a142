// The reference-point dialogs of curve generation.
#include "app/QtOperator.h"
#include "base/GuiThread.h"
#include "calgen/COnePoint.h"
#include "calgen/CTWOPOINTS.h"
#include "calgen/CThreePoints.h"
#include "calgen/QtDesktopPrograms.h"

namespace tavrix {

namespace {
// Shows a reference-point dialog modally on the GUI thread; its values when it ends with OK.
template <typename Dialog, typename Values>
DialogResult<Values> AskPoints(const Values& preset, QtOperator& op, QWidget* parent,
                               const ManualResetEvent* quit) {
    auto r = DialogResult<Values>::Cancelled();
    RunOnGuiThread(
        [&] {
            Dialog dlg(preset, op.Desktop(), op, parent);
            if (dlg.exec() == QDialog::Accepted) r = DialogResult<Values>::Accept(dlg.Values());
        },
        quit);
    return r;
}
}  // namespace

DesktopPrograms& QtOperator::Desktop() {
    if (!desktop_)
        desktop_ =
            std::make_unique<QtDesktopPrograms>(QtDesktopPrograms::ConfiguredProgram(settings_));
    return *desktop_;
}

DialogResult<OnePointValues> QtOperator::AskOnePoint(const OnePointValues& preset) {
    return AskPoints<COnePoint>(preset, *this, Parent(), quit_);
}

DialogResult<TwoPointsValues> QtOperator::AskTwoPoints(const TwoPointsValues& preset) {
    return AskPoints<CTWOPOINTS>(preset, *this, Parent(), quit_);
}

DialogResult<ThreePointsValues> QtOperator::AskThreePoints(const ThreePointsValues& preset) {
    return AskPoints<CThreePoints>(preset, *this, Parent(), quit_);
}

}  // namespace tavrix
