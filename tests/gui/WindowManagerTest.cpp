// The desktop program under a real window manager (Xvfb + openbox, started by the suite): what
// the operator sees at first start, floating windows that stay where they were put, and the
// ways a logging run can and cannot be ended from the windows.
#include <xcb/xcb.h>
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>
#include <QWindow>
#include <cstring>
#include <tuple>

#include "GuiTestBench.h"
#include "WindowManagerBench.h"
#include "app/CHelpWindow.h"
#include "app/CVoduradApp.h"
#include "base/ScreenRect.h"
#include "charts/CStripChart.h"
#include "consoles/CSerialTerminal.h"
#include "logging/CDataLogViewer.h"
#include "logging/CDataLoggingInProcMessage.h"

using namespace tavrix;
using namespace tavrix::test;

namespace {

// The client windows of the display, bottom to top, as the window manager stacks them.
std::vector<WId> StackingOrder() {
    std::vector<WId> out;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11) return out;
    xcb_connection_t* c = x11->connection();
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const char name[] = "_NET_CLIENT_LIST_STACKING";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, sizeof name - 1, name), nullptr);
    if (!atom) return out;
    xcb_get_property_reply_t* prop = xcb_get_property_reply(
        c, xcb_get_property(c, 0, screen->root, atom->atom, XCB_ATOM_WINDOW, 0, 1024), nullptr);
    free(atom);
    if (!prop) return out;
    const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(prop));
    const int n = xcb_get_property_value_length(prop) / 4;
    for (int i = 0; i < n; ++i) out.push_back(ids[i]);
    free(prop);
    return out;
}

int StackIndex(QWidget& w) {
    const auto order = StackingOrder();
    for (size_t i = 0; i < order.size(); ++i)
        if (order[i] == w.winId()) return static_cast<int>(i);
    return -1;
}

// How much of `w`'s client area the screen shows as `w` draws it (0..1): 1 when nothing
// covers it.
double VisibleShare(QWidget& w) {
    const QImage own = w.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect r(w.mapToGlobal(QPoint(0, 0)), w.size());
    const QImage screen = QGuiApplication::primaryScreen()
                              ->grabWindow(0, r.x(), r.y(), r.width(), r.height())
                              .toImage()
                              .convertToFormat(QImage::Format_RGB32);
    if (own.size() != screen.size() || own.isNull()) return 0.0;
    long same = 0, all = 0;
    for (int y = 0; y < own.height(); y += 2)
        for (int x = 0; x < own.width(); x += 2, ++all)
            if (own.pixel(x, y) == screen.pixel(x, y)) ++same;
    return all ? static_cast<double>(same) / static_cast<double>(all) : 0.0;
}

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
    free(r);
    return a;
}

void SendClientMessage(xcb_window_t to, xcb_window_t about, xcb_atom_t type,
                       std::initializer_list<uint32_t> data, uint32_t mask) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11->connection();
    xcb_client_message_event_t e{};
    e.response_type = XCB_CLIENT_MESSAGE;
    e.format = 32;
    e.window = about;
    e.type = type;
    int i = 0;
    for (uint32_t d : data) e.data.data32[i++] = d;
    xcb_send_event(c, 0, to, mask, reinterpret_cast<const char*>(&e));
    xcb_flush(c);
    Pump(100);
}

xcb_connection_t* X() {
    return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

// What the window manager sends when the operator clicks a window's close box.
void ClickCloseBox(QWidget& w) {
    const auto win = static_cast<xcb_window_t>(w.winId());
    SendClientMessage(win, win, Atom(X(), "WM_PROTOCOLS"),
                      {Atom(X(), "WM_DELETE_WINDOW"), XCB_CURRENT_TIME}, XCB_EVENT_MASK_NO_EVENT);
}

// Brings `w` to the front with the focus as the operator's click would. (An application's own
// request may be refused by the window manager's focus-stealing guard.)
bool ActivateAsTheOperatorWould(QWidget& w) {
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(X())).data->root;
    // Source 2: a pager or taskbar, that is, the operator.
    SendClientMessage(root, static_cast<xcb_window_t>(w.winId()),
                      Atom(X(), "_NET_ACTIVE_WINDOW"), {2, XCB_CURRENT_TIME, 0},
                      XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
    return QTest::qWaitForWindowActive(&w);
}

bool Connect(GuiBench& b) {
    b.PressConnect();
    return PumpUntil([&] { return b.Hub().Features().AnyInstrument(); }, 8000);
}

// Starts a logging run of input A at 0.1 s into the bench's settings folder.
bool StartRun(GuiBench& b) {
    b.op.logSetupAnswers.push_back([](DataLogSetupModel m) {
        m.mask = 0x0001;
        m.interval = 0.1;
        return DialogResult<DataLogSetupModel>::Accept(m);
    });
    b.op.saveFileAnswers.push_back(
        DialogResult<std::string>::Accept(b.Settings().Folder() + "/wm-run.csv"));
    b.View().OnCommand(ID_LOG_START);
    return b.Hub().LoggingActive().load() && WaitForFrame(*b.View().LoggingProgress());
}

// The part of the screen around `r` (the windows of a picture), with a margin.
bool SaveScreenPart(const QString& name, const QRect& r) {
    const QRect part = r.adjusted(-12, -12, 12, 12) & QGuiApplication::primaryScreen()->geometry();
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, part.x(), part.y(),
                                                                      part.width(), part.height());
    QDir().mkpath(TAVRIX_SCREENSHOT_DIR);
    return !shot.isNull() && shot.save(QString(TAVRIX_SCREENSHOT_DIR) + "/" + name + ".png");
}

QString Describe(const QRect& r) {
    return QString("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

QRect Stored(SettingsStore& s, const char* section) {
    return QRect(
        QPoint(s.GetInt(section, "WinLeft", 0), s.GetInt(section, "WinTop", 0)),
        QPoint(s.GetInt(section, "WinRight", 0) - 1, s.GetInt(section, "WinBottom", 0) - 1));
}

}  // namespace

class WindowManagerTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { FreshConfigFolder(); }

    // A fresh settings folder: the bar is in sight, above the main window, and stays above it
    // when the main window is clicked; "&Shortcut" brings it forward.
    void shortcutBarInSightAtFirstStart() {
        TAVRIX_REQUIRE_WINDOW_MANAGER();
        FreshConfigFolder();
        ScriptedOperator op;
        CVoduradApp app;
        CVoduradApp::Options options;
        options.simulate = true;
        QVERIFY(app.InitInstance(options, &op));
        CMainFrame& frame = *app.MainFrame();
        CShortCutButtons& bar = *frame.View()->ShortcutBar();
        QVERIFY(WaitForFrame(frame));
        QVERIFY(WaitForFrame(bar));
        SettledFrame(frame);
        SettledFrame(bar);
        Pump(300);
        QVERIFY(SaveScreen("first-start"));
        QVERIFY2(StackIndex(bar) > StackIndex(frame),
                 qPrintable(QString("bar at %1, main window at %2")
                                .arg(StackIndex(bar))
                                .arg(StackIndex(frame))));
        QVERIFY2(VisibleShare(bar) > 0.95, qPrintable(QString::number(VisibleShare(bar))));
        QVERIFY(
            QGuiApplication::primaryScreen()->availableGeometry().contains(bar.frameGeometry()));
    }

    // A monitor and the terminal opened, moved, closed and reopened five times, and then after a
    // restart, come back at the same place and size; monitors open at exit are recorded.
    void floatingWindowsStayWhereTheyWerePut() {
        TAVRIX_REQUIRE_WINDOW_MANAGER();
        TempDir dir;
        GuiBench::Options o;
        o.settingsFolder = dir.Str();
        QRect monitorPlace, terminalPlace;
        {
            GuiBench b(o);
            QVERIFY(WaitForFrame(b.Frame()));
            QVERIFY(Connect(b));
            CStripChart& m = *b.View().Monitor(0);
            CSerialTerminal& t = *b.View().Terminal();
            struct Case {
                QWidget* w;
                int command;
                QRect moveTo;
                QRect* place;
                const char* section;
            } cases[] = {
                {&m, ID_MONITOR_A, QRect(140, 120, 560, 380), &monitorPlace, "CHAPOS"},
                {&t, ID_INTERACT, QRect(620, 560, 470, 120), &terminalPlace, "S_TERM_POS"}};
            for (Case& c : cases) {
                for (int cycle = 0; cycle < 5; ++cycle) {
                    b.View().OnCommand(c.command);
                    QVERIFY(WaitForFrame(*c.w));
                    const QRect shown = SettledFrame(*c.w);
                    if (cycle == 0) {
                        // The operator moves and sizes it.
                        PlaceAtScreenRect(*c.w, c.moveTo);
                        *c.place = SettledFrame(*c.w);
                        QVERIFY2(c.place->topLeft() == c.moveTo.topLeft(),
                                 qPrintable(Describe(*c.place)));
                    } else {
                        QVERIFY2(shown == *c.place, qPrintable(QString("cycle %1: %2, was %3")
                                                                   .arg(cycle)
                                                                   .arg(Describe(shown))
                                                                   .arg(Describe(*c.place))));
                    }
                    ClickCloseBox(*c.w);
                    QVERIFY(PumpUntil([&] { return !c.w->isVisible(); }, 3000));
                    QCOMPARE(Stored(b.Settings(), c.section), *c.place);
                }
            }
            // At exit with a monitor open, the program records it.
            b.View().OnCommand(ID_MONITOR_A);
            QVERIFY(WaitForFrame(m));
            b.Frame().close();
            QApplication::closeAllWindows();  // what the application's quit does next
            Pump(50);
        }
        SettingsStore after(dir.Str());
        QCOMPARE(after.GetInt("MONITORS", "CHA", -1), 1);
        QCOMPARE(after.GetInt("MONITORS", "CHB", -1), 0);
        QCOMPARE(Stored(after, "CHAPOS"), monitorPlace);

        GuiBench b(o);
        QVERIFY(WaitForFrame(b.Frame()));
        QVERIFY(Connect(b));
        for (auto [w, command, place] :
             {std::tuple<QWidget*, int, QRect>{b.View().Monitor(0), ID_MONITOR_A, monitorPlace},
              {b.View().Terminal(), ID_INTERACT, terminalPlace}}) {
            b.View().OnCommand(command);
            QVERIFY(WaitForFrame(*w));
            const QRect shown = SettledFrame(*w);
            QVERIFY2(shown == place,
                     qPrintable(Describe(shown) + " after restart, was " + Describe(place)));
        }
        // Monitors without a place of their own open cascaded, not on top of A.
        b.View().OnCommand(ID_MONITOR_B);
        b.View().OnCommand(ID_MONITOR_HEATER1);
        QVERIFY(WaitForFrame(*b.View().Monitor(1)) && WaitForFrame(*b.View().Monitor(8)));
        const QRect bPlace = SettledFrame(*b.View().Monitor(1));
        const QRect h1Place = SettledFrame(*b.View().Monitor(8));
        QCOMPARE(bPlace.topLeft(), monitorPlace.topLeft() + QPoint(10, 10));
        QVERIFY(h1Place.topLeft() != bPlace.topLeft() &&
                h1Place.topLeft() != monitorPlace.topLeft());
        Pump(200);
        QVERIFY(SaveScreen("windows-kept-in-place"));
    }

    // During a run: Esc and the progress window's close box do not stop it (the close box asks
    // first); closing the main window asks whether to stop the run.
    void onlyStopEndsARun() {
        TAVRIX_REQUIRE_WINDOW_MANAGER();
        GuiBench b;
        QVERIFY(WaitForFrame(b.Frame()));
        QVERIFY(Connect(b));
        QVERIFY(StartRun(b));
        CDataLoggingInProcMessage& progress = *b.View().LoggingProgress();
        SaveScreen("logging-run");

        QTest::keyClick(&progress, Qt::Key_Escape);
        Pump(100);
        QVERIFY(b.Hub().LoggingActive().load());
        QVERIFY(progress.isVisible());

        b.op.yesNoAnswers.push_back(false);
        ClickCloseBox(progress);
        QCOMPARE(b.op.questions.size(), size_t(1));
        QCOMPARE(b.op.questions.back(),
                 std::string("Data logging is in progress. Stop the data logging?"));
        QVERIFY(b.Hub().LoggingActive().load());
        QVERIFY(progress.isVisible());

        // The main window: No keeps both the window and the run.
        b.op.yesNoAnswers.push_back(false);
        ClickCloseBox(b.Frame());
        QCOMPARE(b.op.questions.size(), size_t(2));
        QCOMPARE(b.op.questions.back(),
                 std::string("Data logging is in progress. Stop the data logging and exit?"));
        QVERIFY(b.Hub().LoggingActive().load());
        QVERIFY(b.Frame().isVisible());
        // Ctrl+Q asks the same.
        b.op.yesNoAnswers.push_back(false);
        QVERIFY(ActivateAsTheOperatorWould(b.Frame()));
        QTest::keyClick(b.Frame().windowHandle(), Qt::Key_Q, Qt::ControlModifier);
        Pump(50);
        QCOMPARE(b.op.questions.size(), size_t(3));
        QVERIFY(b.Frame().isVisible());

        // The progress window's close box, Yes: the run stops as with Stop.
        b.op.yesNoAnswers.push_back(true);
        ClickCloseBox(progress);
        QVERIFY(PumpUntil([&] { return !b.Hub().LoggingActive().load(); }, 5000));
        QVERIFY(!progress.isVisible());

        // A second run, ended by closing the main window with Yes.
        QVERIFY(StartRun(b));
        b.op.yesNoAnswers.push_back(true);
        ClickCloseBox(b.Frame());
        QVERIFY(PumpUntil([&] { return !b.Hub().LoggingActive().load(); }, 5000));
        QVERIFY(!b.Frame().isVisible());
    }

    // The README's tour as pictures: a log of inputs A and B opened in the log viewer beside the
    // main window ("tour"), then F1 in the viewer, which opens the help at the viewer's section
    // above it ("help-f1").
    void tourLogViewerAndItsHelp() {
        TAVRIX_REQUIRE_WINDOW_MANAGER();
        GuiBench b;
        b.Frame().setGeometry(40, 60, 560, 420);
        QVERIFY(WaitForFrame(b.Frame()));
        QVERIFY(Connect(b));
        // Setpoints away from the inputs' temperatures, so that the lines move.
        QCOMPARE(b.Hub().Link().Command("LOOP 1:SETPT 14"), 0);
        QCOMPARE(b.Hub().Link().Command("LOOP 2:SETPT 17"), 0);
        const std::string log = b.Settings().Folder() + "/tour.csv";
        b.op.logSetupAnswers.push_back([](DataLogSetupModel m) {
            m.mask = 0x0003;
            m.interval = 0.2;
            return DialogResult<DataLogSetupModel>::Accept(m);
        });
        b.op.saveFileAnswers.push_back(DialogResult<std::string>::Accept(log));
        b.View().OnCommand(ID_LOG_START);
        QVERIFY(b.Hub().LoggingActive().load());
        Pump(4000);
        // A step of each setpoint half-way, under the session lock as every exchange.
        QVERIFY(b.Hub().Mutex().TryLockFor(5000));
        b.Hub().Link().Command("LOOP 1:SETPT 15.5");
        b.Hub().Link().Command("LOOP 2:SETPT 16");
        b.Hub().Mutex().Unlock();
        Pump(4000);
        QTest::mouseClick(b.View().LoggingProgress()->StopButton(), Qt::LeftButton);
        QVERIFY(PumpUntil([&] { return !b.Hub().LoggingActive().load(); }, 5000));

        QString error;
        CDataLogViewer* viewer =
            CDataLogViewer::Open(QString::fromStdString(log), &b.Frame(), error);
        QVERIFY2(viewer, qPrintable(error));
        viewer->setWindowFlag(Qt::Window);
        viewer->setGeometry(330, 200, 860, 520);
        viewer->show();
        QVERIFY(WaitForFrame(*viewer));
        SettledFrame(*viewer);
        Pump(500);
        QVERIFY(SaveScreenPart("tour", b.Frame().frameGeometry() | viewer->frameGeometry()));

        QVERIFY(ActivateAsTheOperatorWould(*viewer));
        QTest::keyClick(viewer, Qt::Key_F1);
        CHelpWindow* help = b.View().HelpWindow();
        QVERIFY(help);
        QVERIFY(WaitForFrame(*help, 15000));
        QCOMPARE(help->Browser()->source().fragment(), QString("logging-the-log-viewer"));
        SettledFrame(*help);
        Pump(300);
        QVERIFY(SaveScreenPart("help-f1", help->frameGeometry() | viewer->frameGeometry()));
        delete viewer;
    }
};

TAVRIX_WINDOW_MANAGER_TEST_MAIN(WindowManagerTest)
#include "WindowManagerTest.moc"
