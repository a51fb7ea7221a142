#include "logging/LoggingDialogs.h"

#include "base/CNumeric.h"

namespace tavrix {

void DataLogSetupModel::EnableFrom(const FeatureManager& features) {
    for (int i = 0; i < kLogSourceCount; ++i)
        enabled[static_cast<size_t>(i)] = LogSourceAvailable(features, i) ? 1 : 0;
}

void DataLogSetupModel::Toggle(int index) {
    if (index < 0 || index >= kLogSourceCount) return;
    mask ^= kLogSources[static_cast<size_t>(index)].maskBit;
}

void DataLogSetupModel::SelectAll() {
    for (int i = 0; i < kLogSourceCount; ++i)
        if (enabled[static_cast<size_t>(i)]) mask |= kLogSources[static_cast<size_t>(i)].maskBit;
}

std::string DataLogSetupModel::CheckInterval(const std::string& text, double& out) {
    double v = 0.0;
    if (!ParseNumberField(text, v)) return logging_texts::kEnterANumber;
    if (v < kIntervalLow || v > kIntervalHigh) return logging_texts::kIntervalRange;
    out = v;
    return {};
}

std::string DataLogSetupModel::Apply(const std::string& intervalText) {
    return CheckInterval(intervalText, interval);
}

std::string DataLogSetupModel::Start(const std::string& intervalText) {
    if (mask == 0) return logging_texts::kSelectSource;
    return Apply(intervalText);
}

std::string DataLogSetupModel::IntervalText() const {
    return FormatC("%.15g", interval);
}

double DataLogSetupModel::StoredInterval(const std::string& text) {
    double v = 0.0;
    if (!CheckInterval(text, v).empty()) return kDefaultInterval;
    return v;
}

bool LoggingProgressModel::AddLabel(int sourceIndex) {
    if (sourceIndex < 0 || sourceIndex >= kLogSourceCount) return false;
    const LogSource& s = kLogSources[static_cast<size_t>(sourceIndex)];
    size_t first = 0, end = 8;
    if (s.group == LogSourceGroup::Output) first = 8, end = 12;
    if (s.group == LogSourceGroup::Setpoint) first = 12, end = 16;
    for (size_t i = first; i < end; ++i) {
        if (labels[i].empty()) {
            labels[i] = s.label;
            return true;
        }
    }
    return false;
}

std::string LoggingProgressModel::CheckFields() const {
    if (fileText.size() > kFileTextMax) return logging_texts::kFileTextTooLong;
    return {};
}

void HeadlessProgressWindow::PressStop() {
    lastCheckMessage = model_.CheckFields();
    if (lastCheckMessage.empty()) {
        visible = false;
    } else if (showMessage) {
        showMessage(lastCheckMessage);
    }
    if (onStop) onStop();
}

}  // namespace tavrix
