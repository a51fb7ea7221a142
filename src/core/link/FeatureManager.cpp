#include "link/FeatureManager.h"

namespace tavrix {

namespace {
constexpr FeatureManager::Row kRows[] = {
    {27, 2, 4, 3, 1, 1, true, true},  {28, 2, 4, 4, 1, 1, true, true},
    {29, 1, 8, 0, 1, 0, false, true}, {30, 1, 4, 0, 1, 0, false, true},
    {31, 1, 2, 0, 1, 0, false, true}, {32, 2, 2, 4, 1, 1, true, true},
};
constexpr FeatureManager::Row kUnknownRow = {0, 0, 4, 2, 0, 0, false, false};
}  // namespace

const FeatureManager::Row& FeatureManager::RowFor(int modelCode) {
    for (const auto& row : kRows)
        if (row.modelCode == modelCode) return row;
    return kUnknownRow;
}

void FeatureManager::Update(int modelCode) {
    Apply(RowFor(modelCode));
}

void FeatureManager::Apply(const Row& row) {
    family_ = row.family;
    inputCount_ = row.inputCount;
    loopCount_ = row.loopCount;
    identified_ = row.identified;
    calibrationOffered_ = row.calibrationOffered;
    if (!bar_) return;
    bar_->EnableButton(ShortcutButton::CurveDownload, true);
    bar_->EnableButton(ShortcutButton::Interact, true);
    bar_->EnableButton(ShortcutButton::DataLogging, true);
    bar_->EnableButton(ShortcutButton::PidDownload, row.pidTableButton);
    bar_->EnableButton(ShortcutButton::DatalogUpload, row.datalogUploadButton);
}

void FeatureManager::Reset() {
    if (bar_) bar_->Reset();
    family_ = 0;
    inputCount_ = 0;
    loopCount_ = 0;
    identified_ = 0;
    calibrationOffered_ = 0;
}

}  // namespace tavrix
