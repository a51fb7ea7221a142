// Curve generation in the desktop application: the reference-point dialogs and their limit
// tests, the "Vapor Pressure" button, the type selector of the shortcut bar, a generation run
// through the view, and pictures of the dialogs.
#include <signal.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "GuiTestBench.h"
#include "app/Commands.h"
#include "app/QtOperator.h"
#include "app/ViewMessenger.h"
#include "calgen/COnePoint.h"
#include "calgen/CSelectCalGenType.h"
#include "calgen/CTWOPOINTS.h"
#include "calgen/CThreePoints.h"
#include "calgen/QtDesktopPrograms.h"

using namespace tavrix;
using namespace tavrix::test;

namespace {

// Closes the next message box that opens and keeps its text, until stopped.
struct BoxCatcher {
    QString text;
    bool stop = false;
};
void CatchNextMessageBox(std::shared_ptr<BoxCatcher> c) {
    QTimer::singleShot(0, [c] {
        if (c->stop) return;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                c->text = box->text();
                box->accept();
                return;
            }
        }
        CatchNextMessageBox(c);
    });
}

// Runs `act` on the next modal dialog of type D once it is shown.
template <typename D>
void OnNextDialog(std::function<void(D&)> act) {
    QTimer::singleShot(0, [act] {
        if (auto* d = qobject_cast<D*>(QApplication::activeModalWidget()); d && d->isVisible()) {
            act(*d);
            return;
        }
        OnNextDialog<D>(act);
    });
}

// Presses OK with these edit texts; the message shown ("" when none) and whether it closed.
struct OkResult {
    QString message;
    bool closed;
};
OkResult PressOk(CReferencePointDialog& dlg, const std::map<int, QString>& texts) {
    for (const auto& [id, text] : texts) dlg.Edit(id)->setText(text);
    auto catcher = std::make_shared<BoxCatcher>();
    CatchNextMessageBox(catcher);
    QTest::mouseClick(dlg.Button(1), Qt::LeftButton);  // a message box runs inside the click
    catcher->stop = true;
    return {catcher->text, !dlg.isVisible()};
}

QString Text(QWidget& dlg, int id) {
    auto* l = dlg.findChild<QLabel*>(QString("text%1").arg(id));
    return l ? l->text() : QString("<no text%1>").arg(id);
}

QStringList Labels(QWidget& dlg) {
    QStringList texts;
    for (QLabel* l : dlg.findChildren<QLabel*>()) texts << l->text();
    return texts;
}

QStringList Items(QComboBox* c) {
    QStringList items;
    for (int i = 0; i < c->count(); ++i) items << c->itemText(i);
    return items;
}

// A desktop where the calculator is a flag; it records every request.
class FakeDesktop : public DesktopPrograms {
public:
    bool RequestCloseWindow(const std::string& title) override {
        closeRequests.push_back(title);
        if (title == VaporPressureLauncher::kMainWindowTitle && running) {
            running = false;
            return true;
        }
        return title == VaporPressureLauncher::kSecondWindowTitle && secondWindowOpen;
    }
    StartResult StartProgram(const std::string& commandLine) override {
        started.push_back(commandLine);
        if (startResult == kStarted) running = true;
        return startResult;
    }
    bool running = false;
    bool secondWindowOpen = false;
    StartResult startResult = kStarted;
    std::vector<std::string> closeRequests, started;
};

TwoPointsValues DiodeTwoPoints() {
    TwoPointsValues v;
    const float limits[8] = {177.0f, 600.0f, 0.0f, 3000.0f, 1.0f, 177.0f, 0.0f, 3000.0f};
    std::copy(limits, limits + 8, v.limits);
    v.firstPrompt = "Enter a reference point close to 77K";
    v.secondPrompt = "Enter a reference point close to 300K";
    v.firstUnit = v.secondUnit = "V";
    v.firstLabel = v.secondLabel = "Voltage:";
    return v;
}

TwoPointsValues PlatinumTwoPoints() {
    TwoPointsValues v;
    const float limits[8] = {177.0f, 1000.0f, 0.0f, 30000.0f, 1.0f, 500.0f, 0.0f, 30000.0f};
    std::copy(limits, limits + 8, v.limits);
    v.firstPrompt = "Enter a reference point at LOW temperature";
    v.secondPrompt = "Enter a reference point at HIGH temperature";
    v.firstUnit = v.secondUnit = "ohm";
    v.firstLabel = v.secondLabel = "Resistance:";
    return v;
}

std::string Data(const char* name) {
    return std::string(TAVRIX_TEST_DATA_DIR) + "/" + name;
}


// A process that has ended (or waits only to be reaped).
bool ProcessGone(qint64 pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!in || !std::getline(in, stat)) return ::kill(static_cast<pid_t>(pid), 0) != 0;
    const size_t close = stat.rfind(')');
    return close != std::string::npos && stat.compare(close + 2, 1, "Z") == 0;
}

std::string WriteScript(const TempDir& dir, const char* name, const char* body, bool executable) {
    const auto path = dir.Path() / name;
    std::ofstream(path) << body;
    namespace fs = std::filesystem;
    fs::permissions(
        path, executable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
    return path.string();
}

}  // namespace

class CalGenTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { FreshConfigFolder(); }

    void onePointShowsThePromptAndRefusesWhatIsNotANumberInItsLimits() {
        FakeDesktop desktop;
        ScriptedOperator op;
        OnePointValues preset;
        preset.prompt = "Please enter a reference point at around 300K";
        COnePoint dlg(preset, desktop, op);
        dlg.show();
        QCOMPARE(dlg.windowTitle(), QString("Enter a single reference point"));
        QCOMPARE(Text(dlg, 1020), QString("Please enter a reference point at around 300K"));
        for (const char* label : {"Voltage:", "V", "Temperature:", "K"})
            QVERIFY2(Labels(dlg).contains(label), label);
        QCOMPARE(dlg.Edit(1018)->text(), QString("0"));
        QCOMPARE(dlg.Edit(1019)->text(), QString("0"));
        QCOMPARE(dlg.Button(1140)->text(), QString("Vapor Pressure"));

        // The reading is tested first; the dialog stays open on the refused edit.
        OkResult r = PressOk(dlg, {{1018, "1.0x"}, {1019, "300"}});
        QCOMPARE(r.message, QString("Enter a number."));
        QVERIFY(!r.closed);
        QCOMPARE(dlg.Edit(1018)->selectedText(), QString("1.0x"));
        r = PressOk(dlg, {{1018, "3.0001"}});
        QCOMPARE(r.message, QString("Enter a number between 0 and 3."));
        r = PressOk(dlg, {{1018, "3"}, {1019, "500.5"}});
        QCOMPARE(r.message, QString("Enter a number between 0 and 500."));
        QVERIFY(!r.closed);
        QCOMPARE(dlg.result(), 0);

        r = PressOk(dlg, {{1018, " 1.02 "}, {1019, "500"}});  // limits are inclusive
        QVERIFY(r.message.isEmpty());
        QVERIFY(r.closed);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(dlg.Values().reading, 1.02f);
        QCOMPARE(dlg.Values().temperature, 500.0f);
        QCOMPARE(dlg.Values().prompt, preset.prompt);
        QVERIFY(op.messages.empty());
    }

    void twoPointsShowsTheCommandsTextsAndLimitsRowByRow() {
        FakeDesktop desktop;
        ScriptedOperator op;
        TwoPointsValues preset = PlatinumTwoPoints();
        preset.firstTemperature = 20.5f;
        preset.secondReading = 1234.5f;
        CTWOPOINTS dlg(preset, desktop, op);
        dlg.show();
        QCOMPARE(dlg.windowTitle(), QString("Enter two reference points"));
        QCOMPARE(Text(dlg, 1026), QString("Enter a reference point at LOW temperature"));
        QCOMPARE(Text(dlg, 1027), QString("Enter a reference point at HIGH temperature"));
        QCOMPARE(Text(dlg, 1028), QString("Resistance:"));
        QCOMPARE(Text(dlg, 1029), QString("Resistance:"));
        QCOMPARE(Text(dlg, 1025), QString("ohm"));
        QCOMPARE(Text(dlg, 1024), QString("ohm"));
        // Values shown again after a failed test come back as entered.
        QCOMPARE(dlg.Edit(1022)->text(), QString("20.5"));
        QCOMPARE(dlg.Edit(1019)->text(), QString("1234.5"));
        QCOMPARE(dlg.Button(1141)->text(), QString("Vapor Pressure"));
        QVERIFY(!(dlg.Button(1141)->focusPolicy() & Qt::TabFocus));

        // Exchange order: lower row (high reference), then upper row.
        OkResult r = PressOk(dlg, {{1018, "176.9"}, {1019, "100"}, {1022, "0"}, {1023, "10"}});
        QCOMPARE(r.message, QString("Enter a number between 177 and 1000."));
        r = PressOk(dlg, {{1018, "300"}, {1019, "30000.5"}});
        QCOMPARE(r.message, QString("Enter a number between 0 and 30000."));
        r = PressOk(dlg, {{1019, "110"}});
        QCOMPARE(r.message, QString("Enter a number between 1 and 500."));
        QVERIFY(!r.closed);
        r = PressOk(dlg, {{1022, "20"}, {1023, ""}});
        QCOMPARE(r.message, QString("Enter a number."));
        r = PressOk(dlg, {{1023, "8"}});
        QVERIFY(r.closed);
        const TwoPointsValues& v = dlg.Values();
        QCOMPARE(v.secondTemperature, 300.0f);
        QCOMPARE(v.secondReading, 110.0f);
        QCOMPARE(v.firstTemperature, 20.0f);
        QCOMPARE(v.firstReading, 8.0f);
        QCOMPARE(v.firstUnit, std::string("ohm"));
    }

    void threePointsHasFixedRowsAndLimits() {
        FakeDesktop desktop;
        ScriptedOperator op;
        CThreePoints dlg(ThreePointsValues{}, desktop, op);
        dlg.show();
        QCOMPARE(dlg.windowTitle(), QString("Enter three reference points"));
        const QStringList labels = Labels(dlg);
        for (const char* row :
             {"Enter a reference point close to 4.2K", "Enter a reference point close to 77K",
              "Enter a reference point close to 300K"})
            QVERIFY2(labels.contains(row), row);
        QCOMPARE(labels.count("Temperature:"), 3);
        QCOMPARE(labels.count("Voltage:"), 3);

        const std::map<int, QString> good = {{1018, "4.2"},  {1024, "1.6"}, {1019, "77"},
                                             {1023, "1.02"}, {1020, "300"}, {1021, "0.52"}};
        struct Case {
            int id;
            const char* text;
            const char* message;
        } cases[] = {{1018, "15.01", "Enter a number between 0 and 15."},
                     {1019, "14.99", "Enter a number between 15 and 177."},
                     {1020, "475.1", "Enter a number between 177 and 475."},
                     {1021, "3.1", "Enter a number between 0 and 3."},
                     {1023, "-0.1", "Enter a number between 0 and 3."},
                     {1024, "V", "Enter a number."}};
        for (const Case& c : cases) {
            std::map<int, QString> texts = good;
            texts[c.id] = c.text;
            const OkResult r = PressOk(dlg, texts);
            QCOMPARE(r.message, QString(c.message));
            QVERIFY(!r.closed);
            QCOMPARE(dlg.Edit(c.id)->selectedText(), QString(c.text));
        }
        const OkResult r = PressOk(dlg, good);
        QVERIFY(r.closed);
        const ThreePointsValues& v = dlg.Values();
        QCOMPARE(v.lowTemperature, 4.2f);
        QCOMPARE(v.lowReading, 1.6f);
        QCOMPARE(v.middleTemperature, 77.0f);
        QCOMPARE(v.middleReading, 1.02f);
        QCOMPARE(v.highTemperature, 300.0f);
        QCOMPARE(v.highReading, 0.52f);
    }

    void vaporPressureTogglesTheCalculatorAndCancelClosesItsSecondWindow() {
        FakeDesktop desktop;
        ScriptedOperator op;
        COnePoint dlg(OnePointValues{}, desktop, op);
        dlg.show();
        QTest::mouseClick(dlg.Button(1140), Qt::LeftButton);
        QCOMPARE(desktop.started, std::vector<std::string>{"Zudid Ezurerar Edividirer.exe"});
        QVERIFY(desktop.running);
        QTest::mouseClick(dlg.Button(1140), Qt::LeftButton);  // the second press closes it
        QVERIFY(!desktop.running);
        QCOMPARE(desktop.started.size(), 1u);
        QVERIFY(dlg.isVisible());

        // OK leaves the calculator alone.
        QTest::mouseClick(dlg.Button(1140), Qt::LeftButton);
        desktop.closeRequests.clear();
        QVERIFY(PressOk(dlg, {{1018, "1"}, {1019, "300"}}).closed);
        QVERIFY(desktop.closeRequests.empty());
        QVERIFY(desktop.running);

        // Cancel (and Escape) asks the second window to close, then closes the dialog.
        CThreePoints three(ThreePointsValues{}, desktop, op);
        three.show();
        desktop.secondWindowOpen = true;
        QTest::mouseClick(three.Button(2), Qt::LeftButton);
        QCOMPARE(desktop.closeRequests, std::vector<std::string>{"Dazidoz Irari Dudiruzoza"});
        QCOMPARE(three.result(), int(QDialog::Rejected));
        QVERIFY(!three.isVisible());
        CTWOPOINTS two(DiodeTwoPoints(), desktop, op);
        two.show();
        QTest::keyClick(&two, Qt::Key_Escape);
        QCOMPARE(desktop.closeRequests.size(), 2u);
        QVERIFY(op.messages.empty());

        // A calculator that cannot be started: the message, and the dialog stays open.
        desktop.running = false;
        for (auto [result, text] :
             {std::pair{DesktopPrograms::kProgramNotFound, "Cannot find Zudid Ezurerar Edividirer"},
              std::pair{DesktopPrograms::kStartFailed,
                        "Cannot launch Zudid Ezurerar Edividirer"}}) {
            desktop.startResult = result;
            op.messages.clear();
            CTWOPOINTS failing(DiodeTwoPoints(), desktop, op);
            failing.show();
            QTest::mouseClick(failing.Button(1141), Qt::LeftButton);
            QCOMPARE(op.messages, (std::vector<ShownMessage>{{text, MessageIcon::Stop}}));
            QVERIFY(failing.isVisible());
        }
    }

    void desktopStartsTheCalculatorAndClosesTheOneItStarted() {
        TempDir dir;
        const std::string calc =
            WriteScript(dir, "Zudid Ezurerar Edividirer.exe", "#!/bin/sh\nexec sleep 60\n", true);
        QtDesktopPrograms desktop(calc);
        QVERIFY(!desktop.RequestCloseWindow(VaporPressureLauncher::kMainWindowTitle));
        QCOMPARE(desktop.StartProgram(VaporPressureLauncher::kCommandLine),
                 DesktopPrograms::kStarted);
        const qint64 pid = desktop.Pid();
        QVERIFY(pid > 0);
        QVERIFY(desktop.Running());
        QVERIFY(!desktop.RequestCloseWindow("Some other window"));
        QVERIFY(desktop.RequestCloseWindow(VaporPressureLauncher::kMainWindowTitle));
        QVERIFY(!desktop.Running());
        QVERIFY(PumpUntil([&] { return ProcessGone(pid); }, 5000));
        QVERIFY(!desktop.RequestCloseWindow(VaporPressureLauncher::kMainWindowTitle));

        // Cancel's request reaches the calculator too; a calculator that ended by itself is
        // started again by the next press.
        QCOMPARE(desktop.StartProgram(VaporPressureLauncher::kCommandLine),
                 DesktopPrograms::kStarted);
        const qint64 second = desktop.Pid();
        QVERIFY(desktop.RequestCloseWindow(VaporPressureLauncher::kSecondWindowTitle));
        QVERIFY(PumpUntil([&] { return ProcessGone(second); }, 5000));

        // The program is looked up on PATH by default.
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", QByteArray(dir.Str().c_str()) + ":" + oldPath);
        QtDesktopPrograms onPath;
        QCOMPARE(onPath.StartProgram(VaporPressureLauncher::kCommandLine),
                 DesktopPrograms::kStarted);
        qputenv("PATH", oldPath);
        QVERIFY(onPath.RequestCloseWindow(VaporPressureLauncher::kMainWindowTitle));

        QCOMPARE(QtDesktopPrograms().StartProgram("no-such-calculator-program"),
                 DesktopPrograms::kProgramNotFound);
        QCOMPARE(QtDesktopPrograms((dir.Path() / "missing").string()).StartProgram("x"),
                 DesktopPrograms::kProgramNotFound);
        const std::string notExecutable = WriteScript(dir, "calc.txt", "not a program\n", false);
        QCOMPARE(QtDesktopPrograms(notExecutable).StartProgram("x"), DesktopPrograms::kStartFailed);
    }

    void calculatorProgramComesFromTheEnvironmentThenTheSettings() {
        TempDir dir;
        SettingsStore settings(dir.Str());
        qunsetenv(QtDesktopPrograms::kProgramVariable);
        QCOMPARE(QtDesktopPrograms::ConfiguredProgram(settings), std::string());
        settings.WriteString(QtDesktopPrograms::kSection, QtDesktopPrograms::kProgramKey,
                             "/opt/calc/vp-calc");
        QCOMPARE(QtDesktopPrograms::ConfiguredProgram(settings), std::string("/opt/calc/vp-calc"));
        qputenv(QtDesktopPrograms::kProgramVariable, "vp-calc-test");
        QCOMPARE(QtDesktopPrograms::ConfiguredProgram(settings), std::string("vp-calc-test"));
        qunsetenv(QtDesktopPrograms::kProgramVariable);
    }

    void selectorKeepsListsSortedAndGreysPointsUnlessDiode() {
        CSelectCalGenType dlg;
        dlg.show();
        QCOMPARE(dlg.windowTitle(), QString("Select CalGen Type"));
        QCOMPARE(Items(dlg.SensorTypeList()), QStringList({"Diode", "Platinum", "Thermocouple"}));
        QCOMPARE(Items(dlg.PointsList()),
                 QStringList({"1 point at 300K", "1 point at 4.2K", "2 points", "3 points"}));
        QCOMPARE(dlg.SensorTypeList()->objectName(), QString("combo1152"));
        QCOMPARE(dlg.PointsList()->objectName(), QString("combo1188"));
        QVERIFY(Labels(dlg).contains("Sensor Type:"));
        QVERIFY(Labels(dlg).contains("Number of points:"));
        QCOMPARE(dlg.AcceptButton()->text(), QString("Accept"));
        QCOMPARE(dlg.SensorTypeList()->currentIndex(), 0);
        QCOMPARE(dlg.PointsList()->currentIndex(), 0);
        QVERIFY(dlg.PointsList()->isEnabled());
        QCOMPARE(dlg.SensorType(), -1);

        dlg.PointsList()->setCurrentIndex(3);
        for (int type : {1, 2}) {
            dlg.SensorTypeList()->setCurrentIndex(type);
            QVERIFY(!dlg.PointsList()->isEnabled());
        }
        dlg.SensorTypeList()->setCurrentIndex(0);
        QVERIFY(dlg.PointsList()->isEnabled());
        dlg.SensorTypeList()->setCurrentIndex(1);
        QTest::mouseClick(dlg.AcceptButton(), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(dlg.SensorType(), 1);
        QCOMPARE(dlg.Points(), 3);  // whatever the greyed list holds

        CSelectCalGenType cancelled;
        cancelled.show();
        QTest::keyClick(&cancelled, Qt::Key_Escape);
        QCOMPARE(cancelled.SensorType(), -1);
        QCOMPARE(cancelled.Points(), -1);
    }

    void calGenButtonPostsTheSelectorsChoice() {
        ShortcutBarModel model;
        ScriptedOperator op;
        CShortCutButtons bar(model, op);
        ManualResetEvent quit;
        std::vector<std::array<intptr_t, 3>> posted;
        ViewMessenger target([](std::function<void()> f) { QTimer::singleShot(0, f); }, quit);
        target.SetHandler([&](int m, intptr_t w, intptr_t l) -> intptr_t {
            posted.push_back({m, w, l});
            return 0;
        });
        bar.SetTarget(&target);
        OnNextDialog<CSelectCalGenType>([](CSelectCalGenType& d) {
            d.PointsList()->setCurrentIndex(3);
            QTest::mouseClick(d.AcceptButton(), Qt::LeftButton);
        });
        QTest::mouseClick(bar.Button(1178), Qt::LeftButton);
        OnNextDialog<CSelectCalGenType>([](CSelectCalGenType& d) { d.reject(); });
        QTest::mouseClick(bar.Button(1178), Qt::LeftButton);  // Cancel posts nothing
        Pump(20);
        QCOMPARE(posted, (std::vector<std::array<intptr_t, 3>>{{WM_CALGEN_REQUEST, 0, 3}}));
    }

    // Through the view: the bar's choice reaches the generation command it names.
    void calGenButtonRunsTheChosenCommand() {
        GuiBench b;
        b.op.openFileAnswers.push_back(
            DialogResult<std::string>::Accept(Data("calgen_linear_diode.crv")));
        OnNextDialog<CSelectCalGenType>([](CSelectCalGenType& d) {
            d.PointsList()->setCurrentIndex(1);  // "1 point at 4.2K"
            QTest::mouseClick(d.AcceptButton(), Qt::LeftButton);
        });
        QTest::mouseClick(b.Bar().Button(1178), Qt::LeftButton);
        QVERIFY(PumpUntil([&] { return !b.op.onePointPresets.empty(); }, 3000));
        QCOMPARE(b.op.onePointPresets[0].prompt,
                 std::string("Please enter a reference point at around 4.2K"));

        // Platinum: the points list does not matter.
        b.op.openFileAnswers.push_back(
            DialogResult<std::string>::Accept(Data("calgen_platinum.crv")));
        OnNextDialog<CSelectCalGenType>([](CSelectCalGenType& d) {
            d.PointsList()->setCurrentIndex(2);
            d.SensorTypeList()->setCurrentIndex(1);
            QTest::mouseClick(d.AcceptButton(), Qt::LeftButton);
        });
        QTest::mouseClick(b.Bar().Button(1178), Qt::LeftButton);
        QVERIFY(PumpUntil([&] { return !b.op.twoPointsPresets.empty(); }, 3000));
        QCOMPARE(b.op.twoPointsPresets[0].firstPrompt,
                 std::string("Enter a reference point at LOW temperature"));
        QCOMPARE(b.op.onePointPresets.size(), 1u);
    }

    void onePoint300KFromTheMenuWritesTheCurveAndListsIt() {
        GuiBench b;
        TempDir dir;
        const std::string out = (dir.Path() / "generated.crv").string();
        b.op.openFileAnswers.push_back(
            DialogResult<std::string>::Accept(Data("calgen_linear_diode.crv")));
        OnePointValues point;
        point.temperature = 300.0f;
        point.reading = 1.02f;
        b.op.onePointAnswers.push_back(DialogResult<OnePointValues>::Accept(point));
        b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(out));

        QAction* item = b.Frame().ActionFor(ID_CALGEN_DIODE_300K);
        QVERIFY(item);
        QCOMPARE(item->text(), QString("1 Point (300K)"));
        QVERIFY(item->isEnabled());  // no instrument needed
        item->trigger();
        Pump(20);

        QVERIFY(b.op.messages.empty());
        const std::vector<std::string> lines = CrLfLines(out);
        const std::vector<std::string> want = {"DT-Linear",
                                               "Diode",
                                               "1.0000000",
                                               "Volts",
                                               "2.490000 2.000000",
                                               "2.480000 4.000000",
                                               "2.450000 10.000000",
                                               "2.400000 20.000000",
                                               "2.350000 30.000000",
                                               "2.300741 40.000000",
                                               "2.251482 50.000000",
                                               "2.118481 77.000000",
                                               "2.005185 100.000000",
                                               "1.758889 150.000000",
                                               "1.512593 200.000000",
                                               "1.266296 250.000000",
                                               "1.020000 300.000000",
                                               "0.773704 350.000000",
                                               "0.527407 400.000000",
                                               "0.157963 475.000000",
                                               ";"};
        QCOMPARE(lines, want);

        const std::vector<std::string> log = b.LogLines();
        auto at = std::find(log.begin(), log.end(),
                            "New Curve generated using   1.020000V at 300.000000K.");
        QVERIFY2(at != log.end(), "no heading in the log");
        QVERIFY(log.end() - at >= 18);
        QCOMPARE(*(at + 7), std::string("2.251482     50.000000"));
        QCOMPARE(*(at + 16), std::string("0.157963     475.000000"));
        QCOMPARE(*(at + 17), std::string(";"));
    }

    // The Qt operator shows the real dialog and gives back what was entered.
    void qtOperatorAsksForAPointWithTheDialog() {
        TempDir dir;
        SettingsStore settings(dir.Str());
        QtOperator op(settings);
        auto fake = std::make_unique<FakeDesktop>();
        FakeDesktop& desktop = *fake;
        op.SetDesktopPrograms(std::move(fake));

        OnNextDialog<COnePoint>([](COnePoint& d) {
            QCOMPARE(Text(d, 1020), QString("Please enter a reference point at around 4.2K"));
            QCOMPARE(d.Edit(1019)->text(), QString("4.5"));
            QTest::mouseClick(d.Button(1140), Qt::LeftButton);
            d.Edit(1018)->setText("1.6");
            d.Edit(1019)->setText("4.2");
            QTest::mouseClick(d.Button(1), Qt::LeftButton);
        });
        OnePointValues preset;
        preset.prompt = "Please enter a reference point at around 4.2K";
        preset.temperature = 4.5f;
        const DialogResult<OnePointValues> r = op.AskOnePoint(preset);
        QVERIFY(r.Ok());
        QCOMPARE(r.value.reading, 1.6f);
        QCOMPARE(r.value.temperature, 4.2f);
        QCOMPARE(desktop.started.size(), 1u);

        OnNextDialog<CThreePoints>([](CThreePoints& d) { d.Button(2)->click(); });
        QCOMPARE(op.AskThreePoints(ThreePointsValues{}).outcome, DialogOutcome::Cancel);
    }

    void screenshots() {
        FakeDesktop desktop;
        ScriptedOperator op;
        OnePointValues one;
        one.prompt = "Please enter a reference point at around 300K";
        one.reading = 1.02f;
        one.temperature = 300.0f;
        COnePoint onePoint(one, desktop, op);
        SaveShown(onePoint, "calgen-one-point");

        TwoPointsValues two = DiodeTwoPoints();
        two.firstTemperature = 77.35f;
        two.firstReading = 1.0234f;
        two.secondTemperature = 300.0f;
        two.secondReading = 0.5183f;
        CTWOPOINTS twoPoints(two, desktop, op);
        SaveShown(twoPoints, "calgen-two-points");
        TwoPointsValues pt = PlatinumTwoPoints();
        pt.firstTemperature = 77.35f;
        pt.firstReading = 20.38f;
        pt.secondTemperature = 373.15f;
        pt.secondReading = 29999.5f;
        CTWOPOINTS platinum(pt, desktop, op);
        SaveShown(platinum, "calgen-two-points-platinum");

        ThreePointsValues three{4.2f, 1.6231f, 77.35f, 1.0234f, 300.0f, 0.5183f};
        CThreePoints threePoints(three, desktop, op);
        SaveShown(threePoints, "calgen-three-points");

        CSelectCalGenType select;
        SaveShown(select, "calgen-select-type");
        select.SensorTypeList()->setCurrentIndex(1);
        SaveShown(select, "calgen-select-type-platinum");
    }
};

QTEST_MAIN(CalGenTest)
#include "CalGenTest.moc"
