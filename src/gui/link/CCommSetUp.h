#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "link/LinkDialogs.h"
#include "link/SerialDevices.h"

class QComboBox;

namespace tavrix {

class SettingsStore;

// "Communicaton Setup": COM port and baud rate. Below the port list the operator picks the
// device the selected COM port stands for: the serial devices present, or a path typed in.
class CCommSetUp : public QDialog {
    Q_OBJECT
public:
    // `deviceOverride` non-empty: every COM port opens that device (the simulator).
    // `present`: the devices to offer; null lists the ones on this machine.
    CCommSetUp(const SettingsStore& settings, const SerialSetupChoice& preset,
               const std::string& deviceOverride = {}, QWidget* parent = nullptr,
               const std::vector<SerialDeviceInfo>* present = nullptr);

    SerialSetupChoice Choice() const;
    QComboBox* PortCombo() const { return port_; }
    QComboBox* BaudCombo() const { return baud_; }
    QComboBox* DeviceCombo() const { return device_; }
    // "Device: " and the path the selected COM port will open.
    QString DeviceText() const;

private:
    void ShowDevice(int index);
    std::string DevicePath() const;

    const SettingsStore& settings_;
    std::string override_;
    std::vector<SerialDeviceInfo> present_;
    QComboBox* port_;
    QComboBox* baud_;
    QComboBox* device_;
};

}  // namespace tavrix
