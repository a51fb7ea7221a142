#include "link/CCommSetUp.h"

#include "base/DialogFrame.h"
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/SettingsStore.h"

namespace tavrix {

CCommSetUp::CCommSetUp(const SettingsStore& settings, const SerialSetupChoice& preset,
                       const std::string& deviceOverride, QWidget* parent,
                       const std::vector<SerialDeviceInfo>* present)
    : QDialog(parent),
      settings_(settings),
      override_(deviceOverride),
      present_(present ? *present : ListSerialDevices()) {
    setWindowTitle("Communicaton Setup");
    port_ = new QComboBox(this);
    port_->setObjectName("combo1000");
    port_->addItems({"COM1", "COM2", "COM3", "COM4"});
    baud_ = new QComboBox(this);
    baud_->setObjectName("combo1001");
    // The blanks after 19200 and 9600 are part of the list's texts.
    baud_->addItems({"115200", "57600", "38400", "19200 ", "9600 ", "4800", "2400", "1200"});
    device_ = new QComboBox(this);
    device_->setObjectName("deviceCombo");
    device_->setEditable(true);
    device_->setInsertPolicy(QComboBox::NoInsert);
    device_->setMinimumContentsLength(40);
    device_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);

    auto* form = new QFormLayout;
    form->addRow("Comm Port:", port_);
    form->addRow("Device:", device_);
    form->addRow("Baud Rate:", baud_);
    QDialogButtonBox* buttons = OkCancelButtons(*this);
    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addWidget(buttons);

    connect(port_, &QComboBox::currentIndexChanged, this, &CCommSetUp::ShowDevice);
    port_->setCurrentIndex(
        preset.commPortIndex >= 0 && preset.commPortIndex < 4 ? preset.commPortIndex : -1);
    baud_->setCurrentIndex(preset.baudIndex >= 0 && preset.baudIndex < 8 ? preset.baudIndex : -1);
    ShowDevice(port_->currentIndex());
    ModalDialogFrame(*this);
}

SerialSetupChoice CCommSetUp::Choice() const {
    SerialSetupChoice c{port_->currentIndex(), baud_->currentIndex()};
    if (override_.empty()) c.device = DevicePath();
    return c;
}

std::string CCommSetUp::DevicePath() const {
    const int i = device_->currentIndex();
    if (i >= 0 && device_->itemText(i) == device_->currentText())
        return device_->itemData(i).toString().toStdString();
    return device_->currentText().trimmed().toStdString();
}

QString CCommSetUp::DeviceText() const {
    if (!override_.empty())
        return QString("Device: %1 (simulated controller)").arg(QString::fromStdString(override_));
    return QString("Device: %1").arg(QString::fromStdString(DevicePath()));
}

void CCommSetUp::ShowDevice(int index) {
    device_->clear();
    if (!override_.empty()) {
        device_->addItem(DeviceText());
        device_->setEnabled(false);
        return;
    }
    if (index < 0 || index > 3) return;
    const std::string key = "COM" + std::to_string(index + 1);
    const std::string stored =
        settings_.GetString(settings::kSerialDevices, key, settings::kDefaultSerialDevice[index]);
    const SerialDeviceChoices choices = SerialDeviceChoices::For(present_, stored);
    for (const auto& e : choices.entries)
        device_->addItem(QString::fromStdString(e.label), QString::fromStdString(e.path));
    device_->setCurrentIndex(choices.selected);
}

}  // namespace tavrix
