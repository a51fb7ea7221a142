// The RS232 set-up's device list: the adapters present under their stable names, the stored
// device kept, a typed path taken, and the simulator's own dialog storing nothing.
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include "GuiTestBench.h"
#include "link/CCommSetUp.h"

using namespace tavrix;
using namespace tavrix::test;

class SerialDeviceDialogTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { FreshConfigFolder(); }

    void listsTheAdaptersAndReturnsTheChosenOnesStableName() {
        TempDir dir;
        SettingsStore settings(dir.Str());
        settings.WriteString(settings::kSerialDevices, "COM2", "/dev/ttyUSB0");
        SerialDeviceInfo ttyS, usb;
        ttyS.node = "/dev/ttyS0";
        usb.node = "/dev/ttyUSB0";
        usb.byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
        usb.vendor = "FTDI";
        usb.product = "FT232R USB UART";
        usb.vendorId = "0403";
        usb.productId = "6001";
        const std::vector<SerialDeviceInfo> present{ttyS, usb};

        CCommSetUp dlg(settings, {1, 0}, {}, nullptr, &present);
        QComboBox* device = dlg.DeviceCombo();
        QCOMPARE(device->count(), 2);
        QCOMPARE(device->itemText(0), QString("/dev/ttyS0"));
        QVERIFY(device->itemText(1).contains("FTDI FT232R USB UART (0403:6001)"));
        // The adapter stored by its node is offered under its by-id name.
        QCOMPARE(device->currentIndex(), 1);
        QCOMPARE(dlg.Choice().device, usb.byId);
        QCOMPARE(dlg.DeviceText(), QString::fromStdString("Device: " + usb.byId));

        // COM1 has its default, which is present; COM4's default is not.
        dlg.PortCombo()->setCurrentIndex(0);
        QCOMPARE(dlg.Choice().device, std::string("/dev/ttyS0"));
        dlg.PortCombo()->setCurrentIndex(3);
        QCOMPARE(device->count(), 3);
        QCOMPARE(device->currentText(), QString("/dev/ttyUSB1 (not present)"));
        QCOMPARE(dlg.Choice().device, std::string("/dev/ttyUSB1"));

        device->lineEdit()->clear();
        QTest::keyClicks(device->lineEdit(), " /dev/ttyACM3 ");
        QCOMPARE(dlg.Choice().device, std::string("/dev/ttyACM3"));
        QCOMPARE(dlg.Choice().commPortIndex, 3);
    }

    void theSimulatorsDialogStoresNoDevice() {
        TempDir dir;
        SettingsStore settings(dir.Str());
        const std::vector<SerialDeviceInfo> none;
        CCommSetUp dlg(settings, {1, 0}, "/dev/pts/9", nullptr, &none);
        QVERIFY(!dlg.DeviceCombo()->isEnabled());
        QVERIFY(dlg.DeviceText().contains("/dev/pts/9 (simulated controller)"));
        QVERIFY(dlg.Choice().device.empty());
    }
};

QTEST_MAIN(SerialDeviceDialogTest)
#include "SerialDeviceDialogTest.moc"
