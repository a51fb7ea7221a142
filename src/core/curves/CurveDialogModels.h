#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "charts/GraphModel.h"

namespace tavrix {

// The curve header editor (CCurveHeaderEdit, "Edit Curve Header:"). The dialog binds its
// controls to these members; the rules live here.
struct CurveHeaderEdit {
    std::string name;
    // The text of the type field. Open() turns the curve's type into what the field shows.
    std::string type;
    float multiplier = 1.0f;
    int unitIndex = 0;         // position in kUnitListEntries
    uint32_t pointCount = 0;   // shown in the disabled count field
    bool sourceIsCrv = false;  // disables the "Save as .crv file" box
    bool saveAsCrv = false;    // the box
    GraphModel graph;          // for "Display Curve"

    // Prepares the graph: one line, temperatures on x, sensor values on y.
    void SetCurveData(const std::vector<float>& temperatures, const std::vector<float>& values,
                      uint32_t count, int unitCode);
    // Fills the members; the unit index comes from the unit code (UnitIndexOfCode).
    void SetHeader(const std::string& name, const std::string& type, float multiplier, int unitCode,
                   uint32_t count, bool sourceIsCrv);
    // Opening rules: the type field shows the first type entry that begins with the type text
    // (case ignored), or the text itself when none does.
    void Open();
    static std::string MatchType(const std::string& typeText);

    bool SaveBoxEnabled() const { return !sourceIsCrv; }
    // What the caller acts on after "Accept": a .crv source is never saved again as .crv.
    bool SaveRequested() const { return saveAsCrv && !sourceIsCrv; }

    // The multiplier field: 6 significant digits shown; a text that is not a number is refused
    // (false) and the dialog stays open with kEnterANumber.
    std::string MultiplierText() const;
    bool SetMultiplierText(const std::string& text);

    // After "Accept": the unit text of the chosen index ("Volts", "mVolts", "Ohms", "LogOhm");
    // `unitText` is left unchanged for any other index.
    void GetHeader(std::string& nameOut, std::string& typeOut, float& multiplierOut,
                   std::string& unitText) const;
};

// The header editor's graph: temperatures on x, the sensor values on y.
namespace sensor_graph_texts {
inline constexpr const char* kTitle = "Sensor Curve";
inline constexpr const char* kTemperatureAxis = "Temperature (K)";
inline constexpr const char* kOutputAxisPrefix = "Output ";
}  // namespace sensor_graph_texts

// The user-curve chooser (CCalTblNumReq): eight names, position 0 selected on opening.
struct UserCurveChoice {
    std::array<std::string, 8> names;
    int number = 1;  // chosen position + 1
    // A change of selection.
    void Select(int position) {
        if (position >= 0 && position < 8) number = position + 1;
    }
    // Text the operator typed into the field, taken on OK: a whole number 1..8 (blanks around
    // it allowed) becomes the number. Anything else is refused (false, number unchanged): the
    // dialog shows kChooserTypedRange and stays open, so a typo never overwrites curve 1.
    bool TakeTyped(const std::string& text);
};

// The PID table number request (CPIDTblNumReq): list "1".."6", any integer typed is taken.
struct PidTableNumber {
    static constexpr const char* kEntries[6] = {"1", "2", "3", "4", "5", "6"};
    // The integer of the field's text; false (with kEnterAnInteger shown) when it is not one.
    static bool Parse(const std::string& text, int& out);
};

}  // namespace tavrix
