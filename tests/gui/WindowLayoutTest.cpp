// Every dialog laid out for its texts (at the default font and at one and a half times its
// size), with the frame a desktop user expects of a dialog, and a help section for every menu
// command. Pictures of each dialog go to the build folder's screenshots/.
#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStyle>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocumentFragment>
#include <QTimer>
#include <memory>

#include "GuiTestBench.h"
#include "app/CAboutDlg.h"
#include "app/CHelpWindow.h"
#include "app/Commands.h"
#include "app/GuiResources.h"
#include "base/DialogFrame.h"
#include "calgen/COnePoint.h"
#include "calgen/CSelectCalGenType.h"
#include "calgen/CTWOPOINTS.h"
#include "calgen/CThreePoints.h"
#include "calibration/CCalibPage.h"
#include "calibration/CCalibPasswordDialogs.h"
#include "charts/CGraph.h"
#include "charts/CStripChart.h"
#include "consoles/CSerialTerminal.h"
#include "curves/CCalTblNumReq.h"
#include "curves/CCurveHeaderEdit.h"
#include "curves/CPIDTblNumReq.h"
#include "curves/CTfrDlg.h"
#include "link/CCommSetUp.h"
#include "link/CGPIBAddrEditDlg.h"
#include "link/CIPEdit.h"
#include "link/CPortSelect.h"
#include "logging/CDataLogSetup.h"
#include "logging/CDataLoggingInProcMessage.h"

using namespace tavrix;
using namespace tavrix::test;

namespace {

class NoPrograms : public DesktopPrograms {
public:
    bool RequestCloseWindow(const std::string&) override { return false; }
    StartResult StartProgram(const std::string&) override { return kStarted; }
};

struct Dialog {
    QString name;
    std::unique_ptr<QDialog> window;
    // Chart windows may be maximised; the other dialogs have a close box only.
    bool mayMaximise = false;
};

// Every dialog of the program, filled as the operator meets it.
std::vector<Dialog> AllDialogs(SettingsStore& settings, ScriptedOperator& op,
                               DesktopPrograms& desktop) {
    std::vector<Dialog> all;
    auto add = [&](const char* name, QDialog* d, bool mayMaximise = false) {
        all.push_back({name, std::unique_ptr<QDialog>(d), mayMaximise});
    };
    add("about", new CAboutDlg);
    add("comm-setup", new CCommSetUp(settings, {1, 3}));
    add("port-select", new CPortSelect(0));
    add("gpib-address", new CGPIBAddrEditDlg(12));
    add("ip-edit", new CIPEdit({0xC0A80004u, 5000}));
    auto* transfer = new CTfrDlg;
    transfer->Open();
    transfer->SetMessage("Downloading curve 21 to the controller...");
    transfer->SetPos(45);
    add("transfer-progress", transfer);
    UserCurveChoice choice;
    for (int i = 0; i < 8; ++i)
        choice.names[static_cast<size_t>(i)] = "User curve " + std::to_string(i + 1);
    add("user-curve-number", new CCalTblNumReq(choice));
    add("pid-table-number", new CPIDTblNumReq(1));
    CurveHeaderEdit header;
    header.SetHeader("DT-470 sample", "Diode", 2.5f, 2, 12, true);
    header.Open();
    add("curve-header", new CCurveHeaderEdit(header));
    add("curve-graph",
        new CGraph(GraphModel::OneLine("DT-470 sample", "Temperature (K)", "Volts",
                                       {1.4f, 77.0f, 300.0f}, {1.6f, 1.02f, 0.52f})),
        true);
    add("calgen-type", new CSelectCalGenType);
    add("one-point", new COnePoint(OnePointValues{}, desktop, op));
    add("two-points", new CTWOPOINTS(TwoPointsValues{}, desktop, op));
    add("three-points", new CThreePoints(ThreePointsValues{}, desktop, op));
    FeatureManager features;
    features.Update(32);
    DataLogSetupModel preset;
    preset.EnableFrom(features);
    preset.interval = 30.0;
    add("logging-setup", new CDataLogSetup(preset));
    auto* progress = new CDataLoggingInProcMessage;
    for (int i = 0; i < kLogSourceCount; ++i) progress->Model().AddLabel(i);
    progress->Model().intervalText = "    30.0";
    progress->Model().fileText = "/home/operator/runs/cooldown-2026-12-08.csv";
    progress->Model().entriesText = "12345";
    progress->Refresh();
    add("logging-progress", progress);
    add("verify-password", new CVerifyPW);
    add("change-password", new CChangePswd(op));
    add("capturing-data", new CCapturingDataDiag);
    auto* monitor = new CStripChart(100);
    monitor->setWindowTitle("Channel A");
    monitor->ApplyReading({"77.3", "K", "Stage"}, "09:00:00");
    add("monitor", monitor, true);
    add("terminal", new CSerialTerminal(settings), true);
    return all;
}

// The widgets of `top` whose text does not fit the room they were given.
QStringList CutTexts(QWidget& top) {
    QStringList cut;
    for (QWidget* w : top.findChildren<QWidget*>()) {
        if (!w->isVisibleTo(&top)) continue;
        QString text;
        QSize need;
        if (auto* l = qobject_cast<QLabel*>(w)) {
            text = l->text();
            if (text.isEmpty()) continue;  // a picture
            need = l->wordWrap() ? QSize(0, l->heightForWidth(l->width())) : l->sizeHint();
        } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            text = b->text();
            if (text.isEmpty()) continue;
            need = b->sizeHint();
        } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
            text = g->title();
            need = QSize(g->fontMetrics().horizontalAdvance(text) + 16, 0);
        } else if (auto* e = qobject_cast<QLineEdit*>(w); e && e->isReadOnly()) {
            // What the program writes into a read-only field must show whole.
            text = e->text();
            const int frame =
                e->hasFrame() ? 2 * e->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) : 0;
            const QMargins m = e->textMargins();
            need = QSize(
                e->fontMetrics().horizontalAdvance(text) + 4 + frame + m.left() + m.right(), 0);
        } else {
            continue;
        }
        // Inside the window, not cut off by its edge.
        const QRect at(w->mapTo(&top, QPoint(0, 0)), w->size());
        if (!top.rect().contains(at))
            cut << QString("\"%1\" lies outside the window (%2,%3 %4x%5)")
                       .arg(text)
                       .arg(at.x())
                       .arg(at.y())
                       .arg(at.width())
                       .arg(at.height());
        if (need.width() > w->width() || need.height() > w->height())
            cut << QString("\"%1\" needs %2x%3, has %4x%5")
                       .arg(text)
                       .arg(need.width())
                       .arg(need.height())
                       .arg(w->width())
                       .arg(w->height());
    }
    return cut;
}

// Menu items with their command numbers and the path to them ("Comm > Connect").
void MenuCommands(const QList<QAction*>& actions, const QString& path,
                  QList<QPair<QString, int>>& out) {
    for (QAction* a : actions) {
        const QString text = a->text().remove('&').simplified();
        if (a->menu()) {
            MenuCommands(a->menu()->actions(), path.isEmpty() ? text : path + " > " + text, out);
        } else if (!a->isSeparator()) {
            out.append({path + " > " + text, a->data().toInt()});
        }
    }
}

}  // namespace

class WindowLayoutTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { FreshConfigFolder(); }

    void everyDialogShowsItsTextsWhole_data() {
        QTest::addColumn<double>("scale");
        QTest::newRow("default font") << 1.0;
        QTest::newRow("font 1.5 times") << 1.5;
    }
    void everyDialogShowsItsTextsWhole() {
        QFETCH(double, scale);
        const QFont original = QApplication::font();
        QFont font = original;
        font.setPointSizeF(original.pointSizeF() * scale);
        QApplication::setFont(font);
        {
            TempDir dir;
            SettingsStore settings(dir.Str());
            ScriptedOperator op;
            NoPrograms desktop;
            QStringList faults;
            for (Dialog& d : AllDialogs(settings, op, desktop)) {
                d.window->show();
                Pump(30);
                for (const QString& c : CutTexts(*d.window)) faults << d.name + ": " + c;
                if (d.window->width() < TitleWidth(*d.window))
                    faults << d.name + ": the title \"" + d.window->windowTitle() + "\" is cut";
                if (scale == 1.0) SaveGrab(*d.window, "dialog-" + d.name);
                if (scale == 1.5) SaveGrab(*d.window, "dialog-" + d.name + "-large-font");
                d.window->hide();
            }
            QApplication::setFont(original);
            QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
        }
        QApplication::setFont(original);
    }

    // No minimise button on a dialog, no maximise button on one that is not a chart (the window
    // manager adds both unless the window says which it wants), and a real title.
    void dialogsCarryDialogFrames() {
        TempDir dir;
        SettingsStore settings(dir.Str());
        ScriptedOperator op;
        NoPrograms desktop;
        QStringList faults;
        for (Dialog& d : AllDialogs(settings, op, desktop)) {
            const Qt::WindowFlags f = d.window->windowFlags();
            if (!(f & Qt::CustomizeWindowHint))
                faults << d.name + ": buttons left to the window manager";
            if (f & Qt::WindowMinimizeButtonHint) faults << d.name + ": a minimise button";
            if ((f & Qt::WindowMaximizeButtonHint) && !d.mayMaximise)
                faults << d.name + ": a maximise button";
            const QString title = d.window->windowTitle().trimmed();
            if (title.isEmpty() || title == "Dialog")
                faults << d.name + ": title \"" + title + "\"";
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }

    void everyMenuCommandHasAHelpSection() {
        InitGuiResources();
        QFile file(":/tavrix/help.html");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(file.readAll());
        // Sections: from one heading to the next; a heading carries the anchors "cmdNNNNN" of
        // the commands it describes.
        const QRegularExpression heading("<h([23])>(.*?)</h\\1>",
                                         QRegularExpression::DotMatchesEverythingOption);
        struct Section {
            QString anchors, text;
        };
        QList<Section> sections;
        auto it = heading.globalMatch(html);
        QList<QRegularExpressionMatch> matches;
        while (it.hasNext()) matches << it.next();
        for (int i = 0; i < matches.size(); ++i) {
            const qsizetype end =
                i + 1 < matches.size() ? matches[i + 1].capturedStart() : html.size();
            const QString body =
                html.mid(matches[i].capturedStart(), end - matches[i].capturedStart());
            sections.append({matches[i].captured(2),
                             QTextDocumentFragment::fromHtml(body).toPlainText().simplified()});
        }

        GuiBench b;
        QList<QPair<QString, int>> commands;
        MenuCommands(b.Frame().menuBar()->actions(), {}, commands);
        QVERIFY(commands.size() >= 30);
        QStringList missing;
        for (const auto& [path, id] : commands) {
            const QString anchor = QString("name=\"cmd%1\"").arg(id);
            const QString item = path.section(" > ", -1);
            bool found = false;
            for (const Section& s : sections)
                if (s.anchors.contains(anchor) && s.text.contains(item)) found = true;
            if (!found) missing << path + QString(" (%1)").arg(id);
        }
        QVERIFY2(missing.isEmpty(), qPrintable("no help section for: " + missing.join(", ")));
        // What the help page once said of this program no longer holds.
        QVERIFY(!html.contains("not available in this version"));
    }

    // F1 opens the help at the section of the window it was pressed in; over a modal dialog the
    // help window belongs to the dialog, so that it is not blocked by it.
    void f1OpensTheHelpAtTheWindowInFront() {
        GuiBench b;
        b.Frame().show();
        CVoduradView& view = b.View();
        auto f1 = [&](QWidget* w) -> QString {
            QTest::keyClick(w, Qt::Key_F1);
            CHelpWindow* help = view.HelpWindow();
            if (!help || !help->isVisible()) return "(no help window)";
            return help->Browser()->source().fragment();
        };
        QCOMPARE(f1(&view), QString("desktop-the-main-window-and-the-short-cuts-bar"));
        view.Terminal()->show();
        QCOMPARE(f1(view.Terminal()), QString("terminal-the-serial-terminal"));
        QVERIFY(view.HelpWindow()->Browser()->verticalScrollBar()->value() > 0);
        view.Monitor(0)->show();
        QCOMPARE(f1(view.Monitor(0)), QString("logging-monitors"));

        CPortSelect dialog(0, &view);
        QString fromDialog;
        QWidget* helpOwner = nullptr;
        QTimer::singleShot(0, &dialog, [&] {
            fromDialog = f1(&dialog);
            if (view.HelpWindow()) helpOwner = view.HelpWindow()->parentWidget();
            dialog.reject();
        });
        dialog.exec();
        QCOMPARE(fromDialog, QString("cmd32798"));
        QCOMPARE(helpOwner, &dialog);
        // Help Topics from the menu opens the page at its top.
        b.Hub().Run(ID_HELP);
        QVERIFY(view.HelpWindow() && view.HelpWindow()->isVisible());
        QCOMPARE(view.HelpWindow()->Browser()->source().fragment(), QString());
    }

    void everyDialogHasAHelpSectionForF1() {
        InitGuiResources();
        QFile file(":/tavrix/help.html");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(file.readAll());
        QStringList faults;
        for (const QString& anchor : CHelpWindow::KnownAnchors())
            if (!html.contains(QString("name=\"%1\"").arg(anchor)))
                faults << "no anchor " + anchor + " in the help page";
        TempDir dir;
        SettingsStore settings(dir.Str());
        ScriptedOperator op;
        NoPrograms desktop;
        const QString mainWindow = CHelpWindow::AnchorFor(nullptr);
        for (Dialog& d : AllDialogs(settings, op, desktop))
            if (CHelpWindow::AnchorFor(d.window.get()) == mainWindow)
                faults << d.name + ": F1 would open the main window's section";
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }
};

QTEST_MAIN(WindowLayoutTest)
#include "WindowLayoutTest.moc"
