#include "logging/LogSources.h"

#include "base/CNumeric.h"
#include "base/VisibleText.h"
#include "link/FeatureManager.h"

namespace tavrix {

bool LogSourceAvailable(const FeatureManager& f, int index) {
    if (index < 0 || index >= kLogSourceCount) return false;
    switch (kLogSources[static_cast<size_t>(index)].need) {
        case LogSourceNeed::AnyInstrument:
            return f.AnyInstrument();
        case LogSourceNeed::InputsCD:
            return f.InputsCDPresent();
        case LogSourceNeed::InputsEH:
            return f.InputsEHPresent();
        case LogSourceNeed::Heaters:
            return f.HeatersPresent();
        case LogSourceNeed::Analog1:
            return f.Analog1Present();
        case LogSourceNeed::Analog2:
            return f.Analog2Present();
    }
    return false;
}

std::string PrintableInstrumentText(const std::string& text, size_t max) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (out.size() >= max) {
            out += "...";
            break;
        }
        out += VisibleText(std::string_view(text).substr(i, 1));
    }
    return out;
}

}  // namespace tavrix
