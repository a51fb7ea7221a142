#pragma once

#include "calgen/CalGenCommand.h"

namespace tavrix {

// The five generation commands. Each asks for the source file, the reference points (shown
// again until they pass their tests) and the output file, lists the new curve in the log and
// writes it. They return a CalGenStatus; every record is released on every way out.
int GenerateDiode300K(CalGenContext& ctx);
int GenerateDiode4K(CalGenContext& ctx);
int GenerateDiodeTwoPoint(CalGenContext& ctx);
int GenerateDiodeThreePoint(CalGenContext& ctx);
int GeneratePlatinum(CalGenContext& ctx);

namespace calgen_texts {
inline constexpr const char* kNo30KBox = "30K is not within the range of the source curve.";
inline constexpr const char* kNo30KLog = "30K is not within the range of the curve in %s.\n";
inline constexpr const char* kPrompt300K = "Please enter a reference point at around 300K";
inline constexpr const char* kPrompt4K = "Please enter a reference point at around 4.2K";
inline constexpr const char* kReference5 = "Reference volatge exceeded 5% difference.";
inline constexpr const char* kLowReference5 = "Low reference volatge exceeded 5% difference.";
inline constexpr const char* kMiddleReference5 = "Middle reference volatge exceeded 5% difference.";
inline constexpr const char* kHighReference5 = "High reference volatge exceeded 5% difference.";
inline constexpr const char* kLowResistance5 = "Low reference resistance exceeded 5% difference.";
inline constexpr const char* kHighResistance5 = "High reference resistance exceeded 5% difference.";
inline constexpr const char* kOnePointHeading = "New Curve generated using %10.6fV at %10.6fK.\n";
inline constexpr const char* kTwoPointHeading =
    "Generate curve using %10.6fV at %10.6fK \nand %10.6fV at %10.6fK.\n";
inline constexpr const char* kThreePointHeading1 = "Generate new curve using %10.6fV at %10.6fK,\n";
inline constexpr const char* kThreePointHeading2 = "                     and %10.6fV at %10.6fK,\n";
inline constexpr const char* kThreePointHeading3 = "                     and %10.6fV at %10.6fK.\n";
inline constexpr const char* kPlatinumHeading =
    "Generate curve using %10.6fohm at %10.6fK \nand %10.6fohm at %10.6fK.\n";
inline constexpr const char* kPromptNear77K = "Enter a reference point close to 77K";
inline constexpr const char* kPromptNear300K = "Enter a reference point close to 300K";
inline constexpr const char* kPromptLowT = "Enter a reference point at LOW temperature";
inline constexpr const char* kPromptHighT = "Enter a reference point at HIGH temperature";
inline constexpr const char* kVoltUnit = "V";
inline constexpr const char* kOhmUnit = "ohm";
inline constexpr const char* kVoltageLabel = "Voltage:";
inline constexpr const char* kResistanceLabel = "Resistance:";

// Reference points a shift cannot use (less than 10 K apart); the dialog opens again.
inline constexpr const char* kAtLeast40KBox = "The reference temperature must be at least 40K.";
inline constexpr const char* kAtMost20KBox = "The reference temperature must be at most 20K.";
inline constexpr const char* kLowAtLeast40KBox =
    "The low reference temperature must be at least 40K.";
inline constexpr const char* kHighAboveLowBox =
    "The high reference temperature must be at least 10K above the low one.";
inline constexpr const char* kHighAboveMiddleBox =
    "The high reference temperature must be at least 10K above the middle one.";
inline constexpr const char* kLowBelow20KBox = "The low reference temperature must be at most 20K.";
inline constexpr const char* kTooCloseLog = "%10.6fK and %10.6fK are less than 10K apart.\n";
// Platinum with both points at one temperature: no line through them.
inline constexpr const char* kSameTemperatureBox =
    "The low and high reference temperatures must differ.";
inline constexpr const char* kSameTemperatureLog = "Both reference points are at %10.6fK.\n";
inline constexpr const char* kNoMemoryBox = "Not enough memory to generate the curve.";
}  // namespace calgen_texts

}  // namespace tavrix
