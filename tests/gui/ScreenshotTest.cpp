// Pictures of the main window, the shortcut bar and the communication dialogs, for a person to
// look at; written to the build folder's screenshots/.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTest>

#include "GuiTestBench.h"
#include "app/CAboutDlg.h"
#include "curves/CTfrDlg.h"
#include "link/CCommSetUp.h"
#include "link/CGPIBAddrEditDlg.h"
#include "link/CIPEdit.h"
#include "link/CPortSelect.h"

using namespace tavrix;
using namespace tavrix::test;

namespace {
void Save(QWidget& w, const char* name) {
    w.show();
    w.adjustSize();
    Pump(30);
    QDir().mkpath(TAVRIX_SCREENSHOT_DIR);
    const QString path = QString(TAVRIX_SCREENSHOT_DIR) + "/" + name + ".png";
    QVERIFY2(w.grab().save(path), qPrintable(path));
}
}  // namespace

class ScreenshotTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { FreshConfigFolder(); }

    void mainWindowAndBarAfterConnecting() {
        GuiBench b;
        b.Frame().resize(760, 420);
        b.Hub().Log().Append("Simulated controller (model code 28) on " + b.Sim().PtyPath() +
                             " and TCP port " + std::to_string(b.Sim().TcpPort()) + ".\n");
        b.PressConnect();
        QVERIFY(PumpUntil([&] { return b.Bar().StatusText() == "Connected"; }, 5000));
        // A failed RS232 exchange's report, to show how the log reads.
        b.View().OnCommand(ID_CURVE_CONVERT);
        b.Hub().Log().Append("Changed to RS232 port.\n");
        Pump(120);
        QVERIFY(!b.Frame().grab().isNull());
        QDir().mkpath(TAVRIX_SCREENSHOT_DIR);
        QVERIFY(b.Frame().grab().save(QString(TAVRIX_SCREENSHOT_DIR) + "/main-window.png"));
        QVERIFY(b.Bar().grab().save(QString(TAVRIX_SCREENSHOT_DIR) + "/shortcut-bar.png"));
    }

    void dialogs() {
        TempDir dir;
        SettingsStore settings(dir.Str());
        CCommSetUp comm(settings, {1, 3});
        Save(comm, "comm-setup");
        CPortSelect ports(0);
        Save(ports, "port-select");
        CGPIBAddrEditDlg gpib(12);
        Save(gpib, "gpib-address");
        CIPEdit ip({0xC0A80004u, 5000});
        Save(ip, "ip-edit");
        CTfrDlg progress;
        progress.Open();
        progress.SetMessage("Downloading curve 21 to the controller...");
        progress.SetPos(45);
        Save(progress, "progress");
        CAboutDlg about;
        Save(about, "about");
    }
};

QTEST_MAIN(ScreenshotTest)
#include "ScreenshotTest.moc"
