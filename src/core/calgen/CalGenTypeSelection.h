#pragma once

#include <string>
#include <vector>

namespace tavrix {

// The rules of dialog 172 "Select CalGen Type": two sorted drop-down lists; the points list is
// usable only for a diode. Accept gives the parameters of WM_CALGEN_REQUEST.
class CalGenTypeSelection {
public:
    static constexpr const char* kTitle = "Select CalGen Type";
    static constexpr int kSensorTypeList = 1152, kPointsList = 1188;
    static constexpr const char* kSensorTypeLabel = "Sensor Type:";
    static constexpr const char* kPointsLabel = "Number of points:";
    static constexpr const char* kAcceptText = "Accept";
    static constexpr int kDiode = 0;

    // List entries in list order (the lists sort their entries).
    static const std::vector<std::string>& SensorTypeEntries();
    static const std::vector<std::string>& PointsEntries();

    // The dialog opens: both lists select their first entry; nothing is accepted yet.
    void Open();
    void SelectSensorType(int index);
    void SelectPoints(int index);
    int SensorTypeSelection() const { return sensorSel_; }
    int PointsSelection() const { return pointsSel_; }
    bool PointsListEnabled() const { return sensorSel_ == kDiode; }
    // Accept stores both selections.
    void Accept();

    // -1 until accepted; then wParam and lParam of WM_CALGEN_REQUEST.
    int sensorType = -1;
    int points = -1;

private:
    int sensorSel_ = -1;
    int pointsSel_ = -1;
};

// Sorts list entries as a sorted drop-down list does (letters compared without case).
void SortListEntries(std::vector<std::string>& entries);

}  // namespace tavrix
