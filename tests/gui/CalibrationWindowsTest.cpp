// The calibration dialog, its pages and the password dialogs on the screen, bound to a session
// over a scripted instrument; screenshots of a capture and of both password dialogs.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <thread>

#include "GuiTestBench.h"
#include "app/Commands.h"
#include "calibration/CCalibDlg.h"
#include "calibration/CCalibPage.h"
#include "calibration/CCalibPasswordDialogs.h"
#include "calibration/CMNumericEdit.h"
#include "calibration/CalibTexts.h"

using namespace tavrix;
using namespace tavrix::test;

namespace {

namespace ct = calib_texts;

// A session over a scripted instrument whose inputs read `reading`.
struct SessionBench {
    SessionBench() : session(Exchange(), op) { session.Retrieve(); }
    CalibExchange Exchange() {
        CalibExchange e;
        e.transact = [this](const std::string& line, std::string* reply) {
            lines.push_back(line);
            if (!reply) return 0;
            if (line.rfind("INPUT? ", 0) == 0)
                *reply = std::to_string(reading);
            else if (line.find("GAIN?;OFFSET?") != std::string::npos)
                *reply = "1.0002000;-0.0015000";
            else if (line.size() == 12 && line.find(":TYPE?") == 6)
                *reply = "V10UA";
            else if (line.find("UNIT?;ISENIX?") != std::string::npos)
                *reply = "K;1;10MV;10K";
            else
                reply->assign(1, '1');  // (a literal here draws a false -Wrestrict from GCC 12)
            return 0;
        };
        e.identify = [](int& code) {
            code = 28;
            return true;
        };
        return e;
    }
    std::vector<std::string> lines;
    double reading = 100.02;
    ScriptedOperator op;
    CalibSession session;
};

QString Text(QWidget* w) {
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    return {};
}

}  // namespace

class CalibrationWindowsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { FreshConfigFolder(); }

    void aCaptureOnThePage() {
        SessionBench b;
        CCalibDlg dlg(b.session, b.op, b.op);
        dlg.resize(760, 430);
        dlg.show();
        dlg.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        // Each input's settings, the mode, 40 entries of three lines, the mode again.
        QVERIFY(PumpUntil([&] { return b.lines.size() >= 130 + 4; }, 2000));
        QCOMPARE(b.lines[130], std::string("INST A:MODE ON;MODE?;"));
        QCOMPARE(dlg.windowTitle(), QString("Instrument Calibration"));
        QCOMPARE(dlg.Sheet()->count(), 10);
        QCOMPARE(dlg.Sheet()->tabText(6), QString("10K C-V AC"));
        QCOMPARE(dlg.ChannelList()->count(), 4);
        QCOMPARE(dlg.ChannelList()->itemText(3), QString("D"));

        CCalibPage* page = dlg.Sheet()->Page(0);
        QCOMPARE(Text(page->Control(1196)), QString("Calibrating CHA, Silicon Diode Volt"));
        QCOMPARE(Text(page->Control(1214)), QString("1.0002000"));
        QCOMPARE(Text(page->Control(1215)), QString("-0.0015000"));
        QCOMPARE(Text(page->Control(1206)), QString("1.9"));
        QCOMPARE(Text(page->Control(1216)), QString("Current"));
        QVERIFY(!page->Control(1220)->isEnabled());

        // Typing into the targets, then a capture of the upper standard.
        auto* upper = qobject_cast<CMNumericEdit*>(page->Control(1206));
        upper->setFocus();
        upper->selectAll();
        QTest::keyClicks(upper, "100x");  // the x only beeps
        QCOMPARE(upper->text(), QString("100"));
        auto* lower = qobject_cast<CMNumericEdit*>(page->Control(1205));
        lower->setFocus();  // leaving the upper target stores it
        QCOMPARE(b.session.Page(0).upperTarget, 100.0);
        lower->selectAll();
        QTest::keyClicks(lower, "10");
        page->Control(1200)->setFocus();
        QTest::mouseClick(qobject_cast<QPushButton*>(page->Control(1200)), Qt::LeftButton);
        QCOMPARE(b.session.Page(0).lowerTarget, 10.0);
        Pump(50);
        QVERIFY(page->CapturingDialog()->isVisible());
        QVERIFY(!page->Control(1200)->isEnabled());
        QVERIFY(page->Control(1226)->isEnabled());
        QCOMPARE(QApplication::overrideCursor() ? QApplication::overrideCursor()->shape()
                                                : Qt::ArrowCursor,
                 Qt::WaitCursor);
        // A few readings in; the picture shows the page and the progress window.
        for (int i = 0; i < 3; ++i) b.session.OnTimer(0, kUpperCaptureTimer);
        Pump(30);
        SaveGrab(dlg, "calibration-capturing");
        page->CapturingDialog()->adjustSize();
        SaveGrab(*page->CapturingDialog(), "calibration-capturing-window");
        {
            // Both windows as the operator sees them: the progress window over the page.
            QPixmap shot = dlg.grab();
            const QPixmap over = page->CapturingDialog()->grab();
            QPainter painter(&shot);
            const QPoint at((shot.width() - over.width()) / 2, (shot.height() - over.height()) / 2);
            painter.fillRect(QRect(at, over.size()).adjusted(-2, -2, 2, 2), Qt::darkGray);
            painter.drawPixmap(at, over);
            painter.end();
            QVERIFY(shot.save(QString(TAVRIX_SCREENSHOT_DIR) + "/calibration-capturing-both.png"));
        }

        while (!b.session.Page(0).Idle()) b.session.OnTimer(0, kUpperCaptureTimer);
        QCOMPARE(Text(page->Control(1211)), QString("100.020000"));
        QVERIFY(!page->CapturingDialog()->isVisible());
        QVERIFY(page->Control(1200)->isEnabled());
        QVERIFY(!page->Control(1226)->isEnabled());
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(b.op.MessageTexts().back(), std::string(ct::kCapturedUpper));

        b.reading = 10.02;
        QTest::mouseClick(qobject_cast<QPushButton*>(page->Control(1201)), Qt::LeftButton);
        while (!b.session.Page(0).Idle()) b.session.OnTimer(0, kLowerCaptureTimer);
        QVERIFY(page->Control(1220)->isEnabled());
        QTest::mouseClick(qobject_cast<QPushButton*>(page->Control(1220)), Qt::LeftButton);
        QCOMPARE(Text(page->Control(1216)), QString("Calibrated"));
        SaveGrab(dlg, "calibration-calibrated");

        // APPLY asks first; "no" sends nothing.
        const size_t before = b.lines.size();
        b.op.yesNoAnswers = {false};
        QTest::mouseClick(dlg.Button(1), Qt::LeftButton);
        QCOMPARE(b.op.questions.back(), std::string(ct::kSendQuestion));
        QCOMPARE(b.lines.size(), before);

        // The quit question, answered "no", keeps the dialog.
        b.op.yesNoAnswers = {false};
        QTest::mouseClick(dlg.Button(2), Qt::LeftButton);
        QCOMPARE(b.op.questions.back(), std::string(ct::kQuitQuestion));
        QVERIFY(dlg.isVisible());

        QTest::mouseClick(dlg.Button(1222), Qt::LeftButton);
        QCOMPARE(b.op.newPasswordAsked, 1);
    }

    void fieldsAndChannels() {
        SessionBench b;
        CCalibDlg dlg(b.session, b.op, b.op);
        dlg.show();
        dlg.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        Pump(30);
        CCalibPage* page = dlg.Sheet()->Page(0);
        auto* gain = qobject_cast<CMNumericEdit*>(page->Control(1214));
        gain->setFocus();
        gain->setText("1.5");
        page->Control(1215)->setFocus();
        QCOMPARE(b.op.MessageTexts().back(), std::string(ct::kGainLimits));
        QCOMPARE(gain->text(), QString("1.0002000"));
        gain->setText("1.1");
        page->Control(1215)->setFocus();
        QCOMPARE(Text(page->Control(1216)), QString("Edited"));

        dlg.ChannelList()->setCurrentIndex(2);
        QCOMPARE(Text(page->Control(1196)), QString("Calibrating CHC, Silicon Diode Volt"));
        QCOMPARE(Text(page->Control(1216)), QString("Current"));
        dlg.ChannelList()->setCurrentIndex(0);
        QCOMPARE(gain->text(), QString("1.1000000"));

        // Up and Down step the integer part.
        gain->setText("7.5");
        QTest::keyClick(gain, Qt::Key_Up);
        QCOMPARE(gain->text(), QString("8"));
        gain->setText("-65535");
        QTest::keyClick(gain, Qt::Key_Down);
        QCOMPARE(gain->text(), QString("-65536"));
        QTest::keyClick(gain, Qt::Key_Down);
        QCOMPARE(gain->text(), QString("-65536"));

        // The second page (one-point) has no lower capture.
        dlg.Sheet()->setCurrentIndex(1);
        Pump(20);
        QVERIFY(!dlg.Sheet()->Page(1)->Control(1201)->isEnabled());
        QVERIFY(!dlg.Sheet()->Page(1)->Control(1205)->isEnabled());
        QCOMPARE(b.lines[b.lines.size() - 3], std::string("INST A:TYPE V10UA;TYPE?"));
        b.op.yesNoAnswers = {true};
        dlg.reject();
    }

    // The command from the main window on the simulator: password dialog, retrieval, dialog.
    void fromTheMainWindow() {
        // The desktop's own dialogs and message boxes, answered on the screen.
        GuiBench::Options o;
        o.qtDialogs = true;
        GuiBench b(o);
        b.PressConnect();
        QVERIFY(PumpUntil([&] { return b.Bar().StatusText() == "Connected"; }, 5000));
        b.Sim().Engine().ClearReceivedLines();
        int tabs = -1;
        bool typed = false;
        QStringList messages;
        std::function<void()> answer = [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* m = qobject_cast<QMessageBox*>(w); m && m->isVisible()) {
                    messages << m->text();
                    m->reject();
                }
                if (auto* v = qobject_cast<CVerifyPW*>(w); v && v->isVisible() && !typed) {
                    typed = true;
                    QTest::keyClicks(v->Edit(), "CALIB");
                    v->accept();
                }
                if (auto* d = qobject_cast<CCalibDlg*>(w); d && d->isVisible()) {
                    tabs = d->Sheet()->count();
                    d->reject();  // nothing changed: no question
                    return;
                }
            }
            QTimer::singleShot(10, answer);
        };
        QTimer::singleShot(10, answer);
        b.View().OnCommand(ID_CALIBRATION);
        QCOMPARE(tabs, 10);
        const std::vector<std::string> lines = b.Sim().Engine().ReceivedLines();
        QVERIFY(lines.size() >= 132);
        QCOMPARE(lines[0], std::string("INST A:PSWD?"));
        QCOMPARE(lines[1], std::string("SYST:IDEF?"));
        QCOMPARE(lines[131], std::string("INST A:MODE OFF;MODE?;"));
        // Closed: the inputs read in kelvin again.
        QCOMPARE(b.Sim().Engine().Execute("INP A:UNIT?;ISENIX?").lines,
                 std::vector<std::string>{"K;1"});
        QVERIFY2(messages.isEmpty(), qPrintable(messages.join('\n')));
        bool free = false;  // released when the dialog closed (asked from another thread)
        std::thread([&] {
            free = b.Hub().Mutex().TryLockFor(0);
            if (free) b.Hub().Mutex().Unlock();
        }).join();
        QVERIFY(free);
    }

    void passwordDialogs() {
        ScriptedOperator op;
        CVerifyPW verify;
        QCOMPARE(verify.windowTitle(), QString("Verify Calibration Password"));
        QCOMPARE(verify.Edit()->echoMode(), QLineEdit::Password);
        verify.show();
        QTest::keyClicks(verify.Edit(), "CALIB");
        verify.adjustSize();
        Pump(30);
        SaveGrab(verify, "calibration-verify-password");
        QCOMPARE(verify.TakePassword(), std::string("CALIB"));
        QVERIFY(verify.Edit()->text().isEmpty());

        CChangePswd change(op);
        QCOMPARE(change.windowTitle(), QString("Change Password "));
        change.show();
        change.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&change));
        QVERIFY(!change.RetypeEdit()->isEnabled());
        change.NewEdit()->setFocus();
        QTest::keyClicks(change.NewEdit(), "abcdefghij");
        QVERIFY(change.RetypeEdit()->isEnabled());
        QTest::keyClicks(change.NewEdit(), "k");  // the eleventh
        QCOMPARE(change.NewEdit()->text().size(), 10);
        QCOMPARE(op.MessageTexts(), std::vector<std::string>{ct::kPasswordTooLong});
        change.RetypeEdit()->setFocus();  // lower case: told, and the focus goes back
        QCOMPARE(op.MessageTexts().back(), std::string(ct::kPasswordUppercase));
        QVERIFY(change.NewEdit()->hasFocus());
        QCOMPARE(change.NewEdit()->echoMode(), QLineEdit::Password);
        QCOMPARE(change.RetypeEdit()->echoMode(), QLineEdit::Password);
        change.adjustSize();
        Pump(30);
        SaveGrab(change, "calibration-change-password");
    }
};

QTEST_MAIN(CalibrationWindowsTest)
#include "CalibrationWindowsTest.moc"
