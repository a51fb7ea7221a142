// The desktop program as an operator meets it: LAN on the built-in simulator through the real
// address dialog, the user-curve chooser's typed numbers, one operation at a time, the
// accelerator under the enable rule, the shortcut bar's close box and place, and pictures.
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include "GuiTestBench.h"
#include "curves/CCalTblNumReq.h"
#include "curves/CTfrDlg.h"
#include "curves/CurveTexts.h"
#include "curves/QtFileDialog.h"
#include "link/CIPEdit.h"
#include "link/LinkCommands.h"

using namespace tavrix;
using namespace tavrix::test;

namespace {

void SaveGrab(QWidget& w, const QString& name) {
    QDir().mkpath(TAVRIX_SCREENSHOT_DIR);
    const QString path = QString(TAVRIX_SCREENSHOT_DIR) + "/" + name + ".png";
    QVERIFY2(w.grab().save(path), qPrintable(path));
}

UserCurveChoice EightNames() {
    UserCurveChoice c;
    for (int i = 0; i < 8; ++i) c.names[static_cast<size_t>(i)] = "USER CURVE " + std::to_string(i + 1);
    return c;
}

}  // namespace

class DesktopTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { FreshConfigFolder(); }

    // The simulator's port is one the dialog accepts, and Connect with the preset works.
    void lanConnectOnTheBuiltInSimulatorThroughTheRealDialog() {
        GuiBench::Options o;
        o.qtDialogs = true;
        o.asDesktopSim = true;
        GuiBench b(o);
        QVERIFY(b.Sim().TcpPort() >= SimulatedController::kFirstTcpPort);
        QVERIFY(b.Sim().TcpPort() <= CIPEdit::kPortMax);
        b.Hub().Link().SetPortType(kPortLan);

        QString refusal;
        WhenShown<QMessageBox>([&](QMessageBox* box) {
            refusal = box->text();
            box->reject();
        });
        bool dialogSeen = false;
        WhenShown<CIPEdit>([&](CIPEdit* d) {
            dialogSeen = true;
            QCOMPARE(d->findChild<QLineEdit*>("edit1233")->text(),
                     QString::number(b.Sim().TcpPort()));
            QTest::mouseClick(d->findChild<QPushButton*>("button1167"), Qt::LeftButton);
        });
        b.PressConnect();
        QVERIFY(PumpUntil([&] { return b.Bar().StatusText() == "Connected"; }, 8000));
        QVERIFY(dialogSeen);
        QCOMPARE(refusal, QString());
        QVERIFY(b.Hub().Link().Lan().IsConnected());
    }

    // Typing into the chooser: a number 1..8 picks that curve; anything else is refused and
    // the dialog stays open; choosing from the list works as before.
    void chooserTakesTypedNumbersAndRefusesTheRest_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("pickFromList");  // -1: none after typing
        QTest::addColumn<int>("expected");      // 0: refused
        QTest::newRow("untouched gives 1") << QString() << -1 << 1;
        QTest::newRow("typed 3") << "3" << -1 << 3;
        QTest::newRow("typed 8 with blanks") << " 8 " << -1 << 8;
        QTest::newRow("typed 9") << "9" << -1 << 0;
        QTest::newRow("typed 0") << "0" << -1 << 0;
        QTest::newRow("typed a name of no curve") << "USER CURVE 9" << -1 << 0;
        QTest::newRow("field emptied") << "" << -1 << 0;
        QTest::newRow("typed, then the list decides") << "7" << 4 << 5;
    }
    void chooserTakesTypedNumbersAndRefusesTheRest() {
        QFETCH(QString, typed);
        QFETCH(int, pickFromList);
        QFETCH(int, expected);
        CCalTblNumReq dlg(EightNames());
        dlg.show();
        QLineEdit* field = dlg.Combo()->lineEdit();
        if (!typed.isNull() || QTest::currentDataTag() == QByteArray("field emptied")) {
            field->selectAll();
            QTest::keyClick(field, Qt::Key_Delete);
            QTest::keyClicks(field, typed);
        }
        if (pickFromList >= 0) dlg.Combo()->setCurrentIndex(pickFromList);

        QString refusal;
        bool stillOpenDuringRefusal = false;
        WhenShown<QMessageBox>([&](QMessageBox* box) {
            refusal = box->text();
            stillOpenDuringRefusal = dlg.isVisible();
            if (QTest::currentDataTag() == QByteArray("typed 9")) SaveGrab(dlg, "chooser-refuses-9");
            box->accept();
        });
        QTest::mouseClick(dlg.OkButton(), Qt::LeftButton);
        Pump(expected == 0 ? 200 : 20);
        if (expected == 0) {
            QCOMPARE(refusal, QString(curve_texts::kChooserTypedRange));
            QVERIFY(stillOpenDuringRefusal);
            QVERIFY(dlg.isVisible());
            QCOMPARE(dlg.result(), 0);
            // The operator corrects the number and the dialog closes with it.
            field->selectAll();
            QTest::keyClicks(field, "2");
            QTest::mouseClick(dlg.OkButton(), Qt::LeftButton);
            QCOMPARE(dlg.Choice().number, 2);
        } else {
            QCOMPARE(refusal, QString());
            QCOMPARE(dlg.Choice().number, expected);
        }
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
    }

    // While one download runs, neither the bar, the menu nor a message starts another; once
    // it is over the next one runs.
    void secondDownloadRefusedWhileOneRuns() {
        GuiBench b;
        b.PressConnect();
        QVERIFY(PumpUntil([&] { return b.Bar().StatusText() == "Connected"; }, 5000));
        int started = 0, nestedRefused = 0;
        b.Hub().RegisterOperation(ID_CURVE_DOWNLOAD, [&] {
            if (++started > 1) return;
            // Inside the first download (as in its dialogs): every way in is tried.
            b.Frame().RefreshCommandStates();
            QVERIFY(!b.Frame().ActionFor(ID_CURVE_DOWNLOAD)->isEnabled());
            QVERIFY(!b.Frame().ActionFor(ID_CURVE_UPLOAD)->isEnabled());
            QVERIFY(!b.Frame().ActionFor(ID_CONNECT)->isEnabled());
            QTest::mouseClick(b.Bar().Button(1173), Qt::LeftButton);
            Pump(50);
            b.View().OnCommand(ID_CURVE_DOWNLOAD);
            b.Hub().Messenger().Post(WM_SHORTCUT_CURVE_DOWNLOAD, 0, 0);
            Pump(50);
            if (!b.Hub().Run(ID_CURVE_UPLOAD)) ++nestedRefused;
        });
        QVERIFY(b.Hub().Run(ID_CURVE_DOWNLOAD));
        QCOMPARE(started, 1);
        QCOMPARE(nestedRefused, 1);
        QVERIFY(!b.Hub().OperationRunning());
        QTest::mouseClick(b.Bar().Button(1173), Qt::LeftButton);
        QVERIFY(PumpUntil([&] { return started == 2; }, 2000));
    }

    // The progress window of a running transfer cannot be closed by the operator.
    void progressWindowStaysUntilTheTransferEnds() {
        CTfrDlg dlg;
        dlg.Open();
        QTest::keyClick(&dlg, Qt::Key_Escape);
        dlg.close();
        Pump(20);
        QVERIFY(dlg.isVisible());
        QVERIFY(!(dlg.windowFlags() & Qt::WindowCloseButtonHint));
        dlg.Finish();
        QVERIFY(!dlg.isVisible());
    }

    // A download's bar reaches 100 % before "Download Complete", and an upload's too.
    void transfersEndAtOneHundredPercent() {
        GuiBench b;
        b.PressConnect();
        QVERIFY(PumpUntil([&] { return b.Bar().StatusText() == "Connected"; }, 5000));
        b.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(
            std::string(TAVRIX_TEST_DATA_DIR) + "/curves/descending.crv"));
        b.op.headerAnswers.push_back(ScriptedOperator::AcceptHeader());
        b.op.userCurveAnswers.push_back(DialogResult<int>::Accept(2));
        b.View().OnCommand(ID_CURVE_DOWNLOAD);
        QCOMPARE(b.op.MessageTexts(), std::vector<std::string>{"Download Complete"});
        QCOMPARE(b.op.progress.back()->positions.back(), 100);

        TempDir dir;
        b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(dir.Str() + "/u.crv"));
        b.op.userCurveAnswers.push_back(DialogResult<int>::Accept(2));
        b.View().OnCommand(ID_CURVE_UPLOAD);
        QCOMPARE(b.op.MessageTexts().back(), std::string("Upload Complete"));
        QCOMPARE(b.op.progress.back()->positions.back(), 100);
    }

    // Ctrl+Shift+K follows the calibration rule, as the menu does.
    void calibrationAcceleratorFollowsTheRule() {
        GuiBench b;
        int runs = 0;
        b.Hub().RegisterOperation(ID_CALIBRATION, [&] { ++runs; });
        b.Frame().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&b.Frame()));
        QTest::keyClick(&b.Frame(), Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
        Pump(20);
        QCOMPARE(runs, 0);  // no instrument yet

        b.PressConnect();
        QVERIFY(PumpUntil([&] { return b.Bar().StatusText() == "Connected"; }, 5000));
        b.Frame().activateWindow();
        QTest::keyClick(&b.Frame(), Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
        Pump(20);
        QCOMPARE(runs, 1);

        // A model without calibration: the accelerator does nothing, even before the menu
        // was refreshed.
        b.Hub().Features().Reset();
        QTest::keyClick(&b.Frame(), Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
        Pump(20);
        QCOMPARE(runs, 1);
    }

    // The bar is a tool window of the main window; after its close box "&Shortcut" brings it
    // back; its place is kept.
    void shortcutBarFloatsAboveAndComesBack() {
        GuiBench::Options o;
        o.beforeInitialUpdate = [](ViewHub& hub) {
            SettingsStore& s = hub.Settings();
            s.WriteInt("SHORTCUTPOS", "WinLeft", 40);
            s.WriteInt("SHORTCUTPOS", "WinTop", 30);
            s.WriteInt("SHORTCUTPOS", "WinRight", 240);
            s.WriteInt("SHORTCUTPOS", "WinBottom", 330);
        };
        GuiBench b(o);
        Pump(20);
        QVERIFY(b.Bar().windowFlags() & Qt::Tool);
        QCOMPARE(b.Bar().parentWidget(), static_cast<QWidget*>(&b.Frame()));
        QVERIFY(b.Bar().windowHandle());
        QCOMPARE(b.Bar().windowHandle()->transientParent(), b.Frame().windowHandle());
        QCOMPARE(b.Bar().frameGeometry().topLeft(), QPoint(40, 30));

        b.Bar().move(90, 70);
        Pump(20);
        b.Bar().close();  // the close box
        b.Frame().RefreshCommandStates();
        QVERIFY(b.Frame().ActionFor(ID_SHORTCUT)->isEnabled());
        QCOMPARE(b.Settings().GetInt("SHORTCUTPOS", "WinLeft", 0), b.Bar().frameGeometry().left());
        QCOMPARE(b.Settings().GetInt("SHORTCUTPOS", "WinTop", 0), b.Bar().frameGeometry().top());
        b.Frame().ActionFor(ID_SHORTCUT)->trigger();
        QVERIFY(b.Bar().isVisible());
        b.Frame().RefreshCommandStates();
        QVERIFY(!b.Frame().ActionFor(ID_SHORTCUT)->isEnabled());

        // A minimised bar counts as not shown.
        b.Bar().showMinimized();
        b.Frame().RefreshCommandStates();
        QVERIFY(b.Frame().ActionFor(ID_SHORTCUT)->isEnabled());
        b.Frame().ActionFor(ID_SHORTCUT)->trigger();
        QVERIFY(!b.Bar().isMinimized());
        SaveGrab(b.Frame(), "main-window-with-bar");
    }

    // The picture of a file dialog as the curve download opens it.
    void fileDialogPicture() {
        QFileDialog d;
        ConfigureFileDialog(d, {curve_texts::kDownloadFilter, curve_texts::kDownloadExtension,
                                kFileMustExist | kHideReadOnly, {}},
                            false);
        d.setDirectory(TAVRIX_TEST_DATA_DIR "/curves");
        d.show();
        Pump(300);
        QVERIFY(d.width() >= 760);
        SaveGrab(d, "file-dialog");
    }
};

QTEST_MAIN(DesktopTest)
#include "DesktopTest.moc"
