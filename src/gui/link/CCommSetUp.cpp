#include "link/CCommSetUp.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/SettingsStore.h"

namespace tavrix {

CCommSetUp::CCommSetUp(const SettingsStore& settings, const SerialSetupChoice& preset,
                       const std::string& deviceOverride, QWidget* parent)
    : QDialog(parent), settings_(settings), override_(deviceOverride) {
    setWindowTitle("Communicaton Setup");
    port_ = new QComboBox(this);
    port_->setObjectName("combo1000");
    port_->addItems({"COM1", "COM2", "COM3", "COM4"});
    baud_ = new QComboBox(this);
    baud_->setObjectName("combo1001");
    // The blanks after 19200 and 9600 are part of the list's texts.
    baud_->addItems({"115200", "57600", "38400", "19200 ", "9600 ", "4800", "2400", "1200"});
    device_ = new QLabel(this);
    device_->setObjectName("deviceLabel");
    device_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    device_->setForegroundRole(QPalette::PlaceholderText);

    auto* form = new QFormLayout;
    form->addRow("Comm Port:", port_);
    form->addRow("", device_);
    form->addRow("Baud Rate:", baud_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText("OK");
    buttons->button(QDialogButtonBox::Cancel)->setText("Cancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addWidget(buttons);

    connect(port_, &QComboBox::currentIndexChanged, this, &CCommSetUp::ShowDevice);
    port_->setCurrentIndex(
        preset.commPortIndex >= 0 && preset.commPortIndex < 4 ? preset.commPortIndex : -1);
    baud_->setCurrentIndex(preset.baudIndex >= 0 && preset.baudIndex < 8 ? preset.baudIndex : -1);
    ShowDevice(port_->currentIndex());
}

SerialSetupChoice CCommSetUp::Choice() const {
    return {port_->currentIndex(), baud_->currentIndex()};
}

QString CCommSetUp::DeviceText() const {
    return device_->text();
}

void CCommSetUp::ShowDevice(int index) {
    if (index < 0 || index > 3) {
        device_->clear();
        return;
    }
    if (!override_.empty()) {
        device_->setText(
            QString("Device: %1 (simulated controller)").arg(QString::fromStdString(override_)));
        return;
    }
    const std::string key = "COM" + std::to_string(index + 1);
    const std::string path =
        settings_.GetString(settings::kSerialDevices, key, settings::kDefaultSerialDevice[index]);
    device_->setText(QString("Device: %1").arg(QString::fromStdString(path)));
}

}  // namespace tavrix
