#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tavrix {

class FeatureManager;

// What the capability record must report for a source to be offered and logged.
enum class LogSourceNeed { AnyInstrument, InputsCD, InputsEH, Heaters, Analog1, Analog2 };

// Where a source's label goes in the progress window.
enum class LogSourceGroup { Input, Output, Setpoint };

// One of the sixteen loggable sources. The table order is the order of queries in a sample,
// of columns in the file and of header lines.
struct LogSource {
    int index;
    uint16_t maskBit;
    const char* prefix;
    const char* sampleQuery;
    const char* columns;       // file columns, each with its leading ","
    const char* label;         // progress window
    const char* setupCaption;  // setup dialog check box
    int setupControlId;
    LogSourceNeed need;
    LogSourceGroup group;
    const char* cliName;  // name on tavrix-cli's --sources
};

using LogSourceMask = uint16_t;
inline constexpr int kLogSourceCount = 16;

// clang-format off
inline constexpr std::array<LogSource, kLogSourceCount> kLogSources = {{
    {0,  0x0001, "INP A",  "INP A:TEMP?;",          ",Channel A",      "Channel A",      "Channel A",       1069, LogSourceNeed::AnyInstrument, LogSourceGroup::Input,    "A"},
    {1,  0x0002, "INP B",  "INP B:TEMP?;",          ",Channel B",      "Channel B",      "Channel B",       1070, LogSourceNeed::AnyInstrument, LogSourceGroup::Input,    "B"},
    {2,  0x0004, "INP C",  "INP C:TEMP?;",          ",Channel C",      "Channel C",      "Channel C",       1071, LogSourceNeed::InputsCD,      LogSourceGroup::Input,    "C"},
    {3,  0x0008, "INP D",  "INP D:TEMP?;",          ",Channel D",      "Channel D",      "Channel D",       1072, LogSourceNeed::InputsCD,      LogSourceGroup::Input,    "D"},
    {4,  0x0010, "INP E",  "INP E:TEMP?;",          ",Channel E",      "Channel E",      "Channel E",       1231, LogSourceNeed::InputsEH,      LogSourceGroup::Input,    "E"},
    {5,  0x0020, "INP F",  "INP F:TEMP?;",          ",Channel F",      "Channel F",      "Channel F",       1233, LogSourceNeed::InputsEH,      LogSourceGroup::Input,    "F"},
    {6,  0x0040, "INP G",  "INP G:TEMP?;",          ",Channel G",      "Channel G",      "Channel G",       1234, LogSourceNeed::InputsEH,      LogSourceGroup::Input,    "G"},
    {7,  0x0080, "INP H",  "INP H:TEMP?;",          ",Channel H",      "Channel H",      "Channel H",       1232, LogSourceNeed::InputsEH,      LogSourceGroup::Input,    "H"},
    {8,  0x0100, "LOOP 1", "LOOP 1:OUTP?;RANGE?;",  ",Heater 1,RANGE", "Heater1",        "Heater 1",        1073, LogSourceNeed::Heaters,       LogSourceGroup::Output,   "heater1"},
    {9,  0x0200, "LOOP 2", "LOOP 2:OUTP?;RANGE?;",  ",Heater 2,RANGE", "Heater2",        "Heater 2",        1074, LogSourceNeed::Heaters,       LogSourceGroup::Output,   "heater2"},
    {10, 0x0400, "LOOP 3", "LOOP 3:OUTP?;",         ",Analog 1",       "Analog1",        "Analog 1",        1075, LogSourceNeed::Analog1,       LogSourceGroup::Output,   "analog1"},
    {11, 0x0800, "LOOP 4", "LOOP 4:OUTP?;",         ",Analog 2",       "Analog2",        "Analog 2",        1076, LogSourceNeed::Analog2,       LogSourceGroup::Output,   "analog2"},
    {12, 0x1000, "LOOP 1", "LOOP 1:SETPT?;",        ",Loop1 Setpoint", "Loop1 Setpoint", "Loop 1 Setpoint", 1237, LogSourceNeed::Heaters,       LogSourceGroup::Setpoint, "setpoint1"},
    {13, 0x2000, "LOOP 2", "LOOP 2:SETPT?;",        ",Loop2 Setpoint", "Loop2 Setpoint", "Loop 2 Setpoint", 1239, LogSourceNeed::Heaters,       LogSourceGroup::Setpoint, "setpoint2"},
    {14, 0x4000, "LOOP 3", "LOOP 3:SETPT?;",        ",Loop3 Setpoint", "Loop3 Setpoint", "Loop 3 Setpoint", 1238, LogSourceNeed::Analog1,       LogSourceGroup::Setpoint, "setpoint3"},
    {15, 0x8000, "LOOP 4", "LOOP 4:SETPT?;",        ",Loop4 Setpoint", "Loop4 Setpoint", "Loop 4 Setpoint", 1240, LogSourceNeed::Analog2,       LogSourceGroup::Setpoint, "setpoint4"},
}};
// clang-format on

// Whether the identified model has what the source needs.
bool LogSourceAvailable(const FeatureManager& features, int index);

// Instrument text for a report line, its control characters shown as VisibleText shows them,
// cut after `max` characters with "...".
std::string PrintableInstrumentText(const std::string& text, size_t max);

}  // namespace tavrix
