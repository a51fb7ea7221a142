#include "calibration/CalibSteps.h"

#include <cstring>

namespace tavrix {

namespace {

// Models 27 and 28 share these rows.
constexpr CalibStep kInputSteps[] = {
    {"Calibrating %s, Silicon Diode Volt", "Si Diode V", "INST A:TYPE V10UA;TYPE?",
     "INPUT A:UNIT S;ISENIX 19;:*OPC?", "Apply 1.9V and enter actual volt ", 1.9,
     "Apply 0.3V and enter actual volt ", 0.3, 0},
    {"Calibrating %s, Silicon Diode Current", "Si Diode I", "INST A:TYPE I10UA;TYPE?",
     "INPUT A:UNIT S;ISENIX 1;:*OPC? ", "Apply 100Kohm and enter actual resistance ", 100000, "", 0,
     3},
    {"Calibrating %s, 1mA CI AC Resistance ", "1mA AC", "INST A:TYPE R1mA;TYPE?",
     "INPUT A:UNIT S;ISENIX 20;:*OPC?", "Apply 100ohm and enter actual resistance ", 100,
     "Apply 10ohm and enter actual resistance ", 10, 0},
    {"Calibrating %s, 100uA CI AC Resistance ", "100uA AC", "INST A:TYPE R100UA;TYPE?",
     "INPUT A:UNIT S;ISENIX 21;:*OPC?", "Apply 1Kohm and enter actual resistance ", 1000,
     "Apply 100ohm and enter actual resistance ", 100, 0},
    {"Calibrating %s, 10uA CI AC Resistance ", "10uA AC", "INST A:TYPE R10UA;TYPE?",
     "INPUT A:UNIT S;ISENIX 22;:*OPC?", "Apply 10Kohm and enter actual resistance ", 10000,
     "Apply 1Kohm and enter actual resistance ", 1000, 0},
    {"Calibrating %s, 10uA DC NTC Res. ", "10uA DC", "INST A:TYPE NTC10UA;TYPE?",
     "INPUT A:UNIT S;sensor 31;:*OPC?", "Apply 100Kohm and enter actual resistance ", 100000, "", 0,
     3},
    {"Calibrating %s, 10K C-V AC range ", "10K C-V AC", "INST A:TYPE ACR10K;TYPE?",
     "INPUT A:UNIT S;iSENIX 33;vbias 10mv;Brange 10K;Brange?",
     "Apply 100Kohm and enter actual resistance ", 100000,
     "Apply 10Kohm and enter actual resistance ", 10000, 0},
    {"Calibrating %s, 1.0K C-V AC range ", "1.0K C-V AC", "INST A:TYPE ACR1K;TYPE?",
     "INPUT A:Brange 1.0K;Brange?", "Apply 10Kohm and enter actual resistance ", 10000,
     "Apply 1Kohm and enter actual resistance ", 1000, 0},
    {"Calibrating %s, 100 range ", "100ohm C-V AC", "INST A:TYPE ACR100;TYPE?",
     "INPUT A:Brange 100;Brange?", "Apply 1Kohm and enter actual resistance ", 1000,
     "Apply 100ohm and enter actual resistance ", 100, 0},
    {"Calibrating %s, 10 range ", "10ohm C-V AC", "INST A:TYPE ACR10;TYPE?",
     "INPUT A:Brange 10;Brange?", "Apply 100 ohm and enter actual resistance ", 100,
     "Apply 10 ohm and enter actual resistance ", 10, 0},
    {"", "", "", "", "", 0, "", 0, 0},
};

}  // namespace

int CalibChannelCount(int modelCode) {
    switch (modelCode) {
        case 27:
        case 28:
        case 30:
            return 4;
        case 29:
            return 8;
        case 31:
        case 32:
            return 2;
        default:
            return 0;
    }
}

const CalibStep* CalibStepTable(int modelCode) {
    return modelCode == 27 || modelCode == 28 ? kInputSteps : nullptr;
}

int CalibStepCount(const CalibStep* table) {
    int n = 0;
    if (!table) return 0;
    while (table[n].title[0] != '\0') ++n;
    return n;
}

std::string WithLetterAt(const char* text, size_t index, char letter) {
    std::string s(text);
    if (index < s.size()) s[index] = letter;
    return s;
}

}  // namespace tavrix
