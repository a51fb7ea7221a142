// The communication dialogs, the progress window and the shortcut bar on their own.
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <thread>

#include "GuiTestBench.h"
#include "curves/CTfrDlg.h"
#include "link/CCommSetUp.h"
#include "link/CGPIBAddrEditDlg.h"
#include "link/CIPEdit.h"
#include "link/CPortSelect.h"

using namespace tavrix;
using namespace tavrix::test;

namespace {
// Closes the next message box that opens and hands back its text.
void CatchNextMessageBox(QString* text) {
    QTimer::singleShot(0, [text] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                *text = box->text();
                box->accept();
                return;
            }
        }
        CatchNextMessageBox(text);
    });
}

QStringList Items(QComboBox* c) {
    QStringList items;
    for (int i = 0; i < c->count(); ++i) items << c->itemText(i);
    return items;
}
}  // namespace

class DialogTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { FreshConfigFolder(); }

    void ipEditRefusesAPortOutOfRangeAndStaysOpen() {
        CIPEdit dlg({0xC0A80004u, 5000});
        dlg.show();
        QCOMPARE(dlg.windowTitle(), QString("Edit IP Address"));
        QCOMPARE(dlg.Octet(0)->text(), QString("192"));
        QCOMPARE(dlg.Octet(3)->text(), QString("4"));
        QCOMPARE(dlg.PortEdit()->text(), QString("5000"));
        QVERIFY(dlg.ConnectButton()->isDefault());

        for (const char* bad : {"10001", "-1"}) {
            QString shown;
            dlg.PortEdit()->setText(bad);
            CatchNextMessageBox(&shown);
            QTest::mouseClick(dlg.ConnectButton(), Qt::LeftButton);
            QCOMPARE(shown, QString("Enter an integer between 0 and 10000."));
            QVERIFY(dlg.isVisible());
            QCOMPARE(dlg.result(), 0);
        }
        QString shown;
        dlg.PortEdit()->setText("50x");
        CatchNextMessageBox(&shown);
        QTest::mouseClick(dlg.ConnectButton(), Qt::LeftButton);
        QCOMPARE(shown, QString("Enter an integer."));
        QVERIFY(dlg.isVisible());

        dlg.PortEdit()->setText("10000");
        dlg.Octet(0)->setText("10");
        dlg.Octet(1)->setText("");  // an empty field is 0, as in an address control
        dlg.Octet(2)->setText("255");
        dlg.Octet(3)->setText("7");
        QTest::mouseClick(dlg.ConnectButton(), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(dlg.Choice().address, 0x0A00FF07u);
        QCOMPARE(dlg.Choice().port, 10000ul);
    }

    void ipOctetFieldsTakeAtMost255AndMoveOnWithADot() {
        CIPEdit dlg({0, 0});
        dlg.show();
        QApplication::setActiveWindow(&dlg);
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        dlg.Octet(0)->setFocus();
        dlg.Octet(0)->clear();
        QTest::keyClicks(dlg.Octet(0), "1.");
        QCOMPARE(dlg.Octet(0)->text(), QString("1"));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(dlg.Octet(1)));
        QTest::keyClicks(dlg.Octet(1), "172");  // three digits: on to the third field
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(dlg.Octet(2)));
        dlg.Octet(2)->clear();
        QTest::keyClicks(dlg.Octet(2), "300");
        QVERIFY(dlg.Octet(2)->text().toInt() <= 255);
    }

    // Typing or pasting a whole address over the one shown fills the four parts.
    void ipAddressTypedOrPastedOverTheOldOne_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("paste");
        QTest::addColumn<quint32>("address");
        QTest::newRow("typed 127.0.0.1") << "127.0.0.1" << false << 0x7F000001u;
        QTest::newRow("typed 10.200.3.45") << "10.200.3.45" << false << 0x0AC8032Du;
        QTest::newRow("pasted 127.0.0.1") << "127.0.0.1" << true << 0x7F000001u;
        QTest::newRow("pasted 1.2.3.4 with blanks") << " 1.2.3.4 " << true << 0x01020304u;
    }
    void ipAddressTypedOrPastedOverTheOldOne() {
        QFETCH(QString, typed);
        QFETCH(bool, paste);
        QFETCH(quint32, address);
        CIPEdit dlg({0xC0A80004u, 5000});
        dlg.show();
        QApplication::setActiveWindow(&dlg);
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(dlg.Octet(0)));
        if (paste) {
            QGuiApplication::clipboard()->setText(typed);
            QTest::keySequence(QApplication::focusWidget(), QKeySequence::Paste);
        } else {
            // Each key goes where the focus is, as the operator's keys do.
            for (QChar c : typed) QTest::keyClicks(QApplication::focusWidget(), QString(c));
        }
        QTest::mouseClick(dlg.ConnectButton(), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(QString::number(dlg.Choice().address, 16), QString::number(address, 16));
    }

    void gpibAddressDialogStartsInItsField() {
        CGPIBAddrEditDlg dlg(12);
        dlg.show();
        QApplication::setActiveWindow(&dlg);
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QCOMPARE(QApplication::focusWidget(), dlg.findChild<QWidget*>("combo1137"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QTest::keyClick(&dlg, Qt::Key_Return);
        QCOMPARE(dlg.Address(), 13);
    }

    void commSetUpListsPortsAndBaudRatesAndNamesTheDevice() {
        TempDir dir;
        SettingsStore settings(dir.Str());
        settings.WriteString(settings::kSerialDevices, "COM4", "/dev/ttyACM0");
        CCommSetUp dlg(settings, {2, 4});
        QCOMPARE(dlg.windowTitle(), QString("Communicaton Setup"));
        QCOMPARE(Items(dlg.PortCombo()), QStringList({"COM1", "COM2", "COM3", "COM4"}));
        QCOMPARE(Items(dlg.BaudCombo()), QStringList({"115200", "57600", "38400", "19200 ", "9600 ",
                                                      "4800", "2400", "1200"}));
        QCOMPARE(dlg.PortCombo()->currentIndex(), 2);
        QCOMPARE(dlg.BaudCombo()->currentIndex(), 4);
        QCOMPARE(dlg.DeviceText(), QString("Device: /dev/ttyUSB0"));
        dlg.PortCombo()->setCurrentIndex(3);
        QCOMPARE(dlg.DeviceText(), QString("Device: /dev/ttyACM0"));
        QCOMPARE(dlg.Choice().commPortIndex, 3);
        QCOMPARE(dlg.Choice().baudIndex, 4);

        CCommSetUp simulated(settings, {1, 0}, "/dev/pts/9");
        QVERIFY(simulated.DeviceText().contains("/dev/pts/9"));
    }

    void portSelectAndGpibAddressPresetAndReturnTheChoice() {
        CPortSelect ports(3);
        QCOMPARE(ports.windowTitle(), QString("Port Select Dialog"));
        QVERIFY(ports.Radio(3)->isChecked());
        QCOMPARE(ports.Radio(0)->text(), QString("RS232"));
        QCOMPARE(ports.Radio(2)->text(), QString("GPIB..."));
        ports.Radio(2)->setChecked(true);
        QCOMPARE(ports.PortType(), 2);
        QCOMPARE(ports.OldPortType(), 3);
        QVERIFY(
            ports.findChild<QLabel*>()->text() ==
            "Select the port to communicate with controller\nClick GPIB to change GPIB address");

        CGPIBAddrEditDlg gpib(12);
        QCOMPARE(gpib.windowTitle(), QString("Edit GPIB Address Dialog"));
        QCOMPARE(gpib.Combo()->count(), 32);
        QCOMPARE(gpib.Combo()->itemText(31), QString("31"));
        QCOMPARE(gpib.Address(), 12);
        gpib.Combo()->setCurrentIndex(0);
        QCOMPARE(gpib.Address(), 0);
    }

    void progressWindowShowsAtMost70CharactersAndTheBar() {
        CTfrDlg dlg;
        QCOMPARE(dlg.windowTitle(), QString("Download/Upload Message"));
        QCOMPARE(dlg.MessageText(), QString("Transferring data. Please wait....."));
        dlg.Open();
        dlg.SetMessage(std::string(90, 'x'));
        QCOMPARE(dlg.MessageText().size(), 70);
        dlg.SetRange(0, 100);
        dlg.SetPos(40);
        QCOMPARE(dlg.Pos(), 40);
        QVERIFY(dlg.isVisible() && !dlg.isModal());
    }

    void barWithoutLedImageSaysSoAndWorksOn() {
        ShortcutBarModel model;
        ScriptedOperator op;
        CShortCutButtons bar(model, op, nullptr, "/nonexistent/leds.png");
        QCOMPARE(op.messages.size(), size_t(1));
        QCOMPARE(op.messages[0].text, std::string("Failed to load LED bitmaps"));
        QCOMPARE(op.messages[0].icon, MessageIcon::Stop);
        QVERIFY(!bar.HasLed());
        model.ShowTransport(2);
        model.SetStatus(kStateError);
        QCOMPARE(bar.TransportText(), QString("GPIB"));
        QCOMPARE(bar.StatusText(), QString("Error"));
        QCOMPARE(bar.LedIndex(), 2);
    }

    void barFollowsItsModelFromAnyThreadAndPostsToTheView() {
        ShortcutBarModel model;
        ScriptedOperator op;
        CShortCutButtons bar(model, op);
        QVERIFY(bar.HasLed());
        QCOMPARE(bar.windowTitle(), QString("Short Cuts"));
        QCOMPARE(bar.Button(1173)->text(), QString("Sensor Curve    Download"));
        std::thread([&] {
            model.ShowModelAndVersion("Model 28 Controller", "1.07");
            model.EnableButton(ShortcutButton::PidDownload, true);
        }).join();
        QVERIFY(PumpUntil([&] { return bar.VersionText() == "1.07"; }, 1000));
        QCOMPARE(bar.ModelText(), QString("Model 28 Controller"));
        QVERIFY(bar.Button(1174)->isEnabled());
        QVERIFY(!bar.Button(1173)->isEnabled());

        // The buttons post to the target and do nothing while it is unset.
        QTest::mouseClick(bar.Button(1190), Qt::LeftButton);  // no target: nothing happens
        ManualResetEvent quit;
        std::vector<int> posted;
        ViewMessenger target([](std::function<void()> f) { QTimer::singleShot(0, f); }, quit);
        target.SetHandler([&](int m, intptr_t, intptr_t) -> intptr_t {
            posted.push_back(m);
            return 0;
        });
        bar.SetTarget(&target);
        QTest::mouseClick(bar.Button(1190), Qt::LeftButton);
        QTest::mouseClick(bar.Button(1174), Qt::LeftButton);
        QVERIFY(posted.empty());  // queued, like a posted window message
        Pump(20);
        QCOMPARE(posted, (std::vector<int>{WM_SHORTCUT_CONNECT, WM_SHORTCUT_PID_DOWNLOAD}));
    }
};

QTEST_MAIN(DialogTest)
#include "DialogTest.moc"
