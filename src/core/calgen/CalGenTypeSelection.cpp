#include "calgen/CalGenTypeSelection.h"

#include <algorithm>
#include <cctype>

namespace tavrix {

namespace {
std::vector<std::string> Sorted(std::vector<std::string> v) {
    SortListEntries(v);
    return v;
}
}  // namespace

void SortListEntries(std::vector<std::string>& entries) {
    std::stable_sort(
        entries.begin(), entries.end(), [](const std::string& a, const std::string& b) {
            return std::lexicographical_compare(
                a.begin(), a.end(), b.begin(), b.end(),
                [](unsigned char x, unsigned char y) { return std::tolower(x) < std::tolower(y); });
        });
}

const std::vector<std::string>& CalGenTypeSelection::SensorTypeEntries() {
    static const std::vector<std::string> entries = Sorted({"Diode", "Platinum", "Thermocouple"});
    return entries;
}

const std::vector<std::string>& CalGenTypeSelection::PointsEntries() {
    static const std::vector<std::string> entries =
        Sorted({"1 point at 300K", "1 point at 4.2K", "2 points", "3 points"});
    return entries;
}

void CalGenTypeSelection::Open() {
    sensorSel_ = 0;
    pointsSel_ = 0;
    sensorType = -1;
    points = -1;
}

void CalGenTypeSelection::SelectSensorType(int index) {
    if (index >= 0 && index < static_cast<int>(SensorTypeEntries().size())) sensorSel_ = index;
}

void CalGenTypeSelection::SelectPoints(int index) {
    if (index >= 0 && index < static_cast<int>(PointsEntries().size())) pointsSel_ = index;
}

void CalGenTypeSelection::Accept() {
    sensorType = sensorSel_;
    points = pointsSel_;
}

}  // namespace tavrix
