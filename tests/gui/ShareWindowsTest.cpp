// The sharing dialog reached from the Comm menu, and the status bar while the instrument is
// shared.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QSpinBox>
#include <QStatusBar>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "GuiTestBench.h"
#include "link/CShareDlg.h"

using namespace tavrix;
using namespace tavrix::test;


class ShareWindowsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { FreshConfigFolder(); }

    void theCommMenuOpensTheDialogAndTheStatusBarCountsClients() {
        GuiBench::Options o;
        o.qtDialogs = true;
        GuiBench b(o);
        b.Frame().show();
        b.Frame().RefreshCommandStates();
        QAction* share = b.Frame().ActionFor(ID_SHARE);
        QVERIFY(share);
        QVERIFY(share->isEnabled());
        // It sits in the Comm menu.
        bool inComm = false;
        for (QAction* top : b.Frame().menuBar()->actions())
            if (top->menu() && top->text() == "&Comm" && top->menu()->actions().contains(share))
                inComm = true;
        QVERIFY(inComm);
        QVERIFY(!b.Frame().ShareStatus()->isVisible());

        QStringList boxes;
        QObject watching;
        WhenShown<QMessageBox>(
            [&](QMessageBox* box) {
                boxes << box->text();
                box->accept();
            },
            &watching);
        // The stored defaults, then a port another program holds: the share cannot start.
        const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(0x7F000001u);
        QVERIFY(::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0);
        QVERIFY(::listen(holder, 1) == 0);
        socklen_t len = sizeof a;
        ::getsockname(holder, reinterpret_cast<sockaddr*>(&a), &len);
        const std::string taken = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
        ShareSettings shownFirst;
        bool firstShown = false;
        WhenShown<CShareDlg>(
            [&](CShareDlg* d) {
                firstShown = true;
                shownFirst = d->Settings();
                SaveShown(*d, "share-dialog");
                d->Enabled()->setChecked(true);
                d->Listen()->setText(QString::fromStdString(taken));
                d->accept();
            },
            &watching);
        share->trigger();
        QVERIFY(firstShown);
        QCOMPARE(shownFirst.listen, std::string("127.0.0.1:5025"));
        QCOMPARE(shownFirst.maxClients, 8);
        QVERIFY(!shownFirst.enabled);
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].contains("Cannot share the instrument"), qPrintable(boxes[0]));
        QVERIFY(!b.Hub().Share().Sharing());
        ::close(holder);

        ShareSettings shownSecond;
        WhenShown<CShareDlg>(
            [&](CShareDlg* d) {
                shownSecond = d->Settings();
                d->Listen()->setText("127.0.0.1:0");
                d->Metrics()->setText("127.0.0.1:0");
                d->MaxClients()->setValue(4);
                d->accept();
            },
            &watching);
        share->trigger();
        // What was answered is what the dialog shows next.
        QVERIFY(shownSecond.enabled);
        QCOMPARE(shownSecond.listen, taken);
        QVERIFY(b.Hub().Share().Sharing());
        QVERIFY(b.Hub().Share().ServingMetrics());
        QCOMPARE(b.Settings().GetInt("Share", "MaxClients", 0), 4);
        const int port = b.Hub().Share().Server().Port();
        const QString address = QString("127.0.0.1:%1").arg(port);
        QLabel* status = b.Frame().ShareStatus();
        QVERIFY(PumpUntil([&] { return status->isVisible(); }, 2000));
        QCOMPARE(status->text(), "Shared on " + address + ", 0 client(s)");

        const int one = ConnectLoopback(port), two = ConnectLoopback(port);
        QVERIFY(one >= 0 && two >= 0);
        QVERIFY(PumpUntil([&] { return status->text().endsWith(", 2 client(s)"); }, 5000));
        b.View().SyncLog();
        Pump(100);
        SaveGrab(b.Frame(), "share-status-bar");
        ::close(one);
        ::close(two);
        QVERIFY(PumpUntil([&] { return status->text().endsWith(", 0 client(s)"); }, 5000));
    }
};

QTEST_MAIN(ShareWindowsTest)
#include "ShareWindowsTest.moc"
