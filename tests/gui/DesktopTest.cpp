// The desktop program as an operator meets it: LAN on the built-in simulator through the real
// address dialog, the user-curve chooser's typed numbers, one operation at a time, the
// accelerator under the enable rule, the shortcut bar's close box and place, and pictures.
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QTreeView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include "GuiTestBench.h"
#include "app/CAboutDlg.h"
#include "base/DialogFrame.h"
#include "calgen/COnePoint.h"
#include "calgen/CSelectCalGenType.h"
#include "calgen/CTWOPOINTS.h"
#include "calgen/CThreePoints.h"
#include "calgen/QtDesktopPrograms.h"
#include "curves/CCalTblNumReq.h"
#include "curves/CCurveHeaderEdit.h"
#include "charts/CGraph.h"
#include "curves/CPIDTblNumReq.h"
#include "link/CCommSetUp.h"
#include "link/CGPIBAddrEditDlg.h"
#include "link/CPortSelect.h"
#include "curves/CTfrDlg.h"
#include "curves/CurveTexts.h"
#include "base/QtFileDialog.h"
#include "link/CIPEdit.h"
#include "base/MessageBoxes.h"
#include "link/LinkCommands.h"

using namespace tavrix;
using namespace tavrix::test;

namespace {

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
        QObject watching;  // ends the watch for boxes with this test
        WhenShown<QMessageBox>(
            [&](QMessageBox* box) {
                refusal = box->text();
                box->reject();
            },
            &watching);
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
        // Armed only where a refusal is due: the handler must not outlive this row.
        if (expected == 0)
            WhenShown<QMessageBox>([&](QMessageBox* box) {
                refusal = box->text();
                stillOpenDuringRefusal = dlg.isVisible();
                if (QTest::currentDataTag() == QByteArray("typed 9")) {
                    SaveGrab(dlg, "chooser-refuses-9");
                    SaveGrab(*box, "chooser-refuses-9-message");
                }
                box->accept();
            });
        QTest::mouseClick(dlg.OkButton(), Qt::LeftButton);
        Pump(20);
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
            for (QWidget* w : QApplication::topLevelWidgets())
                QVERIFY(!(qobject_cast<QMessageBox*>(w) && w->isVisible()));
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

        b.Frame().move(0, 0);
        b.Frame().resize(720, 420);
        b.Bar().move(500, 40);
        Pump(20);
        b.Bar().close();  // the close box
        b.Frame().RefreshCommandStates();
        QVERIFY(b.Frame().ActionFor(ID_SHORTCUT)->isEnabled());
        QCOMPARE(b.Settings().GetInt("SHORTCUTPOS", "WinLeft", 0), b.Bar().frameGeometry().left());
        QCOMPARE(b.Settings().GetInt("SHORTCUTPOS", "WinTop", 0), b.Bar().frameGeometry().top());
        b.Frame().ActionFor(ID_SHORTCUT)->trigger();
        QVERIFY(b.Bar().isVisible());
        b.Frame().RefreshCommandStates();
        QVERIFY(b.Frame().ActionFor(ID_SHORTCUT)->isEnabled());  // it always brings it forward

        // A minimised bar counts as not shown.
        b.Bar().showMinimized();
        b.Frame().RefreshCommandStates();
        QVERIFY(b.Frame().ActionFor(ID_SHORTCUT)->isEnabled());
        b.Frame().ActionFor(ID_SHORTCUT)->trigger();
        QVERIFY(!b.Bar().isMinimized());
        // The picture a window manager keeps: the main window, its tool window above it.
        b.Hub().Log().Append("Simulated controller on the pseudo-terminal and TCP port " +
                             std::to_string(b.Sim().TcpPort()) + ".\n");
        b.View().SyncLog();
        Pump(60);
        const QRect frame = b.Frame().frameGeometry(), bar = b.Bar().frameGeometry();
        const QRect all = frame.united(bar);
        QPixmap desk(all.size());
        desk.fill(Qt::darkCyan);
        {
            QPainter p(&desk);
            p.drawPixmap(frame.topLeft() - all.topLeft(), b.Frame().grab());
            p.drawPixmap(bar.topLeft() - all.topLeft(), b.Bar().grab());
            p.setPen(Qt::black);
            p.drawRect(QRect(bar.topLeft() - all.topLeft(), bar.size()).adjusted(0, 0, -1, -1));
        }
        QDir().mkpath(TAVRIX_SCREENSHOT_DIR);
        QVERIFY(desk.save(QString(TAVRIX_SCREENSHOT_DIR) + "/main-window-with-bar.png"));
    }

    // Modal dialogs: title and close box only, the whole title showing; the reference-point
    // dialogs start with the focus in their first field; the graph keeps a readable size.
    void dialogFramesFocusAndSizes() {
        TempDir dir;
        SettingsStore settings(dir.Str());
        ScriptedOperator op;
        QtDesktopPrograms desktop("/nonexistent/calculator");
        TwoPointsValues two;
        for (int i = 0; i < 8; i += 2) two.limits[i + 1] = 1000.0f;
        GraphModel graph;
        graph.SetLineCapacity(1);
        const std::vector<float> xs{1, 2, 3, 4}, ys{4, 3, 2, 1};
        graph.AddLine(xs.data(), ys.data(), 4);
        std::vector<std::unique_ptr<QDialog>> dialogs;
        dialogs.emplace_back(new CCommSetUp(settings, {1, 3}));
        dialogs.emplace_back(new CPortSelect(0));
        dialogs.emplace_back(new CGPIBAddrEditDlg(12));
        dialogs.emplace_back(new CIPEdit({0xC0A80004u, 5000}));
        dialogs.emplace_back(new CCalTblNumReq(EightNames()));
        dialogs.emplace_back(new CPIDTblNumReq(1));
        dialogs.emplace_back(new CCurveHeaderEdit(CurveHeaderEdit{}));
        dialogs.emplace_back(new CGraph(graph));
        dialogs.emplace_back(new CAboutDlg());
        dialogs.emplace_back(new CSelectCalGenType());
        dialogs.emplace_back(new COnePoint(OnePointValues{}, desktop, op));
        dialogs.emplace_back(new CTWOPOINTS(two, desktop, op));
        dialogs.emplace_back(new CThreePoints(ThreePointsValues{}, desktop, op));
        for (auto& d : dialogs) {
            d->show();
            Pump(10);
            const QString name = d->metaObject()->className();
            const Qt::WindowFlags f = d->windowFlags();
            QVERIFY2(!(f & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)),
                     qPrintable(name));
            QVERIFY2(f & Qt::CustomizeWindowHint, qPrintable(name));
            QVERIFY2(d->width() >= TitleWidth(*d), qPrintable(name));
        }
        QFont bold = QApplication::font();
        bold.setBold(true);
        QVERIFY(dialogs[2]->width() >
                QFontMetrics(bold).horizontalAdvance("Edit GPIB Address Dialog"));

        auto* one = static_cast<CReferencePointDialog*>(dialogs[10].get());
        auto* twoDlg = static_cast<CReferencePointDialog*>(dialogs[11].get());
        auto* three = static_cast<CReferencePointDialog*>(dialogs[12].get());
        for (auto* d : {one, twoDlg, three}) {
            d->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(d));
            QVERIFY2(qobject_cast<QLineEdit*>(d->focusWidget()),
                     d->metaObject()->className());
        }
        QCOMPARE(one->focusWidget(), static_cast<QWidget*>(one->Edit(1018)));
        QCOMPARE(twoDlg->focusWidget(), static_cast<QWidget*>(twoDlg->Edit(1022)));
        QCOMPARE(three->focusWidget(), static_cast<QWidget*>(three->Edit(1018)));

        QDialog& g = *dialogs[7];
        g.resize(50, 50);
        QVERIFY(g.width() >= 420 && g.height() >= 260);
    }

    // Texts from the instrument or a file are shown as they are, never as markup.
    void instrumentTextsArePlain() {
        GuiBench b;
        b.Hub().Bar().ShowModelAndVersion("<b>Model 9</b>", "<i>1.0</i>");
        Pump(20);
        for (const char* name : {"text1182", "text1191"}) {
            auto* l = b.Bar().findChild<QLabel*>(name);
            QVERIFY(l);
            QCOMPARE(l->textFormat(), Qt::PlainText);
        }
        QCOMPARE(b.Bar().ModelText(), QString("<b>Model 9</b>"));
        CTfrDlg progress;
        progress.SetMessage("<h1>curve</h1>");
        QCOMPARE(progress.findChild<QLabel*>()->textFormat(), Qt::PlainText);
        QString format;
        WhenShown<QMessageBox>([&](QMessageBox* box) {
            format = box->textFormat() == Qt::PlainText ? "plain" : "other";
            box->accept();
        });
        ShowMessageBox(nullptr, "<b>Cannot open</b> /tmp/<x>.crv", MessageIcon::Stop);
        QCOMPARE(format, QString("plain"));
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
        // Detail view with room for the longest texts its columns show here.
        auto* tree = d.findChild<QTreeView*>("treeView");
        QVERIFY(tree && tree->isVisible());
        const QFontMetrics fm = tree->fontMetrics();
        QHeaderView* h = tree->header();
        QVERIFY(h->sectionSize(0) >= fm.horizontalAdvance("check_negative.crv") + 24);
        QVERIFY(h->sectionSize(2) >= fm.horizontalAdvance("plain text document") + 8);
        QVERIFY(h->sectionSize(3) >= fm.horizontalAdvance("31 Dec 2026 23:59:59") + 8);
        int columns = 0;
        for (int i = 0; i < 4; ++i) columns += h->sectionSize(i);
        QVERIFY(tree->viewport()->width() >= columns);
        SaveGrab(d, "file-dialog");
    }
};

QTEST_MAIN(DesktopTest)
#include "DesktopTest.moc"
