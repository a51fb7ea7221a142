// The data logging windows and the monitors in the running program, on the simulator; the
// screenshots go to the build folder's screenshots/.
#include <QApplication>
#include <QChartView>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QLineSeries>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QValueAxis>

#include "GuiTestBench.h"
#include "app/Commands.h"
#include "charts/CStripChart.h"
#include "logging/CDataLogSetup.h"
#include "logging/CDataLoggingInProcMessage.h"

using namespace tavrix;
using namespace tavrix::test;

namespace {
std::vector<std::string> FileLines(const std::string& path) {
    return CrLfLines(path);
}

// Opens the chart's context menu as a right click does and chooses `item` in it; the texts the
// menu offered go to `offered`.
void ChooseFromContextMenu(CStripChart& chart, const QString& item, QStringList& offered) {
    WhenShown<QMenu>([&](QMenu* menu) {
        offered.clear();
        QAction* chosen = nullptr;
        for (QAction* a : menu->actions()) {
            offered << a->text();
            if (a->text() == item) chosen = a;
        }
        if (!chosen) {
            menu->close();
            return;
        }
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(chosen).center());
    });
    emit chart.ChartView()->customContextMenuRequested(QPoint(40, 40));
}
}  // namespace

class LoggingWindowsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { FreshConfigFolder(); }

    void setupDialogBindsItsRules() {
        FeatureManager f;
        f.Update(32);
        DataLogSetupModel preset;
        preset.EnableFrom(f);
        preset.interval = 30.0;
        ScriptedOperator op;
        CDataLogSetup dlg(preset);
        dlg.SetMessageTarget(&op);
        dlg.show();
        QCOMPARE(dlg.windowTitle(), QString("Data Logging Setup Dialog"));
        QCOMPARE(dlg.IntervalEdit()->text(), QString("30"));
        QVERIFY(!dlg.Box(2)->isEnabled());
        // Start with nothing checked: the message, and the dialog stays open.
        QTest::mouseClick(dlg.StartButton(), Qt::LeftButton);
        QCOMPARE(op.MessageTexts(),
                 std::vector<std::string>{"Please make channel selection as data source."});
        QVERIFY(dlg.isVisible());
        QTest::mouseClick(dlg.SelectAllButton(), Qt::LeftButton);
        for (int i = 0; i < 16; ++i) QCOMPARE(dlg.Box(i)->isChecked(), i < 2 || i >= 8);
        QCOMPARE(int(dlg.Model().mask), 0xFF03);
        QTest::mouseClick(dlg.Box(0), Qt::LeftButton);
        QCOMPARE(int(dlg.Model().mask), 0xFF02);
        dlg.adjustSize();
        Pump(30);
        SaveGrab(dlg, "logging-setup");
        dlg.IntervalEdit()->setText("0.05");
        QTest::mouseClick(dlg.ApplyButton(), Qt::LeftButton);
        QCOMPARE(op.MessageTexts().back(), std::string("Enter a number between 0.1 and 120000."));
        dlg.IntervalEdit()->setText("0.1");
        QTest::mouseClick(dlg.ApplyButton(), Qt::LeftButton);
        QCOMPARE(dlg.Model().interval, 0.1);
        QTest::mouseClick(dlg.CancelButton(), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QCOMPARE(dlg.Model().interval, 0.1);
    }

    void aRunThroughTheViewWithMonitorsOpen() {
        GuiBench::Options o;
        // The monitor thread's first wait is one interval long.
        o.beforeInitialUpdate = [](ViewHub& hub) {
            hub.Settings().WriteString("LOG", "INTERVAL", "0.2");
        };
        GuiBench b(o);
        b.PressConnect();
        QVERIFY(PumpUntil([&] { return b.Hub().Features().AnyInstrument(); }, 5000));
        b.op.logSetupAnswers.push_back([](DataLogSetupModel m) {
            m.mask = 0x0001 | 0x0002 | 0x0100 | 0x1000;
            m.interval = 0.1;
            return DialogResult<DataLogSetupModel>::Accept(m);
        });
        const std::string path = b.Settings().Folder() + "/gui-run.csv";
        b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(path));
        for (int id : {ID_MONITOR_A, ID_MONITOR_B, ID_MONITOR_HEATER1, ID_MONITOR_ANALOG1})
            b.View().OnCommand(id);
        b.View().OnCommand(ID_LOG_START);
        QVERIFY(b.View().SampleTimer()->isActive());
        QCOMPARE(b.View().SampleTimer()->interval(), 100);
        QVERIFY(!b.Hub().IsEnabled(ID_LOG_START));
        QVERIFY(b.Hub().IsEnabled(ID_DATALOG_UPLOAD));
        CDataLoggingInProcMessage& progress = *b.View().LoggingProgress();
        QVERIFY(progress.isVisible());
        QCOMPARE(progress.Slot(0)->text(), QString("Channel A"));
        QCOMPARE(progress.Slot(8)->text(), QString("Heater1"));
        QCOMPARE(progress.Slot(12)->text(), QString("Loop1 Setpoint"));

        // How long the GUI thread stalls meanwhile is measured by bench/gui_logging_stall.
        QVERIFY(
            PumpUntil([&] { return b.View().Logging().Engine().rowsWritten.load() >= 30; }, 15000));
        QVERIFY(progress.EntriesField()->text().toInt() >= 10);
        progress.adjustSize();
        SaveGrab(progress, "logging-progress");
        CStripChart& monitor = *b.View().Monitor(0);
        QVERIFY(PumpUntil([&] { return !monitor.Model().Labels()[97].empty(); }, 5000));
        QCOMPARE(monitor.Model().Unit(), std::string("K"));
        monitor.resize(640, 360);
        Pump(50);
        SaveGrab(monitor, "monitor-live");

        // Stop: the closing lines, the timer gone, the command enabled again.
        QTest::mouseClick(progress.StopButton(), Qt::LeftButton);
        QVERIFY(!b.View().SampleTimer()->isActive());
        QVERIFY(!progress.isVisible());
        const auto lines = FileLines(path);
        QVERIFY(lines.size() > 20);
        const long rows = b.View().Logging().Engine().rowsWritten.load();
        QCOMPARE(lines[lines.size() - 2], "Number of entries = " + std::to_string(rows));
        QCOMPARE(int(lines.size()), int(rows) + 8);

        // The operator switches input A to Celsius: a fresh chart with the new unit.
        {
            SessionLock lock(b.Hub().Mutex(), 1000);
            b.Hub().Link().Command("INP A:UNIT C");
        }
        QVERIFY(PumpUntil([&] { return monitor.Model().Unit() == "C"; }, 5000));
        QVERIFY(monitor.Model().Labels()[90].empty());

        // Closing the monitor hands its place to the settings and stops its polls.
        monitor.move(123, 145);
        Pump(20);
        monitor.reject();
        QCOMPARE(b.Hub().MonitorOpen(0).load(), 0);
        QVERIFY(b.Settings().GetInt("CHAPOS", "WinRight", 0) > 0);
        QCOMPARE(b.Settings().GetInt("CHAPOS", "WinLeft", -1), monitor.frameGeometry().left());
    }

    void aTooLongFileNameKeepsTheWindowButStopsTheRun() {
        GuiBench b;
        b.PressConnect();
        QVERIFY(PumpUntil([&] { return b.Hub().Features().AnyInstrument(); }, 5000));
        b.op.logSetupAnswers.push_back([](DataLogSetupModel m) {
            m.mask = 0x0001;
            m.interval = 5;
            return DialogResult<DataLogSetupModel>::Accept(m);
        });
        const std::string dir = b.Settings().Folder() + "/" + std::string(90, 'd');
        QDir().mkpath(QString::fromStdString(dir));
        const std::string path = dir + "/run.csv";
        b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(path));
        b.View().OnCommand(ID_LOG_START);
        CDataLoggingInProcMessage& progress = *b.View().LoggingProgress();
        QVERIFY(progress.isVisible());
        QTest::mouseClick(progress.StopButton(), Qt::LeftButton);
        QCOMPARE(b.op.MessageTexts().back(), std::string("Enter no more than 100 characters."));
        QVERIFY(progress.isVisible());
        QVERIFY(!b.Hub().LoggingActive().load());
        QCOMPARE(FileLines(path).back().rfind("Data logging terminated at ", 0), size_t(0));
    }

    // The desktop's own setup dialog, from the menu command: an applied interval outlives Cancel.
    void theSetupDialogFromTheMenuKeepsAnAppliedIntervalOnCancel() {
        GuiBench::Options o;
        o.qtDialogs = true;
        GuiBench b(o);
        b.PressConnect();
        QVERIFY(PumpUntil([&] { return b.Hub().Features().AnyInstrument(); }, 5000));
        bool shown = false;
        WhenShown<CDataLogSetup>([&](CDataLogSetup* d) {
            shown = true;
            d->IntervalEdit()->setText("2.5");
            QTest::mouseClick(d->ApplyButton(), Qt::LeftButton);
            QTest::mouseClick(d->CancelButton(), Qt::LeftButton);
        });
        b.View().OnCommand(ID_LOG_START);
        QVERIFY(shown);
        QCOMPARE(b.Settings().GetString("LOG", "INTERVAL", ""), std::string("2.500000"));
        QCOMPARE(b.Hub().LoggingInterval(), 2.5);
        QVERIFY(!b.View().SampleTimer()->isActive());
    }

    void monitorContextMenuCopiesTheDataAndSavesAPng() {
        CStripChart chart(100);
        chart.setWindowTitle("Channel A");
        chart.ApplyReading({"77.3", "K", "Stage"}, "09:00:00");
        chart.ApplyReading({"77.4", "K", "Stage"}, "09:00:01");
        chart.resize(480, 280);
        chart.show();
        Pump(30);
        const QSize viewBefore = chart.ChartView()->size();

        QStringList offered;
        QGuiApplication::clipboard()->clear();
        ChooseFromContextMenu(chart, "Copy Data", offered);
        QCOMPARE(offered, QStringList({"Save Image...", "Copy Data"}));
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QString("Time,Stage (K)\n09:00:00,77.3\n09:00:01,77.4\n"));

        // A name without an extension is saved as PNG. The name is typed into the dialog's
        // field as a person types it: a name set with selectFile() on a dialog already shown
        // is dropped when the field has the focus, and the folder it starts in may still be
        // loading and replace it.
        TempDir dir;
        const QString typed = QString::fromStdString(dir.Str()) + "/monitor";
        int columnsWidth = 0, viewWidth = 0;
        WhenShown<QFileDialog>([&](QFileDialog* d) {
            if (auto* tree = d->findChild<QTreeView*>("treeView")) {
                columnsWidth = tree->header()->length();
                viewWidth = tree->viewport()->width();
            }
            SaveGrab(*d, "monitor-save-image");
            ChooseFile(d, typed);
        });
        ChooseFromContextMenu(chart, "Save Image...", offered);
        QFile png(typed + ".png");
        QVERIFY(png.open(QIODevice::ReadOnly));
        QCOMPARE(png.read(8), QByteArray("\x89PNG\r\n\x1a\n", 8));
        png.close();
        const QImage image(png.fileName(), "PNG");
        QVERIFY(!image.isNull());
        // Drawn at a page-wide figure's size, not at the small window's.
        QCOMPARE(image.size(), QSize(1200, 700));
        QCOMPARE(chart.ImageSize(), QSize(1200, 700));
        QCOMPARE(chart.ChartView()->size(), viewBefore);
        QDir().mkpath(TAVRIX_SCREENSHOT_DIR);
        image.save(QString(TAVRIX_SCREENSHOT_DIR) + "/monitor-saved-image.png");
        // The dialog shows name, size, type and date side by side.
        QVERIFY(columnsWidth > 0);
        QVERIFY2(columnsWidth <= viewWidth,
                 qPrintable(QString("%1 > %2").arg(columnsWidth).arg(viewWidth)));
        QVERIFY(!chart.SaveImage(QString::fromStdString(dir.Str()) + "/no/such/folder/m.png"));
    }

    // Input C of the simulated controller sits near 77 K: the chart starts with the first
    // reading (no line up from 0), its scale around it, and shows only readings taken.
    void aMonitorAt77KDrawsOnlyItsReadings() {
        GuiBench::Options o;
        // The monitor thread steps through all twelve monitors, one per wait: the shortest
        // interval the setup takes gives the open one a reading every tenth of a second or so.
        o.beforeInitialUpdate = [](ViewHub& hub) {
            hub.Settings().WriteString("LOG", "INTERVAL", "0.1");
        };
        GuiBench b(o);
        b.PressConnect();
        QVERIFY(PumpUntil([&] { return b.Hub().Features().AnyInstrument(); }, 5000));
        b.View().OnCommand(ID_MONITOR_C);
        CStripChart& monitor = *b.View().Monitor(2);
        QVERIFY(PumpUntil([&] { return monitor.Model().Taken() >= 1; }, 10000));
        QCOMPARE(monitor.Series()->count(), monitor.Model().Taken());
        QVERIFY(monitor.ValueAxis()->min() > 60.0);
        QVERIFY(monitor.ValueAxis()->max() < 95.0);
        QCOMPARE(monitor.ValueAxis()->titleText(), QString("Temperature (K)"));
        QVERIFY(PumpUntil([&] { return monitor.Model().Taken() >= 30; }, 60000));
        QCOMPARE(monitor.Series()->count(), monitor.Model().Taken());
        QVERIFY(monitor.ValueAxis()->min() > 60.0);
        monitor.resize(640, 360);
        Pump(100);
        SaveGrab(monitor, "monitor-77K");
        monitor.reject();
    }

    void monitorsOpenWhereTheyWereClosed() {
        GuiBench::Options o;
        o.beforeInitialUpdate = [](ViewHub& hub) {
            hub.Settings().WriteInt("CHHPOS", "WinLeft", 40);
            hub.Settings().WriteInt("CHHPOS", "WinTop", 60);
            hub.Settings().WriteInt("CHHPOS", "WinRight", 540);
            hub.Settings().WriteInt("CHHPOS", "WinBottom", 420);
        };
        GuiBench b(o);
        // The stored rectangle is the window's outer frame.
        b.Hub().Features().Update(29);
        b.View().OnCommand(ID_MONITOR_H);
        QVERIFY(PumpUntil([&] { return b.View().Monitor(7)->frameGeometry().left() == 40; }, 3000));
        const QRect g = b.View().Monitor(7)->frameGeometry();
        QCOMPARE(g.left(), 40);
        QCOMPARE(g.top(), 60);
        QCOMPARE(g.width(), 500);
    }
};

QTEST_MAIN(LoggingWindowsTest)
#include "LoggingWindowsTest.moc"
