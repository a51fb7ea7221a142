#pragma once

#include <QDialog>
#include <string>

#include "link/LinkDialogs.h"

class QComboBox;
class QLabel;

namespace tavrix {

class SettingsStore;

// "Communicaton Setup": COM port and baud rate. Below the port list it names the device the
// selected COM port stands for on this machine.
class CCommSetUp : public QDialog {
    Q_OBJECT
public:
    // `deviceOverride` non-empty: every COM port opens that device (the simulator).
    CCommSetUp(const SettingsStore& settings, const SerialSetupChoice& preset,
               const std::string& deviceOverride = {}, QWidget* parent = nullptr);

    SerialSetupChoice Choice() const;
    QComboBox* PortCombo() const { return port_; }
    QComboBox* BaudCombo() const { return baud_; }
    QString DeviceText() const;

private:
    void ShowDevice(int index);

    const SettingsStore& settings_;
    std::string override_;
    QComboBox* port_;
    QComboBox* baud_;
    QLabel* device_;
};

}  // namespace tavrix
