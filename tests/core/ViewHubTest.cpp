#include <gtest/gtest.h>

#include <fstream>

#include <deque>
#include <future>
#include <thread>

#include "TestSupport.h"
#include "app/CalibrationRegistration.h"
#include "app/Commands.h"
#include "app/HubLogging.h"
#include "app/ViewHub.h"
#include "app/ViewLog.h"
#include "base/WindowPlacement.h"

using namespace tavrix;
using namespace std::chrono;
using tavrix::test::FakeUiThread;
using tavrix::test::ScriptedOperator;
using tavrix::test::TempDir;

TEST(ViewLog, LinesBreakAtEightyCharactersAndAtLineEnds) {
    ViewLog log;
    log.Append(std::string(85, 'a') + "\n");
    log.Append("one\ntwo\n");
    auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], std::string(80, 'a'));
    EXPECT_EQ(lines[1], "aaaaa");
    EXPECT_EQ(lines[2], "one");
    EXPECT_EQ(lines[3], "two");
    EXPECT_EQ(lines[4], "");
}

TEST(ViewLog, TheCharacterAfterALineEndIsStoredUnexamined) {
    ViewLog log;
    log.Append("x\r\ny\n\nz");
    // CR starts a line and the LF right after it is stored as it is; the same for LF LF.
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"x", "\ny", "\nz"}));
    ViewLog full;
    full.Append(std::string(80, 'b') + "\nc");
    // At 80 characters the LF goes into the next line unexamined and does not break again.
    EXPECT_EQ(full.Lines(), (std::vector<std::string>{std::string(80, 'b'), "\nc"}));
    ViewLog nul;
    nul.Append(std::string("ab\0cd", 5));
    EXPECT_EQ(nul.Lines(), std::vector<std::string>{"ab"});
}

TEST(ViewLog, TheRingKeepsTheLast2048LinesInOrder) {
    ViewLog log;
    for (int i = 0; i < 5000; ++i) log.Append("line " + std::to_string(i) + "\n");
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 2048u);
    // The last line is the one begun by the final LF.
    EXPECT_EQ(lines.back(), "");
    EXPECT_EQ(lines[lines.size() - 2], "line 4999");
    EXPECT_EQ(lines.front(), "line 2953");
    EXPECT_EQ(log.LinesBegun(), 5000u);
    EXPECT_EQ(log.CurrentLine(), 5000 % 2048);
}

TEST(ViewLog, AppendsFromSeveralThreadsLoseNothing) {
    ViewLog log;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&log, t] {
            for (int i = 0; i < 200; ++i) log.Append("t" + std::to_string(t) + "\n");
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(log.LinesBegun(), 800u);
    for (const auto& line : log.Lines()) EXPECT_TRUE(line.empty() || line.size() == 2) << line;
}

TEST(ViewLog, ClearEmptiesItAndSaveTextWritesItsLinesAsCrLf) {
    TempDir dir;
    ViewLog log;
    log.Append("first line\nsecond\n");
    const uint64_t before = log.Generation();
    const std::string path = dir.Str() + "/log.txt";
    ASSERT_TRUE(ViewLog::SaveText(path, log.Lines()));
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(bytes, "first line\r\nsecond\r\n\r\n");
    EXPECT_FALSE(ViewLog::SaveText(dir.Str() + "/no/such/folder/log.txt", log.Lines()));
    log.Clear();
    EXPECT_NE(log.Generation(), before);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{""});
    log.Append("again\n");
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"again", ""}));
}

TEST(WindowPlacement, MonitorsWithoutAPlaceCascadeFromA) {
    const WinRect screen{0, 0, 1000, 800};
    std::array<WinRect, 12> saved{};
    auto r = PlaceMonitors(saved, screen, 200, 100);
    EXPECT_EQ(r[0], (WinRect{400, 350, 600, 450}));
    // The heaters and analog outputs go on with the cascade instead of covering A.
    for (int i = 1; i < 12; ++i) EXPECT_EQ(r[i], r[i - 1].Offset(10, 10)) << i;
    // A saved position is used as it is, and the cascade continues from it.
    saved[2] = {5, 6, 305, 206};
    r = PlaceMonitors(saved, screen, 200, 100);
    EXPECT_EQ(r[2], saved[2]);
    EXPECT_EQ(r[3], saved[2].Offset(10, 10));
}

TEST(WindowPlacement, ShortcutBarSitsAtTheTopRightOfTheViewOrCentred) {
    const WinRect screen{0, 0, 1920, 1080};
    EXPECT_EQ(PlaceShortcutBar({100, 100, 900, 700}, 300, 200, screen),
              (WinRect{600, 100, 900, 300}));
    EXPECT_EQ(PlaceShortcutBar({100, 100, 300, 700}, 300, 200, screen),
              (WinRect{300, 100, 600, 300}));
    // Off the screen's right edge: centred instead.
    EXPECT_EQ(PlaceShortcutBar({100, 100, 1900, 700}, 2000, 200, screen),
              CentreOn(screen, 2000, 200));
    EXPECT_EQ(PlaceShortcutBar({100, 1050, 900, 1070}, 300, 200, screen),
              CentreOn(screen, 300, 200));
}

namespace {

struct HubBench {
    TempDir dir;
    SettingsStore settings{dir.Str()};
    ScriptedOperator op;
    FakeUiThread ui;
};

}  // namespace

TEST(ViewMessenger, ASendRunsOnTheViewThreadAndReturnsItsResult) {
    ManualResetEvent quit;
    FakeUiThread ui;
    ViewMessenger m(ui.Poster(), quit);
    std::thread::id ranOn;
    m.SetHandler([&](int msg, intptr_t w, intptr_t l) -> intptr_t {
        ranOn = std::this_thread::get_id();
        return msg + w + l;
    });
    intptr_t r = 0;
    EXPECT_TRUE(m.Send(1000, 20, 3, &r));
    EXPECT_EQ(r, 1023);
    EXPECT_NE(ranOn, std::this_thread::get_id());
    m.Close();
    EXPECT_TRUE(m.Send(1, 0, 0, &r));  // delivered to nobody
    EXPECT_EQ(r, 0);
}

TEST(ViewHub, ShutdownWhileAWorkerWaitsInASendFinishesPromptly) {
    HubBench b;
    std::atomic<int> sends{0};
    auto hub = std::make_unique<ViewHub>(b.settings, b.op, b.ui.Poster());
    hub->SetSamplingBody([&](ViewHub& h) {
        while (!h.QuitEvent().IsSet()) {
            ++sends;
            h.Messenger().Send(WM_LOG_SAMPLED, 0, 0);
        }
    });
    // The view answers slowly, and at the end not at all: it is busy destroying the hub.
    hub->RegisterMessage(WM_LOG_SAMPLED, [](intptr_t, intptr_t) -> intptr_t {
        std::this_thread::sleep_for(milliseconds(5));
        return 0;
    });
    hub->Initialise();
    while (sends < 3) std::this_thread::sleep_for(milliseconds(1));
    const auto start = steady_clock::now();
    b.ui.RunHere([&] { hub->Shutdown(); });  // the view thread itself joins the worker
    EXPECT_LT(steady_clock::now() - start, seconds(2));
    EXPECT_FALSE(hub->SamplingThreadRunning());
    hub.reset();
}

TEST(ViewHub, EnableRulesFollowTheCapabilityRecordLoggingAndMonitors) {
    HubBench b;
    ViewHub hub(b.settings, b.op, b.ui.Poster());
    hub.Initialise();
    // Before any connect: the always-on commands only.
    for (int id : {ID_CONNECT, ID_PORT_SELECT, ID_CURVE_CONVERT, ID_CALGEN_PLATINUM,
                   ID_CALGEN_DIODE_300K, ID_CALGEN_DIODE_4K, ID_CALGEN_DIODE_2PT,
                   ID_CALGEN_DIODE_3PT, ID_APP_ABOUT, ID_APP_EXIT, ID_RS232_SETUP})
        EXPECT_TRUE(hub.IsEnabled(id)) << id;
    for (int id : {ID_INTERACT, ID_CURVE_DOWNLOAD, ID_CURVE_UPLOAD, ID_PID_DOWNLOAD, ID_PID_UPLOAD,
                   ID_COMMAND_FILE, ID_LOG_START, ID_DATALOG_UPLOAD, ID_CALIBRATION, ID_MONITOR_A,
                   ID_MONITOR_HEATER1})
        EXPECT_FALSE(hub.IsEnabled(id)) << id;

    hub.Features().Update(29);  // an 8-input monitor
    EXPECT_TRUE(hub.IsEnabled(ID_MONITOR_H));
    EXPECT_FALSE(hub.IsEnabled(ID_MONITOR_HEATER1));
    EXPECT_FALSE(hub.IsEnabled(ID_PID_DOWNLOAD));
    EXPECT_FALSE(hub.IsEnabled(ID_CALIBRATION));
    hub.Features().Update(27);  // 4 inputs, 3 loops
    EXPECT_FALSE(hub.IsEnabled(ID_MONITOR_E));
    EXPECT_TRUE(hub.IsEnabled(ID_MONITOR_ANALOG1));
    EXPECT_FALSE(hub.IsEnabled(ID_MONITOR_ANALOG2));
    EXPECT_TRUE(hub.IsEnabled(ID_CALIBRATION));
    hub.MonitorOpen(0) = 1;
    EXPECT_FALSE(hub.IsEnabled(ID_MONITOR_A));
    EXPECT_TRUE(hub.IsEnabled(ID_MONITOR_B));
    hub.LoggingActive() = true;
    EXPECT_FALSE(hub.IsEnabled(ID_CURVE_DOWNLOAD));
    EXPECT_FALSE(hub.IsEnabled(ID_INTERACT));
    EXPECT_TRUE(hub.IsEnabled(ID_DATALOG_UPLOAD));  // logging does not stop the upload
    hub.Link().SetPortType(kPortLan);
    EXPECT_FALSE(hub.IsEnabled(ID_RS232_SETUP));
    // "Shortcut" brings the bar forward whether or not it is showing.
    EXPECT_TRUE(hub.IsEnabled(ID_SHORTCUT));

    // Leaving: the open input monitors are remembered.
    hub.Shutdown();
    EXPECT_EQ(b.settings.GetInt("MONITORS", "CHA", -1), 1);
    EXPECT_EQ(b.settings.GetInt("MONITORS", "CHH", -1), 0);
}

TEST(ViewHub, MessagesRouteToCommandsAndALostLinkResetsTheBar) {
    HubBench b;
    ViewHub hub(b.settings, b.op, b.ui.Poster());
    hub.Initialise();
    std::vector<int> ran;
    for (int id : {ID_CURVE_DOWNLOAD, ID_PID_DOWNLOAD, ID_INTERACT, ID_LOG_START, ID_DATALOG_UPLOAD,
                   ID_CALGEN_DIODE_300K, ID_CALGEN_DIODE_4K, ID_CALGEN_DIODE_2PT,
                   ID_CALGEN_DIODE_3PT, ID_CALGEN_PLATINUM})
        hub.RegisterOperation(id, [&ran, id] { ran.push_back(id); });
    const int shortcuts[] = {WM_SHORTCUT_CURVE_DOWNLOAD, WM_SHORTCUT_PID_DOWNLOAD,
                             WM_SHORTCUT_INTERACT, WM_SHORTCUT_DATA_LOGGING,
                             WM_SHORTCUT_DATALOG_UPLOAD};
    // The bar's requests meet the menu's rules: without an instrument they are refused.
    for (int msg : shortcuts) hub.OnMessage(msg, 0, 0);
    EXPECT_TRUE(ran.empty());
    hub.Features().Update(28);
    for (int msg : shortcuts) hub.OnMessage(msg, 0, 0);
    for (int points = 0; points < 5; ++points) hub.OnMessage(WM_CALGEN_REQUEST, 0, points);
    hub.OnMessage(WM_CALGEN_REQUEST, 1, 0);
    hub.OnMessage(WM_CALGEN_REQUEST, 2, 0);  // thermocouple: nothing
    EXPECT_EQ(ran,
              (std::vector<int>{ID_CURVE_DOWNLOAD, ID_PID_DOWNLOAD, ID_INTERACT, ID_LOG_START,
                                ID_DATALOG_UPLOAD, ID_CALGEN_DIODE_300K, ID_CALGEN_DIODE_4K,
                                ID_CALGEN_DIODE_2PT, ID_CALGEN_DIODE_3PT, ID_CALGEN_PLATINUM}));

    hub.Features().Update(28);
    hub.Bar().ShowModelAndVersion("Orvella Model 3028", "2.04");
    hub.Bar().SetStatus(kStateConnected);
    hub.OnMessage(WM_LINK_LOST, kStateError, 0);
    const auto s = hub.Bar().Get();
    EXPECT_EQ(s.statusWord, "Error");
    EXPECT_EQ(s.ledIndex, 2);
    EXPECT_EQ(s.modelText, "No Device");
    EXPECT_FALSE(hub.Features().AnyInstrument());

    hub.Execute(ID_COMMAND_FILE);
    EXPECT_EQ(b.op.MessageTexts().back(),
              "The command file runner is not available in this version yet.");
}

TEST(ViewHub, LoggingAndCalibrationAskTheirDialogsOfTheHubsOperator) {
    HubBench b;
    ViewHub hub(b.settings, b.op, b.ui.Poster());
    struct NoTimer : LogTimer {
        int SetTimer(int id, int) override { return id; }
        void KillTimer(int) override {}
    } timer;
    HeadlessProgressWindow progress;
    SystemLogClock clock;
    HubLogging logging(hub, LoggingFrontEnd{progress, timer, clock, nullptr});
    RegisterCalibrationCommand(hub);
    hub.Features().Update(28);
    b.op.logSetupAnswers.push_back([](DataLogSetupModel m) {
        m.interval = 7.5;
        return DialogResult<DataLogSetupModel>{DialogOutcome::Cancel, m};
    });
    hub.Execute(ID_LOG_START);
    ASSERT_EQ(b.op.logSetupPresets.size(), 1u);
    EXPECT_EQ(b.settings.GetString("LOG", "INTERVAL", ""), "7.500000");
    b.op.calibPasswordAnswers.push_back(DialogResult<std::string>::Cancelled());
    hub.Execute(ID_CALIBRATION);
    EXPECT_TRUE(b.op.calibPasswordAnswers.empty());  // asked, and cancelled: no dialog
    EXPECT_EQ(b.op.calibrationDialogsShown, 0);
}

TEST(ViewHub, TheLoggingSetupStartsWithTheSourcesLastChosenThatTheModelHas) {
    HubBench b;
    ViewHub hub(b.settings, b.op, b.ui.Poster());
    struct NoTimer : LogTimer {
        int SetTimer(int id, int) override { return id; }
        void KillTimer(int) override {}
    } timer;
    HeadlessProgressWindow progress;
    SystemLogClock clock;
    HubLogging logging(hub, LoggingFrontEnd{progress, timer, clock, nullptr});
    hub.Features().Update(28);
    // Input A, heater 1 and the loop 4 setpoint; the file dialog is cancelled.
    b.op.logSetupAnswers.push_back([](DataLogSetupModel m) {
        m.mask = 0x0001 | 0x0100 | 0x8000;
        return DialogResult<DataLogSetupModel>::Accept(m);
    });
    b.op.saveFileAnswers.push_back(DialogResult<std::string>::Cancelled());
    hub.Execute(ID_LOG_START);
    EXPECT_EQ(b.settings.GetInt("LOG", "CHANNELS", -1), 0x8101);
    // Cancel keeps the last choice.
    b.op.logSetupAnswers.push_back([](DataLogSetupModel m) {
        m.mask = 0x0002;
        return DialogResult<DataLogSetupModel>{DialogOutcome::Cancel, m};
    });
    hub.Execute(ID_LOG_START);
    ASSERT_EQ(b.op.logSetupPresets.size(), 2u);
    EXPECT_EQ(b.op.logSetupPresets[1].mask, 0x8101);
    EXPECT_EQ(b.settings.GetInt("LOG", "CHANNELS", -1), 0x8101);
    // A monitor with two inputs: only input A of that choice is offered checked.
    hub.Features().Update(31);
    b.op.logSetupAnswers.push_back([](DataLogSetupModel m) {
        return DialogResult<DataLogSetupModel>{DialogOutcome::Cancel, m};
    });
    hub.Execute(ID_LOG_START);
    ASSERT_EQ(b.op.logSetupPresets.size(), 3u);
    EXPECT_EQ(b.op.logSetupPresets[2].mask, 0x0001);
}

TEST(ViewHub, InitialisationReadsTheIntervalAndShowsTheStoredTransport) {
    HubBench b;
    b.settings.WriteString("LOG", "INTERVAL", "2.5");
    b.settings.WriteInt("CommunicationSetup", "PortType", 2);
    ViewHub hub(b.settings, b.op, b.ui.Poster());
    hub.Initialise();
    EXPECT_DOUBLE_EQ(hub.LoggingInterval(), 2.5);
    EXPECT_TRUE(hub.SamplingThreadRunning());
    EXPECT_TRUE(hub.MonitorThreadRunning());
    const auto s = hub.Bar().Get();
    EXPECT_EQ(s.transportName, "GPIB");
    EXPECT_EQ(s.statusWord, "Not Connected");
    EXPECT_EQ(s.modelText, "No Device");
    for (bool on : s.buttons) EXPECT_FALSE(on);
}

TEST(ViewHub, AStoredIntervalTheSetupWouldRefuseFallsBackToTheDefault) {
    struct Case {
        const char* stored;
        double interval;
    };
    for (const Case c :
         {Case{"0", 30.0}, Case{"-5", 30.0}, Case{"garbage", 30.0}, Case{"0.05", 30.0},
          Case{"200000", 30.0}, Case{"nan", 30.0}, Case{"inf", 30.0}, Case{"12 s", 30.0},
          Case{"0.1", 0.1}, Case{"120000", 120000.0}, Case{"1234.5678", 1234.5678}}) {
        HubBench b;
        b.settings.WriteString("LOG", "INTERVAL", c.stored);
        ViewHub hub(b.settings, b.op, b.ui.Poster());
        hub.Initialise();
        EXPECT_DOUBLE_EQ(hub.LoggingInterval(), c.interval) << c.stored;
    }
}

TEST(SessionMutex, TheOwnerReentersOthersWaitAtMostTheirTimeout) {
    SessionMutex m;
    ASSERT_TRUE(m.TryLockFor(0));
    ASSERT_TRUE(m.TryLockFor(0));  // the owner again
    std::atomic<bool> got{true};
    auto start = steady_clock::now();
    std::thread([&] { got = m.TryLockFor(100); }).join();
    EXPECT_FALSE(got);
    EXPECT_GE(steady_clock::now() - start, milliseconds(95));
    std::thread([&] { m.Unlock(); }).join();  // not the owner: nothing happens
    m.Unlock();
    std::thread([&] { got = m.TryLockFor(0); }).join();
    EXPECT_FALSE(got);  // still held once
    // Released by its owner, a waiting thread gets it before its time-out.
    std::thread waiter([&] {
        got = m.TryLockFor(5000);
        if (got) m.Unlock();
    });
    std::this_thread::sleep_for(milliseconds(20));
    start = steady_clock::now();
    m.Unlock();
    waiter.join();
    EXPECT_TRUE(got);
    EXPECT_LT(steady_clock::now() - start, seconds(2));
}

// A thread that releases the mutex and asks again at once queues behind one already waiting:
// a share relaying line after line cannot keep a logging cycle from the instrument.
TEST(SessionMutex, WaitersGetItInTheOrderTheyCame) {
    SessionMutex m;
    ASSERT_TRUE(m.TryLockFor(0));
    std::atomic<int> order{0};
    std::atomic<int> waiterGotAt{-1};
    std::thread waiter([&] {
        if (m.TryLockFor(10000)) {
            waiterGotAt = order++;
            m.Unlock();
        }
    });
    std::this_thread::sleep_for(milliseconds(100));  // the waiter is queued by now
    for (int i = 0; i < 50; ++i) {
        m.Unlock();
        ASSERT_TRUE(m.TryLockFor(10000));  // asks again at once
        if (waiterGotAt.load() >= 0) break;
    }
    const int mine = order++;
    m.Unlock();
    waiter.join();
    EXPECT_EQ(waiterGotAt.load(), 0) << "the releasing thread took it back first (" << mine << ")";
    // A waiter that gives up lets the one behind it go first.
    ASSERT_TRUE(m.TryLockFor(0));
    std::atomic<bool> early{true}, late{false};
    std::thread givesUp([&] { early = m.TryLockFor(150); });
    std::this_thread::sleep_for(milliseconds(50));
    std::thread behind([&] {
        late = m.TryLockFor(10000);
        if (late) m.Unlock();
    });
    givesUp.join();
    EXPECT_FALSE(early);
    m.Unlock();
    behind.join();
    EXPECT_TRUE(late);
}
