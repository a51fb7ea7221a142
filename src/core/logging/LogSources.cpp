#include "logging/LogSources.h"

#include "base/CNumeric.h"
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
    for (unsigned char c : text) {
        if (out.size() >= max) {
            out += "...";
            break;
        }
        if (c >= 0x20 && c < 0x7F)
            out += static_cast<char>(c);
        else
            out += FormatC("\\x%02X", c);
    }
    return out;
}

}  // namespace tavrix
