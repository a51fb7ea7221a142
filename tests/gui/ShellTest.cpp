// The application shell against the simulated controller: enable rules of the menu and the
// shortcut bar per model, port selection while monitoring, a failed connect, shut-down with a
// worker waiting on the view.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>
#include <QTextBrowser>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <thread>

#include "GuiTestBench.h"
#include "app/CAboutDlg.h"
#include "app/QtOperator.h"
#include "base/Texts.h"
#include "charts/CStripChart.h"

using namespace tavrix;
using namespace tavrix::test;

namespace {

// Menu commands whose rule follows the identified model.
const int kModelDependent[] = {ID_MONITOR_A,       ID_MONITOR_B,       ID_MONITOR_C,
                               ID_MONITOR_D,       ID_MONITOR_E,       ID_MONITOR_F,
                               ID_MONITOR_G,       ID_MONITOR_H,       ID_MONITOR_HEATER1,
                               ID_MONITOR_HEATER2, ID_MONITOR_ANALOG1, ID_MONITOR_ANALOG2,
                               ID_PID_DOWNLOAD,    ID_PID_UPLOAD,      ID_DATALOG_UPLOAD,
                               ID_CALIBRATION,     ID_INTERACT,        ID_CURVE_DOWNLOAD,
                               ID_CURVE_UPLOAD,    ID_LOG_START,       ID_COMMAND_FILE};

bool MenuEnabled(GuiBench& b, int id) {
    QAction* a = b.Frame().ActionFor(id);
    if (!a) qFatal("no menu item for command %d", id);
    return a->isEnabled();
}

bool BarEnabled(GuiBench& b, int control) {
    return b.Bar().Button(control)->isEnabled();
}

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
    for (const auto& l : lines)
        if (l == text) return true;
    return false;
}

}  // namespace

class ShellTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { FreshConfigFolder(); }

    void beforeConnectOnlyCalGenAndConnectWork() {
        GuiBench b;
        Pump(20);
        b.Frame().RefreshCommandStates();
        QCOMPARE(b.Bar().StatusText(), QString("Not Connected"));
        QCOMPARE(b.Bar().ModelText(), QString("No Device"));
        QCOMPARE(b.Bar().TransportText(), QString("RS232"));
        QCOMPARE(b.Bar().LedIndex(), 1);
        QVERIFY(b.Bar().HasLed());
        for (int control : {1173, 1174, 1177, 1179, 1192})
            QVERIFY2(!BarEnabled(b, control), qPrintable(QString::number(control)));
        QVERIFY(BarEnabled(b, 1178));
        QVERIFY(BarEnabled(b, 1190));
        for (int id : kModelDependent)
            QVERIFY2(!MenuEnabled(b, id), qPrintable(QString::number(id)));
        for (int id :
             {ID_CONNECT, ID_PORT_SELECT, ID_RS232_SETUP, ID_CURVE_CONVERT, ID_CALGEN_DIODE_300K,
              ID_CALGEN_PLATINUM, ID_APP_ABOUT, ID_APP_EXIT, ID_HELP, ID_VIEW_STATUS_BAR})
            QVERIFY2(MenuEnabled(b, id), qPrintable(QString::number(id)));
        // "Shortcut" brings the bar forward, showing or not.
        QVERIFY(MenuEnabled(b, ID_SHORTCUT));
        b.Bar().close();
        b.Frame().RefreshCommandStates();
        QVERIFY(MenuEnabled(b, ID_SHORTCUT));
        b.View().OnCommand(ID_SHORTCUT);
        QVERIFY(b.Bar().isVisible());
    }

    void statusBarHelpAndUnfinishedCommands() {
        GuiBench b;
        Pump(20);
        QAction* status = b.Frame().ActionFor(ID_VIEW_STATUS_BAR);
        QVERIFY(status->isCheckable() && status->isChecked());
        status->trigger();
        QVERIFY(!b.Frame().statusBar()->isVisible());
        QVERIFY(!status->isChecked());
        status->trigger();
        QVERIFY(b.Frame().statusBar()->isVisible());
        QCOMPARE(b.Frame().statusBar()->currentMessage(), QString("Ready"));

        // The help page is built into the program.
        b.Frame().ActionFor(ID_HELP)->trigger();
        QVERIFY(b.View().HelpWindow() && b.View().HelpWindow()->isVisible());
        QVERIFY(b.View().HelpWindow()->Browser()->toPlainText().contains(
            "Connecting to an instrument"));

        // A command without an operation says so.
        b.Hub().Execute(0);
        QCOMPARE(b.op.MessageTexts(),
                 std::vector<std::string>{"This operation is not available in this version yet."});
    }

    void connectEnablesWhatTheModelHas_data() {
        QTest::addColumn<int>("model");
        QTest::addColumn<int>("inputs");  // 2, 4 or 8
        QTest::addColumn<bool>("heaters");
        QTest::addColumn<bool>("analog1");
        QTest::addColumn<bool>("analog2");
        QTest::newRow("27 controller, 4 inputs, 3 loops") << 27 << 4 << true << true << false;
        QTest::newRow("28 controller, 4 inputs, 4 loops") << 28 << 4 << true << true << true;
        QTest::newRow("29 monitor, 8 inputs") << 29 << 8 << false << false << false;
        QTest::newRow("30 monitor, 4 inputs") << 30 << 4 << false << false << false;
        QTest::newRow("31 monitor, 2 inputs") << 31 << 2 << false << false << false;
        QTest::newRow("32 controller, 2 inputs, 4 loops") << 32 << 2 << true << true << true;
    }

    void connectEnablesWhatTheModelHas() {
        QFETCH(int, model);
        QFETCH(int, inputs);
        QFETCH(bool, heaters);
        QFETCH(bool, analog1);
        QFETCH(bool, analog2);
        GuiBench::Options o;
        o.modelCode = model;
        GuiBench b(o);
        b.PressConnect();
        QVERIFY(PumpUntil([&] { return b.Bar().StatusText() == "Connected"; }, 5000));
        b.Frame().RefreshCommandStates();

        QCOMPARE(b.Bar().LedIndex(), 0);
        QVERIFY(b.Bar().ModelText().contains("Model"));
        QVERIFY(!b.Bar().VersionText().trimmed().isEmpty());
        QVERIFY(b.op.messages.empty());

        QVERIFY(MenuEnabled(b, ID_MONITOR_A) && MenuEnabled(b, ID_MONITOR_B));
        QCOMPARE(MenuEnabled(b, ID_MONITOR_C), inputs >= 4);
        QCOMPARE(MenuEnabled(b, ID_MONITOR_D), inputs >= 4);
        for (int id : {ID_MONITOR_E, ID_MONITOR_F, ID_MONITOR_G, ID_MONITOR_H})
            QCOMPARE(MenuEnabled(b, id), inputs == 8);
        QCOMPARE(MenuEnabled(b, ID_MONITOR_HEATER1), heaters);
        QCOMPARE(MenuEnabled(b, ID_MONITOR_HEATER2), heaters);
        QCOMPARE(MenuEnabled(b, ID_MONITOR_ANALOG1), analog1);
        QCOMPARE(MenuEnabled(b, ID_MONITOR_ANALOG2), analog2);
        QCOMPARE(MenuEnabled(b, ID_PID_DOWNLOAD), heaters);
        QCOMPARE(MenuEnabled(b, ID_PID_UPLOAD), heaters);
        QCOMPARE(MenuEnabled(b, ID_CALIBRATION), heaters);  // offered on controllers only
        QVERIFY(MenuEnabled(b, ID_DATALOG_UPLOAD));
        for (int id :
             {ID_INTERACT, ID_CURVE_DOWNLOAD, ID_CURVE_UPLOAD, ID_LOG_START, ID_COMMAND_FILE})
            QVERIFY(MenuEnabled(b, id));

        QVERIFY(BarEnabled(b, 1173));
        QCOMPARE(BarEnabled(b, 1174), heaters);
        QVERIFY(BarEnabled(b, 1177));
        QVERIFY(BarEnabled(b, 1179));
        QVERIFY(BarEnabled(b, 1192));

        // Calibration is reached through its menu item's key.
        QCOMPARE(b.Frame().ActionFor(ID_CALIBRATION)->shortcut(), QKeySequence("Ctrl+Shift+K"));
    }

    // Port selection and Connect from the menu over LAN, then over GPIB (the simulated driver
    // library), and a lost link that drops the LAN connection.
    void connectOverLanAndGpibFromTheMenu() {
        ::setenv("TAVRIX_GPIB_LIBRARY", TAVRIX_GPIB_SIM_PATH, 1);
        GuiBench b;
        b.op.portTypeAnswers.push_back(DialogResult<int>::Accept(kPortLan));
        b.Frame().ActionFor(ID_PORT_SELECT)->trigger();
        QCOMPARE(b.Bar().TransportText(), QString("LAN"));
        QCOMPARE(b.LogLines().at(b.LogLines().size() - 2), std::string("Changed to LAN port."));
        b.op.ipAnswers.push_back(DialogResult<IpAddressChoice>::Accept(
            {0x7F000001u, static_cast<unsigned long>(b.Sim().TcpPort())}));
        b.Frame().ActionFor(ID_CONNECT)->trigger();
        QVERIFY(PumpUntil([&] { return b.Bar().StatusText() == "Connected"; }, 5000));
        QVERIFY(b.Hub().Link().Lan().IsConnected());
        QCOMPARE(b.Settings().GetInt("CommunicationSetup", "IPPort", 0), b.Sim().TcpPort());

        // A worker that lost the instrument tells the view; the bar and the link follow.
        b.Hub().Messenger().Post(WM_LINK_LOST, kStateError, 0);
        QVERIFY(PumpUntil([&] { return b.Bar().StatusText() == "Error"; }, 2000));
        QCOMPARE(b.Bar().ModelText(), QString("No Device"));
        QVERIFY(!b.Hub().Link().Lan().IsConnected());

        b.op.portTypeAnswers.push_back(DialogResult<int>::Accept(kPortGpib));
        b.Frame().ActionFor(ID_PORT_SELECT)->trigger();
        QCOMPARE(b.Bar().TransportText(), QString("GPIB"));
        QCOMPARE(b.Bar().StatusText(), QString("Not Connected"));
        b.op.gpibAnswers.push_back(DialogResult<int>::Accept(12));
        b.PressConnect();
        QVERIFY(PumpUntil([&] { return b.Bar().StatusText() == "Connected"; }, 10000));
        QVERIFY(b.Bar().ModelText().contains("Model"));
        QCOMPARE(b.op.gpibPresets.back(), 12);
        ::unsetenv("TAVRIX_GPIB_LIBRARY");
    }

    void monitorsShowOwnWindowsAndBlockPortSelection() {
        GuiBench b;
        b.PressConnect();
        QVERIFY(PumpUntil([&] { return b.Bar().StatusText() == "Connected"; }, 5000));
        b.Frame().RefreshCommandStates();

        b.Frame().ActionFor(ID_MONITOR_HEATER2)->trigger();
        CStripChart* heater2 = b.View().Monitor(9);
        QVERIFY(heater2->isVisible());
        QCOMPARE(heater2->windowTitle(), QString("Heater 2"));
        QCOMPARE(heater2->Length(), 100);
        QVERIFY(!b.View().Monitor(8)->isVisible());
        QCOMPARE(b.Hub().MonitorOpen(9).load(), 1);
        b.Frame().RefreshCommandStates();
        QVERIFY(!MenuEnabled(b, ID_MONITOR_HEATER2));

        b.View().OnCommand(ID_PORT_SELECT);
        QCOMPARE(b.op.messages.size(), size_t(1));
        QCOMPARE(
            b.op.messages[0].text,
            std::string("Please terminates all communicating activites before switching port."));
        QCOMPARE(b.op.messages[0].icon, MessageIcon::Exclamation);
        QVERIFY(b.op.portTypePresets.empty());

        // Closing the monitor only hides it and ends its part in the communication.
        heater2->close();
        QVERIFY(!heater2->isVisible());
        QCOMPARE(b.Hub().MonitorOpen(9).load(), 0);
        b.Frame().RefreshCommandStates();
        QVERIFY(MenuEnabled(b, ID_MONITOR_HEATER2));

        b.op.portTypeAnswers.push_back(DialogResult<int>::Accept(kPortLan));
        b.View().OnCommand(ID_PORT_SELECT);
        QCOMPARE(b.op.portTypePresets, std::vector<int>{kPortRs232});
        Pump(20);
        QCOMPARE(b.Bar().TransportText(), QString("LAN"));
        QCOMPARE(b.Bar().StatusText(), QString("Not Connected"));
        QCOMPARE(b.Bar().ModelText(), QString("No Device"));
        QVERIFY(Contains(b.LogLines(), "Changed to LAN port."));
        b.Frame().RefreshCommandStates();
        QVERIFY(!MenuEnabled(b, ID_RS232_SETUP));
        QVERIFY(!MenuEnabled(b, ID_MONITOR_A));
    }

    void failedRs232ConnectEndsInErrorWithCheckList() {
        GuiBench b;
        b.Sim().Engine().Faults().silent = true;
        b.PressConnect();  // a silent instrument takes the link's repeats (about 5.5 s)
        QVERIFY(PumpUntil([&] { return b.Bar().StatusText() == "Error"; }, 15000));
        QCOMPARE(b.Bar().LedIndex(), 2);
        QCOMPARE(b.Bar().ModelText(), QString("No Device"));
        QCOMPARE(b.Bar().VersionText().trimmed(), QString());
        const auto texts = b.op.MessageTexts();
        QVERIFY(std::find(texts.begin(), texts.end(), "Communication Error") != texts.end());
        const auto lines = b.LogLines();
        for (const char* item : texts::kRs232CheckList) {
            std::string line(item);
            line.pop_back();  // the log stores lines without their "\n"
            QVERIFY2(Contains(lines, line), item);
        }
        b.Frame().RefreshCommandStates();
        // No device: no monitors, and none of the buttons that need an instrument.
        QVERIFY(!MenuEnabled(b, ID_MONITOR_A));
        for (int control : {1173, 1174, 1177, 1179, 1192})
            QVERIFY2(!BarEnabled(b, control), qPrintable(QString::number(control)));
        // The log view follows the newest line.
        b.View().SyncLog();
        QScrollBar* v = b.View().verticalScrollBar();
        QCOMPARE(v->value(), v->maximum());
    }

    // After a working connect, a failed one greys the same commands and buttons whichever
    // transport failed: LAN (the server refuses) or RS232 (the instrument is silent).
    void aFailedConnectGreysTheSameOverLanAndRs232_data() {
        QTest::addColumn<bool>("lan");
        QTest::newRow("LAN") << true;
        QTest::newRow("RS232") << false;
    }
    void aFailedConnectGreysTheSameOverLanAndRs232() {
        QFETCH(bool, lan);
        GuiBench b;
        const unsigned long port = static_cast<unsigned long>(b.Sim().TcpPort());
        if (lan) {
            b.op.portTypeAnswers.push_back(DialogResult<int>::Accept(kPortLan));
            b.View().OnCommand(ID_PORT_SELECT);
            b.op.ipAnswers.push_back(DialogResult<IpAddressChoice>::Accept({0x7F000001u, port}));
        }
        b.PressConnect();
        QVERIFY(PumpUntil([&] { return b.Bar().StatusText() == "Connected"; }, 5000));
        b.Frame().RefreshCommandStates();
        QVERIFY(MenuEnabled(b, ID_LOG_START) && BarEnabled(b, 1179));

        if (lan) {
            // Port 1 of the loopback: nobody listens there.
            b.op.ipAnswers.push_back(DialogResult<IpAddressChoice>::Accept({0x7F000001u, 1}));
        } else {
            b.Sim().Engine().Faults().silent = true;
        }
        b.PressConnect();
        QVERIFY(PumpUntil([&] { return b.Bar().StatusText() == "Error"; }, 15000));
        Pump(20);
        b.Frame().RefreshCommandStates();
        QCOMPARE(b.Bar().ModelText(), QString("No Device"));
        for (int control : {1173, 1174, 1177, 1179, 1192})
            QVERIFY2(!BarEnabled(b, control), qPrintable(QString::number(control)));
        for (int id : kModelDependent)
            QVERIFY2(!MenuEnabled(b, id), qPrintable(QString::number(id)));
        // The bar's "Data Logging" has nothing to open either.
        b.op.logSetupPresets.clear();
        b.Hub().OnMessage(WM_SHORTCUT_DATA_LOGGING, 0, 0);
        QVERIFY(b.op.logSetupPresets.empty());
    }

    // The program names itself; the message log has its context menu.
    void titlesAndTheMessageLogMenu() {
        GuiBench b;
        QCOMPARE(b.Frame().windowTitle(), QString("Tavrix Utility Software"));
        QVERIFY(CAboutDlg::Text().startsWith("Tavrix Utility Software"));
        QCOMPARE(CAboutDlg().windowTitle(), QString("About Tavrix Utility Software"));
        b.Frame().ActionFor(ID_HELP)->trigger();
        QVERIFY(b.View().HelpWindow()->windowTitle().startsWith("Tavrix Utility Software"));

        b.Hub().Log().Clear();
        b.Hub().Log().Append("alpha\nbeta\n");
        b.View().SyncLog();
        auto menuActions = [&] {
            std::unique_ptr<QMenu> menu(b.View().BuildContextMenu(nullptr));
            std::map<QString, bool> out;  // text -> enabled
            for (QAction* a : menu->actions())
                if (!a->isSeparator()) out[a->text()] = a->isEnabled();
            return out;
        };
        auto trigger = [&](const QString& text) {
            std::unique_ptr<QMenu> menu(b.View().BuildContextMenu(nullptr));
            for (QAction* a : menu->actions())
                if (a->text() == text) a->trigger();
        };
        auto items = menuActions();
        QCOMPARE(items.size(), size_t(4));
        QVERIFY(items.count("Select All") && items.count("Save As...") && items.count("Clear"));
        QVERIFY(!items.at("Copy"));  // nothing selected yet
        trigger("Select All");
        QVERIFY(menuActions().at("Copy"));
        QGuiApplication::clipboard()->clear();
        trigger("Copy");
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("alpha\nbeta\n"));

        // A drag selects whole lines.
        const int lh = b.View().LineHeight();
        QTest::mousePress(b.View().viewport(), Qt::LeftButton, {}, QPoint(10, lh / 2));
        QMouseEvent move(QEvent::MouseMove, QPointF(30, lh + lh / 2), QPointF(30, lh + lh / 2),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(b.View().viewport(), &move);
        QCOMPARE(b.View().SelectedText(), QString("alpha\nbeta"));

        TempDir dir;
        const std::string path = dir.Str() + "/log.txt";
        b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(path));
        trigger("Save As...");
        std::ifstream in(path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        QCOMPARE(QString::fromStdString(bytes), QString("alpha\r\nbeta\r\n\r\n"));
        // A file that cannot be written is said so.
        b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(dir.Str() + "/no/x.txt"));
        trigger("Save As...");
        QCOMPARE(b.op.MessageTexts().back(), "Unable to write " + dir.Str() + "/no/x.txt");

        trigger("Clear");
        QCOMPARE(b.LogLines(), std::vector<std::string>{""});
        QVERIFY(!menuActions().at("Copy"));
    }

    // A file dialog starts in the folder where that kind of file was last chosen.
    void fileDialogsStartWhereTheirKindWasLastChosen() {
        GuiBench::Options o;
        o.qtDialogs = true;
        GuiBench b(o);
        TempDir dir;
        const QString curves = QString::fromStdString(dir.Str()) + "/curves";
        QDir().mkpath(curves);
        std::ofstream((curves + "/a.crv").toStdString()) << "x";
        const FileDialogRequest crv{
            "Curve Files (*.crv)|*.crv||", "crv", kFileMustExist | kHideReadOnly, {}};
        const FileDialogRequest pid{
            "PID Table Files (*.pid)|*.pid||", "pid", kFileMustExist | kHideReadOnly, {}};
        QString startedIn;
        WhenShown<QFileDialog>([&](QFileDialog* d) {
            d->selectFile(curves + "/a.crv");
            QMetaObject::invokeMethod(d, "accept");
        });
        QVERIFY(b.View().GuiOperator()->AskOpenFile(crv).Ok());
        QCOMPARE(QString::fromStdString(b.Settings().GetString("FOLDERS", "CURVES", "")), curves);
        for (auto [request, expectHere] : {std::pair{crv, true}, std::pair{pid, false}}) {
            WhenShown<QFileDialog>([&](QFileDialog* d) {
                startedIn = d->directory().absolutePath();
                d->reject();
            });
            QVERIFY(!b.View().GuiOperator()->AskOpenFile(request).Ok());
            QCOMPARE(startedIn == curves, expectHere);
        }
    }

    void shutdownWhileWorkerWaitsInSend() {
        std::atomic<int> sends{0};
        std::atomic<bool> workerEnded{false};
        GuiBench::Options o;
        o.beforeInitialUpdate = [&](ViewHub& hub) {
            hub.RegisterMessage(WM_USER + 2000, [&](intptr_t, intptr_t) -> intptr_t {
                ++sends;
                return 0;
            });
            hub.SetSamplingBody([&](ViewHub& h) {
                while (!h.QuitEvent().IsSet()) h.Messenger().Send(WM_USER + 2000, 0, 0);
                workerEnded = true;
            });
        };
        GuiBench b(o);
        QVERIFY(PumpUntil([&] { return sends.load() > 3; }, 3000));
        // The GUI thread stops taking messages: the worker now waits in Send until the view's
        // destruction tells it the program quits.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const long long ms = b.DestroyFrame();
        QVERIFY(workerEnded.load());
        QVERIFY2(ms < 5000, qPrintable(QString("shut-down took %1 ms").arg(ms)));
    }

    void shutdownWhileWorkerWaitsOnQtOperator() {
        // A worker reporting through the real operator waits for the GUI thread; the view's
        // destruction must not wait on it in turn.
        std::atomic<bool> workerEnded{false};
        GuiBench::Options o;
        o.qtDialogs = true;
        o.beforeInitialUpdate = [&](ViewHub& hub) {
            hub.SetSamplingBody([&](ViewHub& h) {
                h.Operator().ShowMessage("Communication Error", MessageIcon::Stop);
                workerEnded = true;
            });
        };
        GuiBench b(o);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const long long ms = b.DestroyFrame();
        QVERIFY(workerEnded.load());
        QVERIFY2(ms < 5000, qPrintable(QString("shut-down took %1 ms").arg(ms)));
        Pump(50);  // the abandoned report must not run any more
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    void logFromAnotherThreadIsDrawnWithTheNewestLineInView() {
        GuiBench b;
        std::thread t([&] {
            for (int i = 0; i < 3000; ++i) b.Hub().Log().Append("line " + std::to_string(i) + "\n");
        });
        t.join();
        QScrollBar* v = b.View().verticalScrollBar();
        QVERIFY(PumpUntil([&] { return v->maximum() > 0 && v->value() == v->maximum(); }, 2000));
        const int lines = (v->maximum() + b.View().viewport()->height()) / b.View().LineHeight();
        QVERIFY2(lines >= ViewLog::kLines - 1, qPrintable(QString::number(lines)));
    }

    void exitSavesTheWindowRectangle() {
        GuiBench b;
        b.Frame().setGeometry(50, 60, 700, 500);
        Pump(20);
        b.View().OnCommand(ID_APP_EXIT);
        Pump(20);
        SettingsStore& s = b.Settings();
        QCOMPARE(s.GetInt(settings::kMainViewPos, settings::kWinLeft, 0),
                 b.Frame().geometry().left());
        QCOMPARE(s.GetInt(settings::kMainViewPos, settings::kWinRight, 0) -
                     s.GetInt(settings::kMainViewPos, settings::kWinLeft, 0),
                 b.Frame().geometry().width());
    }
};

QTEST_MAIN(ShellTest)
#include "ShellTest.moc"
