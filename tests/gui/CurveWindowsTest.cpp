// The curve dialogs, the graph and the strip chart on their own, and a curve download and upload
// through the running view on the simulated controller, with the scripted operator and with
// the real dialogs. Screenshots go to the build folder's screenshots/.
#include <QAbstractButton>
#include <QApplication>
#include <QCategoryAxis>
#include <QChart>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QLineSeries>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "GuiTestBench.h"
#include "base/QtFileDialog.h"
#include "base/Texts.h"
#include "charts/CGraph.h"
#include "charts/CStripChart.h"
#include "curves/CCalTblNumReq.h"
#include "curves/CCurveHeaderEdit.h"
#include "curves/CPIDTblNumReq.h"
#include "curves/CTfrDlg.h"
#include "curves/CurveTexts.h"
#include "curves/SensorCurve.h"

using namespace tavrix;
using namespace tavrix::test;

namespace ct = tavrix::curve_texts;

namespace {

std::string Data(const char* name) {
    return std::string(TAVRIX_TEST_DATA_DIR) + "/" + name;
}

// Closes the next message box and hands back its text.
void CatchNextMessageBox(QString* text) {
    WhenShown<QMessageBox>([text](QMessageBox* box) {
        *text = box->text();
        box->accept();
    });
}

CurveHeaderEdit Header(const std::string& type, int unitCode, bool crvSource, bool save) {
    CurveHeaderEdit h;
    h.SetHeader("DT-470 sample", type, 2.5f, unitCode, 12, crvSource);
    h.saveAsCrv = save;
    h.Open();
    return h;
}

CurveHeaderEdit HeaderOfFile(const std::string& path) {
    SensorCurve curve;
    if (SensorCurve::ReadCrvFile(path, curve) != kCurveReadOk)
        qFatal("cannot read %s", path.c_str());
    std::vector<float> t, v;
    for (const CurvePoint& p : curve.points) {
        t.push_back(p.temperature);
        v.push_back(p.sensorValue);
    }
    CurveHeaderEdit h;
    h.SetCurveData(t, v, curve.PointCount(), curve.unitCode);
    h.SetHeader(curve.sensorName, curve.sensorType, curve.multiplier, curve.unitCode,
                curve.PointCount(), IsCrvPath(path));
    h.Open();
    return h;
}

// The log as one text: long lines wrap at 80 columns.
std::string LogText(GuiBench& b) {
    std::string all;
    for (const std::string& l : b.LogLines()) all += l;
    return all;
}

QStringList Items(QComboBox* c) {
    QStringList items;
    for (int i = 0; i < c->count(); ++i) items << c->itemText(i);
    return items;
}

}  // namespace

class CurveWindowsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { FreshConfigFolder(); }

    void headerEditorShowsTheMatchingTypeAndUnit_data() {
        QTest::addColumn<QString>("typeText");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("unitCode");
        QTest::addColumn<QString>("unitEntry");
        QTest::addColumn<QString>("unitBack");
        QTest::newRow("acr, log ohms") << "acr"
                                       << "ACR" << 4 << "LogOhms"
                                       << "LogOhm";
        QTest::newRow("PTC1, ohms") << "PTC1"
                                    << "PTC100" << 3 << "Ohms"
                                    << "Ohms";
        QTest::newRow("empty, code 2") << ""
                                       << "Diode" << 2 << "Volts"
                                       << "Volts";
        QTest::newRow("own text, mVolts") << "Custom"
                                          << "Custom" << 1 << "mVolts"
                                          << "mVolts";
    }

    void headerEditorShowsTheMatchingTypeAndUnit() {
        QFETCH(QString, typeText);
        QFETCH(QString, shown);
        QFETCH(int, unitCode);
        QFETCH(QString, unitEntry);
        QFETCH(QString, unitBack);
        CCurveHeaderEdit dlg(Header(typeText.toStdString(), unitCode, false, false));
        dlg.show();
        QCOMPARE(dlg.windowTitle(), QString("Edit Curve Header:"));
        QCOMPARE(dlg.NameEdit()->text(), QString("DT-470 sample"));
        QCOMPARE(dlg.TypeCombo()->currentText(), shown);
        QCOMPARE(Items(dlg.TypeCombo()),
                 QStringList({"Diode", "PTC100", "PTC1K", "PTC10K", "ACR", "TC80", "None"}));
        QCOMPARE(Items(dlg.UnitCombo()), QStringList({"Volts", "mVolts", "Ohms", "LogOhms"}));
        QCOMPARE(dlg.UnitCombo()->currentText(), unitEntry);
        QCOMPARE(dlg.MultiplierEdit()->text(), QString("2.5"));
        QCOMPARE(dlg.CountEdit()->text(), QString("12"));
        QVERIFY(!dlg.CountEdit()->isEnabled());
        QVERIFY(dlg.SaveBox()->isEnabled() && !dlg.SaveBox()->isChecked());

        dlg.NameEdit()->setText("Renamed");
        dlg.MultiplierEdit()->setText("-1");
        dlg.SaveBox()->setChecked(true);
        QTest::mouseClick(dlg.AcceptButton(), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        std::string name, type, unit = "unchanged";
        float multiplier = 0;
        dlg.Header().GetHeader(name, type, multiplier, unit);
        QCOMPARE(QString::fromStdString(name), QString("Renamed"));
        QCOMPARE(QString::fromStdString(type), shown);
        QCOMPARE(multiplier, -1.0f);
        QCOMPARE(QString::fromStdString(unit), unitBack);
        QVERIFY(dlg.Header().SaveRequested());
    }

    void headerEditorOfACrvSourceCannotSaveAgainAndRefusesABadMultiplier() {
        CCurveHeaderEdit dlg(Header("Diode", 0, true, true));
        dlg.show();
        QVERIFY(!dlg.SaveBox()->isEnabled());
        QVERIFY(dlg.SaveBox()->isChecked());  // the preset stays visible, but is never acted on

        dlg.MultiplierEdit()->setText("abc");
        QString shown;
        CatchNextMessageBox(&shown);
        QTest::mouseClick(dlg.AcceptButton(), Qt::LeftButton);
        QCOMPARE(shown, QString("Enter a number."));
        QVERIFY(dlg.isVisible());
        QCOMPARE(dlg.result(), 0);

        dlg.MultiplierEdit()->setText("3");
        QTest::mouseClick(dlg.AcceptButton(), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(dlg.Header().multiplier, 3.0f);
        QVERIFY(!dlg.Header().SaveRequested());

        // "Abort" leaves the members as they were.
        CCurveHeaderEdit aborted(Header("Diode", 0, false, false));
        aborted.show();
        aborted.NameEdit()->setText("changed");
        QTest::mouseClick(aborted.AbortButton(), Qt::LeftButton);
        QCOMPARE(aborted.result(), int(QDialog::Rejected));
        QCOMPARE(QString::fromStdString(aborted.Header().name), QString("DT-470 sample"));
    }

    void displayCurveDrawsTheCurveWithItsUnitLabels() {
        const CurveHeaderEdit h = HeaderOfFile(Data("calgen_linear_diode.crv"));
        CCurveHeaderEdit dlg(h);
        dlg.show();
        QTest::qWait(20);
        SaveGrab(dlg, "curve-header-edit");

        bool seen = false;
        WhenShown<CGraph>([&](CGraph* g) {
            seen = true;
            QChart* chart = g->Chart();
            QVERIFY(chart);
            QCOMPARE(chart->title(), QString("Sensor Curve"));
            const auto xs = chart->axes(Qt::Horizontal);
            const auto ys = chart->axes(Qt::Vertical);
            QCOMPARE(xs.size(), 1);
            QCOMPARE(ys.size(), 1);
            QCOMPARE(xs[0]->titleText(), QString("Temperature (K)"));
            QCOMPARE(ys[0]->titleText(), QString("Output ( Volts )"));
            QCOMPARE(chart->series().size(), 1);
            auto* line = qobject_cast<QLineSeries*>(chart->series()[0]);
            QCOMPARE(line->count(), int(h.pointCount));
            // Every point lies inside the axes' ranges.
            auto* x = qobject_cast<QValueAxis*>(xs[0]);
            auto* y = qobject_cast<QValueAxis*>(ys[0]);
            for (const QPointF& p : line->points()) {
                QVERIFY(p.x() >= x->min() && p.x() <= x->max());
                QVERIFY(p.y() >= y->min() && p.y() <= y->max());
            }
            QTest::qWait(50);
            SaveGrab(*g, "curve-graph");
            g->accept();
        });
        QTest::mouseClick(dlg.DisplayCurveButton(), Qt::LeftButton);
        QVERIFY(seen);
    }

    void graphWithoutLinesSaysSoInsteadOfDrawing() {
        GraphModel empty;
        QString shown;
        CatchNextMessageBox(&shown);
        CGraph g(empty);
        g.show();
        QVERIFY(PumpUntil([&] { return !shown.isEmpty(); }, 2000));
        QCOMPARE(shown, QString("The graph must be set up with at least 1 line"));
        QVERIFY(!g.Chart());
    }

    void userCurveChooserNumbersByPosition() {
        UserCurveChoice choice;
        for (int i = 0; i < 8; ++i) choice.names[i] = "User curve " + std::to_string(i + 1);
        choice.names[2] = "DT-470 sample";
        {
            CCalTblNumReq dlg(choice);
            dlg.show();
            QTest::qWait(20);
            SaveGrab(dlg, "user-curve-chooser");
            QCOMPARE(dlg.windowTitle(), QString("User Curve Number"));
            QCOMPARE(Items(dlg.Combo()).size(), 8);
            QCOMPARE(dlg.Combo()->itemText(2), QString("DT-470 sample"));
            QCOMPARE(dlg.Combo()->currentIndex(), 0);
            QTest::mouseClick(dlg.OkButton(), Qt::LeftButton);
            QCOMPARE(dlg.result(), int(QDialog::Accepted));
            QCOMPARE(dlg.Choice().number, 1);
        }
        CCalTblNumReq dlg(choice);
        dlg.show();
        dlg.Combo()->setCurrentIndex(5);
        QCOMPARE(dlg.Choice().number, 6);
        // Typing a name or a number into the field does not choose anything.
        dlg.Combo()->lineEdit()->setFocus();
        dlg.Combo()->lineEdit()->selectAll();
        QTest::keyClicks(dlg.Combo()->lineEdit(), "2");
        QCOMPARE(dlg.Choice().number, 6);
        QCOMPARE(dlg.Combo()->count(), 8);
    }

    void pidTableNumberTakesAnyIntegerTyped() {
        CPIDTblNumReq dlg(1);
        dlg.show();
        QTest::qWait(20);
        SaveGrab(dlg, "pid-table-number");
        QCOMPARE(dlg.windowTitle(), QString("PID Table Number"));
        QCOMPARE(Items(dlg.Combo()), QStringList({"1", "2", "3", "4", "5", "6"}));
        QCOMPARE(dlg.Combo()->currentText(), QString("1"));

        dlg.Combo()->setEditText("x");
        QString shown;
        CatchNextMessageBox(&shown);
        QTest::mouseClick(dlg.OkButton(), Qt::LeftButton);
        QCOMPARE(shown, QString("Enter an integer."));
        QVERIFY(dlg.isVisible());

        dlg.Combo()->lineEdit()->selectAll();
        QTest::keyClicks(dlg.Combo()->lineEdit(), "9");
        QTest::mouseClick(dlg.OkButton(), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(dlg.TableNumber(), 9);
    }

    void stripChartWidensInAutoAndKeepsAWrongManualScale() {
        CStripChart chart(20);
        chart.show();
        QCOMPARE(chart.windowTitle(), QString("Strip Chart"));
        QVERIFY(chart.AutoButton()->isChecked());
        QVERIFY(!chart.MaxEdit()->isEnabled() && !chart.ApplyButton()->isEnabled());

        chart.AddReading(300.0f, "10:00:00");
        QCOMPARE(chart.MaxEdit()->text(), QString("330"));
        QCOMPARE(chart.ValueAxis()->max(), 330.0);
        chart.AddReading(350.0f, "10:00:01");
        QCOMPARE(chart.MaxEdit()->text(), QString("385"));
        chart.AddReading(-5.0f, "10:00:02");
        QCOMPARE(chart.MinEdit()->text(), QString("-5.5"));
        QCOMPARE(chart.ValueAxis()->min(), -5.5);
        chart.AddReading(100.0f, "10:00:03");  // inside the scale: nothing widens
        QCOMPARE(chart.ValueAxis()->max(), 385.0);

        QTest::mouseClick(chart.ManualButton(), Qt::LeftButton);
        QVERIFY(chart.MaxEdit()->isEnabled() && chart.MinEdit()->isEnabled());
        QVERIFY(chart.ApplyButton()->isEnabled());
        chart.MinEdit()->setText("10");
        chart.MaxEdit()->setText("10");
        QString shown;
        CatchNextMessageBox(&shown);
        QTest::mouseClick(chart.ApplyButton(), Qt::LeftButton);
        QCOMPARE(shown, QString("Max value must be bigger than the min value"));
        QCOMPARE(chart.ValueAxis()->min(), -5.5);
        QCOMPARE(chart.ValueAxis()->max(), 385.0);

        // Enter anywhere in the window applies.
        chart.MaxEdit()->setText("20");
        chart.MaxEdit()->setFocus();
        QTest::keyClick(chart.MaxEdit(), Qt::Key_Return);
        QCOMPARE(chart.ValueAxis()->min(), 10.0);
        QCOMPARE(chart.ValueAxis()->max(), 20.0);
        QVERIFY(chart.isVisible());
        // In manual mode readings never move the scale.
        chart.AddReading(500.0f, "10:00:04");
        QCOMPARE(chart.ValueAxis()->max(), 20.0);

        // "Auto" widens from every value again; it never narrows.
        QTest::mouseClick(chart.AutoButton(), Qt::LeftButton);
        QVERIFY(!chart.MaxEdit()->isEnabled());
        QCOMPARE(chart.ValueAxis()->max(), 550.0);
        QCOMPARE(chart.ValueAxis()->min(), -5.5);
    }

    void stripChartFieldsKeepDigitsAndPointOnly() {
        CStripChart chart(20);
        chart.show();
        QTest::mouseClick(chart.ManualButton(), Qt::LeftButton);
        chart.MaxEdit()->clear();
        chart.MaxEdit()->setFocus();
        QTest::keyClicks(chart.MaxEdit(), "1a2.5");
        QCOMPARE(chart.MaxEdit()->text(), QString("12.5"));
        QCOMPARE(chart.MaxEdit()->cursorPosition(), 4);
        QTest::keyClicks(chart.MaxEdit(), "-");
        QCOMPARE(chart.MaxEdit()->text(), QString("12.5"));
        QTest::keyClicks(chart.MaxEdit(), "123456");
        QCOMPARE(chart.MaxEdit()->text(), QString("12.5123"));
    }

    void stripChartScrollsClearsAndHandsBackItsPlace() {
        CStripChart chart(100);
        chart.setWindowTitle("Channel A");
        chart.SetName("Input A");
        chart.SetUnit("K");
        chart.show();
        QCOMPARE(chart.Length(), 100);
        // Nothing measured, nothing drawn: no line of zeros.
        QCOMPARE(chart.Series()->count(), 0);
        QCOMPARE(chart.Chart()->title(), QString("Input A"));
        QCOMPARE(chart.ValueAxis()->titleText(), QString("Temperature (K)"));
        QCOMPARE(chart.TimeAxis()->titleText(), QString("Time"));

        // The first reading: one point, a scale around it and round value marks.
        chart.AddReading(77.0f, "11:59:59");
        QCOMPARE(chart.Series()->count(), 1);
        QCOMPARE(chart.Series()->at(0).x(), 99.0);
        QVERIFY(qAbs(chart.ValueAxis()->min() - 69.3) < 1e-4);
        QVERIFY(qAbs(chart.ValueAxis()->max() - 84.7) < 1e-4);
        QCOMPARE(chart.ValueAxis()->tickType(), QValueAxis::TicksDynamic);
        QCOMPARE(chart.ValueAxis()->labelFormat(), QString("%.0f"));
        QVERIFY(chart.ValueAxis()->tickInterval() == 2.0 ||
                chart.ValueAxis()->tickInterval() == 5.0 ||
                chart.ValueAxis()->tickInterval() == 10.0);
        QCOMPARE(std::fmod(chart.ValueAxis()->tickAnchor(), chart.ValueAxis()->tickInterval()),
                 0.0);

        for (int i = 0; i < 101; ++i) {
            const int s = i % 60, m = i / 60;
            chart.AddReading(static_cast<float>(i), QString("12:%1:%2")
                                                        .arg(m, 2, 10, QChar('0'))
                                                        .arg(s, 2, 10, QChar('0'))
                                                        .toStdString());
        }
        // The 101st reading dropped the oldest; the newest is at the right.
        QCOMPARE(chart.Series()->at(0).y(), 1.0);
        QCOMPARE(chart.Series()->at(99).y(), 100.0);
        QVERIFY(chart.TimeAxis()->categoriesLabels().contains("12:01:40"));
        QVERIFY(chart.TimeAxis()->count() >= 2);

        // Wider window, more time labels.
        const int narrow = chart.TimeAxis()->count();
        chart.resize(900, 300);
        QTest::qWait(20);
        QVERIFY(chart.TimeAxis()->count() > narrow);

        QTest::mouseClick(chart.ClearButton(), Qt::LeftButton);
        QCOMPARE(chart.Series()->count(), 0);
        QCOMPARE(chart.TimeAxis()->count(), 0);

        QSignalSpy spy(&chart, &CStripChart::placeHandedBack);
        QTest::keyClick(&chart, Qt::Key_Escape);
        QVERIFY(!chart.isVisible());
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy[0][0].toString(), QString("Channel A"));
        QCOMPARE(spy[0][1].toRect(), chart.frameGeometry());
    }

    void stripChartWithData() {
        CStripChart chart(100);
        chart.setWindowTitle("Channel A");
        chart.SetName("Channel A");
        chart.SetUnit("K");
        chart.resize(620, 320);
        chart.show();
        for (int i = 0; i < 80; ++i) {
            const float v = 290.0f + 10.0f * std::sin(i / 9.0f) + 0.05f * i;
            chart.AddReading(v, QString("14:%1:%2")
                                    .arg(20 + i / 60, 2, 10, QChar('0'))
                                    .arg(i % 60, 2, 10, QChar('0'))
                                    .toStdString());
        }
        QTest::qWait(50);
        SaveGrab(chart, "strip-chart");
    }

    void fileDialogsGetTheRequestsFiltersAndOptions() {
        FileDialogRequest open{
            ct::kDownloadFilter, ct::kDownloadExtension, kFileMustExist | kHideReadOnly, {}};
        QCOMPARE(QtNameFilters(open),
                 QStringList({"Curve Files (.crv .340) (*.crv *.340)", "All Files (*.*) (*)"}));
        QFileDialog o;
        ConfigureFileDialog(o, open, false);
        QCOMPARE(o.acceptMode(), QFileDialog::AcceptOpen);
        QCOMPARE(o.fileMode(), QFileDialog::ExistingFile);
        QCOMPARE(o.defaultSuffix(), QString("crv"));

        FileDialogRequest save{
            ct::kPidSaveFilter, ct::kPidExtension, kHideReadOnly | kOverwritePrompt, {}};
        QCOMPARE(QtNameFilters(save), QStringList({"PID Table Files (*.pid) (*.pid)"}));
        QFileDialog s;
        ConfigureFileDialog(s, save, true);
        QCOMPARE(s.acceptMode(), QFileDialog::AcceptSave);
        QVERIFY(!s.testOption(QFileDialog::DontConfirmOverwrite));
        QCOMPARE(s.defaultSuffix(), QString("pid"));

        FileDialogRequest convert{ct::kConvertFilter, ct::kConvertExtension, 0, {}};
        QFileDialog c;
        ConfigureFileDialog(c, convert, true);
        QVERIFY(c.testOption(QFileDialog::DontConfirmOverwrite));
        QCOMPARE(c.defaultSuffix(), QString("340"));
    }

    // The menu and the shortcut bar reach the real commands; a curve goes down and comes back.
    void curveDownloadAndUploadThroughTheView() {
        GuiBench b;
        b.PressConnect();
        QVERIFY(PumpUntil([&] { return b.Bar().StatusText() == "Connected"; }, 5000));
        b.Frame().RefreshCommandStates();

        // The bar's buttons open the commands' file dialogs (cancelled here).
        QTest::mouseClick(b.Bar().Button(1173), Qt::LeftButton);
        QVERIFY(PumpUntil([&] { return b.op.openFileRequests.size() == 1; }, 2000));
        QCOMPARE(b.op.openFileRequests[0].filter, std::string(ct::kDownloadFilter));
        QTest::mouseClick(b.Bar().Button(1174), Qt::LeftButton);
        QVERIFY(PumpUntil([&] { return b.op.openFileRequests.size() == 2; }, 2000));
        QCOMPARE(b.op.openFileRequests[1].filter, std::string(ct::kPidOpenFilter));

        const std::string source = Data("curves/descending.crv");
        b.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(source));
        b.op.headerAnswers.push_back(ScriptedOperator::AcceptHeader());
        b.op.userCurveAnswers.push_back(DialogResult<int>::Accept(2));
        b.Frame().ActionFor(ID_CURVE_DOWNLOAD)->trigger();
        QCOMPARE(b.op.MessageTexts(), std::vector<std::string>{"Download Complete"});
        QVERIFY(LogText(b).find("User Curve 3 is downloaded from " + source) != std::string::npos);
        QCOMPARE(b.op.headerPresets.size(), size_t(1));
        QVERIFY(!b.op.headerPresets[0].SaveBoxEnabled());

        TempDir dir;
        const std::string out = dir.Str() + "/back.crv";
        b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(out));
        b.op.userCurveAnswers.push_back(DialogResult<int>::Accept(2));
        b.Frame().ActionFor(ID_CURVE_UPLOAD)->trigger();
        QCOMPARE(b.op.MessageTexts().back(), std::string("Upload Complete"));
        QCOMPARE(b.op.userCurvePresets.back().names[2], std::string("DT-470 sample"));

        SensorCurve original, back;
        QCOMPARE(int(SensorCurve::ReadCrvFile(source, original)), int(kCurveReadOk));
        QCOMPARE(int(SensorCurve::ReadCrvFile(out, back)), int(kCurveReadOk));
        QCOMPARE(back.PointCount(), original.PointCount());
        for (uint32_t i = 0; i < back.PointCount(); ++i) {
            QCOMPARE(back.points[i].sensorValue, original.points[i].sensorValue);
            QCOMPARE(back.points[i].temperature, original.points[i].temperature);
        }
    }

    // The same with the real dialogs, driven as a person would.
    void curveDownloadAndUploadWithTheRealDialogs() {
        GuiBench::Options o;
        o.qtDialogs = true;
        GuiBench b(o);
        b.PressConnect();
        QVERIFY(PumpUntil([&] { return b.Bar().StatusText() == "Connected"; }, 5000));
        b.Frame().RefreshCommandStates();

        const std::string source = Data("calgen_linear_diode.crv");
        QStringList boxes;
        bool progressShot = false;
        QStringList filters;
        auto driveMessages = [&] {
            // Accepts message boxes and pictures the progress window once it moved.
            auto* timer = new QTimer(&b.Frame());
            QObject::connect(timer, &QTimer::timeout, [&] {
                for (QWidget* w : QApplication::topLevelWidgets()) {
                    if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                        boxes << box->text();
                        box->accept();
                    }
                    if (auto* p = qobject_cast<CTfrDlg*>(w);
                        p && p->isVisible() && p->Pos() > 20 && !progressShot) {
                        progressShot = true;
                        SaveGrab(*p, "progress-curve-download");
                    }
                }
            });
            timer->start(15);
            return timer;
        };
        QTimer* driver = driveMessages();

        WhenShown<QFileDialog>([&](QFileDialog* d) {
            filters = d->nameFilters();
            ChooseFile(d, QString::fromStdString(source));
        });
        WhenShown<CCurveHeaderEdit>([&](CCurveHeaderEdit* d) {
            QVERIFY(!d->SaveBox()->isEnabled());
            d->NameEdit()->setText("Linear diode");
            QTest::mouseClick(d->AcceptButton(), Qt::LeftButton);
        });
        WhenShown<CCalTblNumReq>([&](CCalTblNumReq* d) {
            d->Combo()->setCurrentIndex(4);
            QTest::mouseClick(d->OkButton(), Qt::LeftButton);
        });
        b.Frame().ActionFor(ID_CURVE_DOWNLOAD)->trigger();
        QCOMPARE(filters.first(), QString("Curve Files (.crv .340) (*.crv *.340)"));
        QVERIFY(PumpUntil([&] { return boxes.contains("Download Complete"); }, 5000));
        QVERIFY(progressShot);
        // The file dialog gives the path without "..".
        const std::string chosen =
            QFileInfo(QString::fromStdString(source)).canonicalFilePath().toStdString();
        QVERIFY(LogText(b).find("User Curve 5 is downloaded from " + chosen) != std::string::npos);

        TempDir dir;
        const QString out = QString::fromStdString(dir.Str()) + "/uploaded";
        QString chooserName;
        WhenShown<QFileDialog>([&](QFileDialog* d) { ChooseFile(d, out); });
        WhenShown<CCalTblNumReq>([&](CCalTblNumReq* d) {
            d->Combo()->setCurrentIndex(4);
            chooserName = d->Combo()->currentText();
            QTest::mouseClick(d->OkButton(), Qt::LeftButton);
        });
        b.Frame().ActionFor(ID_CURVE_UPLOAD)->trigger();
        QVERIFY(PumpUntil([&] { return boxes.contains("Upload Complete"); }, 5000));
        driver->stop();
        QCOMPARE(chooserName, QString("Linear diode"));
        // The default extension was added to the name typed without one.
        const std::string text = Slurp(out.toStdString() + ".crv");
        QVERIFY(text.rfind("Linear diode\r\n", 0) == 0);
        SensorCurve original, back;
        QCOMPARE(int(SensorCurve::ReadCrvFile(source, original)), int(kCurveReadOk));
        QCOMPARE(int(SensorCurve::ReadCrvFile(out.toStdString() + ".crv", back)),
                 int(kCurveReadOk));
        QCOMPARE(back.PointCount(), original.PointCount());
    }
};

QTEST_MAIN(CurveWindowsTest)
#include "CurveWindowsTest.moc"
