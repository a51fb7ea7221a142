// The terminal window and the command file runner inside the desktop program, on the simulator.
#include <QDir>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "GuiTestBench.h"
#include "app/Commands.h"
#include "consoles/CSerialTerminal.h"

using namespace tavrix;
using namespace tavrix::test;

namespace {
bool LogHas(GuiBench& b, const std::string& line) {
    for (const auto& l : b.LogLines())
        if (l == line) return true;
    return false;
}

int CountInLog(GuiBench& b, const std::string& line) {
    int n = 0;
    for (const auto& l : b.LogLines()) n += l == line;
    return n;
}

}  // namespace

class ConsolesTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { FreshConfigFolder(); }

    void terminalSendsWithEnterAndSendAndKeepsTheLine() {
        GuiBench b;
        b.PressConnect();
        QVERIFY(PumpUntil([&] { return b.Bar().StatusText() == "Connected"; }, 5000));
        b.View().OnCommand(ID_INTERACT);
        CSerialTerminal* t = b.View().Terminal();
        QVERIFY(t && t->isVisible());
        QCOMPARE(t->windowTitle(), QString("Serial Terminal"));
        CCommandEdit* edit = t->CommandField();

        QTest::keyClicks(edit, "*IDN?");
        QTest::keyClick(edit, Qt::Key_Return);
        QVERIFY(LogHas(b, "query:*IDN?"));
        QCOMPARE(edit->text(), QString("*IDN?"));  // kept for sending again
        QTest::mouseClick(t->SendButton(), Qt::LeftButton);
        QCOMPARE(CountInLog(b, "query:*IDN?"), 2);

        edit->clear();
        QTest::keyClicks(edit, "INP A:UNIT K");
        QTest::keyClick(edit, Qt::Key_Enter);
        QVERIFY(LogHas(b, "command:INP A:UNIT K"));
        // A command is not waited for: the simulator gets it a moment later.
        QVERIFY(PumpUntil([&] { return b.Sim().Engine().ReceivedLines().back() == "INP A:UNIT K"; },
                          2000));

        // Only what the instrument can read goes in.
        edit->clear();
        edit->insert(QString::fromUtf8("A\u20acB"));
        QCOMPARE(edit->text(), QString());
        edit->insert(QString::fromUtf8("B\u00b5"));
        QCOMPARE(edit->text(), QString::fromUtf8("B\u00b5"));

        // The field takes 47 characters, however many are typed or pasted.
        edit->clear();
        QTest::keyClicks(edit, QString(200, 'x'));
        QCOMPARE(edit->text().size(), 47);

        // Up and Down walk back through what was sent and return to the typed text.
        QTest::keyClick(edit, Qt::Key_Up);
        QCOMPARE(edit->text(), QString("INP A:UNIT K"));
        QTest::keyClick(edit, Qt::Key_Up);
        QCOMPARE(edit->text(), QString("*IDN?"));
        QTest::keyClick(edit, Qt::Key_Down);
        QTest::keyClick(edit, Qt::Key_Down);
        QCOMPARE(edit->text(), QString(47, 'x'));
        // The terminal stays open: Enter does not close or accept the window.
        QVERIFY(t->isVisible());
    }

    void closeBoxStoresThePlaceQuitDoesNot() {
        GuiBench b;
        b.PressConnect();
        QVERIFY(PumpUntil([&] { return b.Bar().StatusText() == "Connected"; }, 5000));
        b.View().OnCommand(ID_INTERACT);
        CSerialTerminal* t = b.View().Terminal();
        t->setGeometry(120, 140, 400, 90);
        Pump(20);
        QTest::mouseClick(t->QuitButton(), Qt::LeftButton);
        QVERIFY(!t->isVisible());
        QCOMPARE(b.Settings().GetInt(settings::kTerminalPos, settings::kWinLeft, 0), 0);

        b.View().OnCommand(ID_INTERACT);
        QVERIFY(t->isVisible());
        t->setGeometry(130, 150, 400, 90);
        Pump(20);
        const QRect r = t->frameGeometry();  // the outer rectangle, frame included
        t->close();
        QVERIFY(!t->isVisible());
        QCOMPARE(b.Settings().GetInt(settings::kTerminalPos, settings::kWinLeft, 0), r.left());
        QCOMPARE(b.Settings().GetInt(settings::kTerminalPos, settings::kWinTop, 0), r.top());
        QCOMPARE(b.Settings().GetInt(settings::kTerminalPos, settings::kWinRight, 0),
                 r.right() + 1);
        QCOMPARE(b.Settings().GetInt(settings::kTerminalPos, settings::kWinBottom, 0),
                 r.bottom() + 1);
    }

    void commandFileRunsFromTheMenuAndWritesItsErrorLogHere() {
        TempDir dir;
        const auto home = std::filesystem::current_path();
        std::filesystem::current_path(dir.Path());
        const std::string file = (dir.Path() / "t.xml").string();
        std::ofstream(file) << "<TRANSACTIONS><Check><QUERY>*IDN?</QUERY>"
                               "<RESPONSE>nothing like it</RESPONSE>"
                               "<COMMAND>INP A:UNIT K</COMMAND></Check></TRANSACTIONS>";
        {
            GuiBench b;
            b.PressConnect();
            QVERIFY(PumpUntil([&] { return b.Bar().StatusText() == "Connected"; }, 5000));
            b.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(file));
            b.View().OnCommand(ID_COMMAND_FILE);
            QVERIFY(LogHas(b, "CHECK: Command:INP A:UNIT K"));
            QVERIFY(LogHas(b, "Command language test completed."));
            // The log names the error log's full path; the error log keeps its own line.
            std::string all;
            for (const auto& line : b.LogLines()) all += line;
            const std::string where =
                "1 Errors logged in " + (std::filesystem::current_path() / "ErrorLog.txt").string();
            QVERIFY2(all.find(where) != std::string::npos, where.c_str());
        }
        std::ifstream in(dir.Path() / "ErrorLog.txt", std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        std::filesystem::current_path(home);
        QVERIFY(bytes.find("Error:The returned string for query \"CHECK: tag 2: *IDN?\"\r\n") == 0);
        QVERIFY(bytes.find("1 Errors logged in the ErrorLog.txt\r\n") != std::string::npos);
    }

    void terminalScreenshot() {
        GuiBench b;
        b.Frame().resize(700, 380);
        b.PressConnect();
        QVERIFY(PumpUntil([&] { return b.Bar().StatusText() == "Connected"; }, 5000));
        b.View().OnCommand(ID_INTERACT);
        CSerialTerminal* t = b.View().Terminal();
        CCommandEdit* edit = t->CommandField();
        for (const char* line :
             {"*IDN?", "INP A:UNIT K", "INP A:TEMP?;UNIT?;NAME?;", "?help", "LOOP 1:SETPT?"}) {
            edit->setText(line);
            QTest::keyClick(edit, Qt::Key_Return);
        }
        Pump(120);
        SaveGrab(b.Frame(), "terminal-log");
        SaveGrab(*t, "terminal");
    }
};

QTEST_MAIN(ConsolesTest)
#include "ConsolesTest.moc"
