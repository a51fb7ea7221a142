// Pictures of the main window, the shortcut bar and the communication dialogs, for a person to
// look at; written to the build folder's screenshots/.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "GuiTestBench.h"
#include "app/CAboutDlg.h"
#include "app/CVoduradApp.h"
#include "curves/CTfrDlg.h"
#include "link/CCommSetUp.h"
#include "link/CGPIBAddrEditDlg.h"
#include "link/CIPEdit.h"
#include "link/CPortSelect.h"

using namespace tavrix;
using namespace tavrix::test;

class ScreenshotTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { FreshConfigFolder(); }

    void mainWindowAndBarAfterConnecting() {
        GuiBench b;
        b.Frame().resize(760, 420);
        b.Hub().Log().Append("Simulated controller (model code 28) on " + b.Sim().PtyPath() +
                             " and TCP port " + std::to_string(b.Sim().TcpPort()) + ".\n");
        // First a silent instrument (the failure report), then one that answers.
        b.Sim().Engine().Faults().silent = true;
        b.PressConnect();
        QVERIFY(PumpUntil([&] { return b.Bar().StatusText() == "Error"; }, 15000));
        SaveGrab(b.Bar(), "shortcut-bar-error");
        b.Sim().Engine().Faults().silent = false;
        b.PressConnect();
        QVERIFY(PumpUntil([&] { return b.Bar().StatusText() == "Connected"; }, 5000));
        Pump(120);
        SaveGrab(b.Frame(), "main-window");
        SaveGrab(b.Bar(), "shortcut-bar");
    }

    // The whole application as it starts on the simulator. Under a real X server (xvfb-run)
    // the picture is the screen with the main window and the bar where they were placed.
    void applicationOnTheSimulator() {
        ScriptedOperator op;
        CVoduradApp app;
        CVoduradApp::Options options;
        options.simulate = true;
        QVERIFY(app.InitInstance(options, &op));
        CVoduradView& view = *app.MainFrame()->View();
        QTest::mouseClick(view.ShortcutBar()->Button(1190), Qt::LeftButton);
        QVERIFY(PumpUntil([&] { return view.ShortcutBar()->StatusText() == "Connected"; }, 5000));
        Pump(300);
        QPixmap screen;
        if (QGuiApplication::platformName() == "xcb")
            screen = QGuiApplication::primaryScreen()->grabWindow(0);
        if (screen.isNull()) screen = app.MainFrame()->grab();
        QDir().mkpath(TAVRIX_SCREENSHOT_DIR);
        QVERIFY(screen.save(QString(TAVRIX_SCREENSHOT_DIR) + "/application.png"));
    }

    void dialogs() {
        TempDir dir;
        SettingsStore settings(dir.Str());
        CCommSetUp comm(settings, {1, 3});
        SaveShown(comm, "comm-setup");
        CPortSelect ports(0);
        SaveShown(ports, "port-select");
        CGPIBAddrEditDlg gpib(12);
        SaveShown(gpib, "gpib-address");
        CIPEdit ip({0xC0A80004u, 5000});
        SaveShown(ip, "ip-edit");
        CTfrDlg progress;
        progress.Open();
        progress.SetMessage("Downloading curve 21 to the controller...");
        progress.SetPos(45);
        SaveShown(progress, "progress");
        CAboutDlg about;
        SaveShown(about, "about");
    }
};

QTEST_MAIN(ScreenshotTest)
#include "ScreenshotTest.moc"
