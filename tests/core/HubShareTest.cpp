// The desktop's sharing port and metrics endpoint, driven through the hub as the menu drives it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "TestSupport.h"
#include "app/Commands.h"
#include "app/HubLogging.h"
#include "app/ViewHub.h"
#include "engine/SimEngine.h"
#include "engine/SimFrontEnds.h"

using namespace tavrix;
using namespace std::chrono;
using tavrix::test::FakeUiThread;
using tavrix::test::ScriptedOperator;
using tavrix::test::TempDir;

namespace {

int Connect(int port) {
    return tavrix::test::ConnectLoopback(port);
}

// Sends `line` and reads one line back (without its LF); "<closed>" or "<timeout>" otherwise.
std::string Ask(int fd, const std::string& line, int ms = 10000) {
    const std::string out = line + "\n";
    if (!line.empty()) ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
    std::string got;
    const auto deadline = steady_clock::now() + milliseconds(ms);
    for (;;) {
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        if (left <= 0) return "<timeout>";
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        char c;
        if (::recv(fd, &c, 1, 0) != 1) return "<closed>";
        if (c == '\n') return got;
        got += c;
    }
}

std::string HttpGet(int port, const std::string& path) {
    const int fd = Connect(port);
    if (fd < 0) return "";
    const std::string req = "GET " + path + " HTTP/1.0\r\nHost: x\r\n\r\n";
    ::send(fd, req.data(), req.size(), MSG_NOSIGNAL);
    std::string out;
    char b[4096];
    for (ssize_t n; (n = ::recv(fd, b, sizeof b, 0)) > 0;) out.append(b, static_cast<size_t>(n));
    ::close(fd);
    return out;
}

template <class F>
bool WaitFor(F done, seconds bound = seconds(20)) {
    const auto deadline = steady_clock::now() + bound;
    while (!done()) {
        if (steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(milliseconds(20));
    }
    return true;
}

bool LogHas(ViewHub& hub, const std::string& text) {
    for (const std::string& line : hub.Log().Lines())
        if (line.find(text) != std::string::npos) return true;
    return false;
}

// The number after `series ` in a scrape, or -1.
double Sample(const std::string& scrape, const std::string& series) {
    const size_t at = scrape.find("\n" + series + " ");
    if (at == std::string::npos) return -1;
    return std::strtod(scrape.c_str() + at + series.size() + 2, nullptr);
}

struct NoTimer : LogTimer {
    int SetTimer(int id, int) override { return id; }
    void KillTimer(int) override {}
};

// A hub whose RS232 port reaches a simulated controller, with logging and the monitors plugged
// in as the desktop plugs them.
struct ShareHubBench {
    ShareHubBench() : engine(sim::SimOptions{28, 7}), settings(dir.Str()) {}
    // With `metrics`, the desktop's metrics endpoint listens there and the hub is connected.
    ViewHub& Start(const std::string& metrics = "") {
        if (!metrics.empty()) settings.WriteString("Share", "Metrics", metrics);
        hub = std::make_unique<ViewHub>(settings, op, ui.Poster());
        hub->Link().SetSerialDeviceOverride(pty.SlavePath());
        logging =
            std::make_unique<HubLogging>(*hub, LoggingFrontEnd{progress, timer, clock, nullptr});
        hub->Initialise();
        if (!metrics.empty()) hub->Execute(ID_CONNECT);
        return *hub;
    }
    ~ShareHubBench() {
        if (hub) hub->Shutdown();
    }
    TempDir dir;
    sim::SimEngine engine;
    sim::PtyFrontEnd pty{engine};
    SettingsStore settings;
    ScriptedOperator op;
    FakeUiThread ui;
    NoTimer timer;
    HeadlessProgressWindow progress;
    SystemLogClock clock;
    std::unique_ptr<ViewHub> hub;
    std::unique_ptr<HubLogging> logging;
};

ScriptedOperator::ShareAnswer Answer(ShareSettings s) {
    return [s](ShareSettings) { return DialogResult<ShareSettings>::Accept(s); };
}

}  // namespace

TEST(HubShare, TheCommandSharesTheInstrumentWhileAMonitorPollsIt) {
    ShareHubBench b;
    b.settings.WriteString("LOG", "INTERVAL", "1.0");  // the monitors' pace
    ViewHub& hub = b.Start();
    ASSERT_EQ(hub.LoggingInterval(), 1.0);
    hub.Execute(ID_CONNECT);
    ASSERT_TRUE(hub.Features().AnyInstrument()) << ::testing::PrintToString(b.op.MessageTexts());
    EXPECT_EQ(hub.Share().StatusText(), "");

    ShareSettings typo;
    typo.enabled = true;
    typo.listen = "lab-pc:5025";
    ShareSettings open = typo;
    open.listen = "0.0.0.0:5025";  // other machines, but no allowed network
    ShareSettings good = typo;
    good.listen = "127.0.0.1:0";
    good.metrics = "127.0.0.1:0";
    good.maxClients = 3;
    b.op.shareAnswers.push_back(Answer(typo));
    b.op.shareAnswers.push_back(Answer(open));
    b.op.shareAnswers.push_back(Answer(good));
    ASSERT_TRUE(hub.Run(ID_SHARE));
    // What cannot be used is said, and the dialog comes back with what was typed; nothing is
    // stored or started until it can be used.
    ASSERT_EQ(b.op.sharePresets.size(), 3u);
    EXPECT_EQ(b.op.sharePresets[1].listen, "lab-pc:5025");
    EXPECT_EQ(b.op.sharePresets[2].listen, "0.0.0.0:5025");
    const auto messages = b.op.MessageTexts();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_NE(messages[0].find("lab-pc"), std::string::npos);
    EXPECT_NE(messages[1].find("client networks"), std::string::npos);
    ASSERT_TRUE(hub.Share().Sharing());
    EXPECT_EQ(b.settings.GetString("Share", "Listen", ""), "127.0.0.1:0");
    EXPECT_EQ(b.settings.GetInt("Share", "Enabled", 0), 1);
    EXPECT_EQ(b.settings.GetInt("Share", "MaxClients", 0), 3);
    EXPECT_EQ(b.settings.GetString("Share", "Metrics", ""), "127.0.0.1:0");

    hub.MonitorOpen(0) = 1;  // channel A's monitor polls the instrument meanwhile
    const int port = hub.Share().Server().Port();
    const int client = Connect(port);
    ASSERT_GE(client, 0);
    for (int i = 0; i < 20; ++i) {
        const std::string set = "LOOP 1:SETPT " + std::to_string(10 + i) + ".5";
        ASSERT_EQ(Ask(client, set, 300), "<timeout>");  // a command has no reply
        EXPECT_EQ(Ask(client, "LOOP 1:SETPT?"), std::to_string(10 + i) + ".500");
    }
    EXPECT_NE(Ask(client, "*IDN?").find("Model"), std::string::npos);
    EXPECT_EQ(hub.Share().StatusText(),
              "Shared on 127.0.0.1:" + std::to_string(port) + ", 1 client(s)");
    EXPECT_TRUE(WaitFor([&] { return LogHas(hub, "connected"); }));

    // The monitor's readings reach the metrics; a scrape is no exchange.
    const int metricsPort = hub.Share().Exporter().Port();
    std::string scrape;
    EXPECT_TRUE(WaitFor([&] {
        scrape = HttpGet(metricsPort, "/metrics");
        return scrape.find("tavrix_reading{source=\"A\"") != std::string::npos;
    })) << scrape;
    EXPECT_EQ(Sample(scrape, "tavrix_link_up"), 1);

    ::close(client);
    EXPECT_TRUE(WaitFor([&] { return hub.Share().Server().ClientCount() == 0; }));
    EXPECT_TRUE(WaitFor([&] { return LogHas(hub, "left"); }));

    // Turned off: the share ends, the metrics endpoint stays as set.
    ShareSettings off = good;
    off.enabled = false;
    b.op.shareAnswers.push_back(Answer(off));
    hub.Execute(ID_SHARE);
    EXPECT_FALSE(hub.Share().Sharing());
    EXPECT_EQ(hub.Share().StatusText(), "");
    EXPECT_TRUE(hub.Share().ServingMetrics());
    EXPECT_EQ(hub.Share().Exporter().Port(), metricsPort);
}

TEST(HubShare, StoredSettingsShareAtStartAndTheShareEndsBeforeTheLink) {
    {
        ShareHubBench b;
        b.settings.WriteInt("Share", "Enabled", 1);
        b.settings.WriteString("Share", "Listen", "127.0.0.1:0");
        ViewHub& hub = b.Start();
        ASSERT_TRUE(hub.Share().Sharing());
        const int client = Connect(hub.Share().Server().Port());
        ASSERT_GE(client, 0);
        EXPECT_EQ(Ask(client, "", 200), "<timeout>");
        hub.Shutdown();
        EXPECT_FALSE(hub.Share().Sharing());
        EXPECT_EQ(Ask(client, "*IDN?", 5000), "<closed>");
        ::close(client);
    }
    {
        // Nobody may be at the screen when the program starts: what cannot start is a line in
        // the log, not a message box.
        ShareHubBench b;
        b.settings.WriteInt("Share", "Enabled", 1);
        b.settings.WriteString("Share", "Listen", "0.0.0.0:0");  // beyond loopback, no allow-list
        ViewHub& hub = b.Start();
        EXPECT_FALSE(hub.Share().Sharing());
        EXPECT_TRUE(LogHas(hub, "Cannot share the instrument"));
        EXPECT_TRUE(b.op.MessageTexts().empty());
    }
}

TEST(HubShare, TheMetricsEndpointServesTheLoggingRunsLastRow) {
    ShareHubBench b;
    ViewHub& hub = b.Start("127.0.0.1:0");
    ASSERT_TRUE(hub.Share().ServingMetrics());
    ASSERT_TRUE(hub.Features().AnyInstrument());
    const std::string path = b.dir.Str() + "/run.csv";
    // Inputs A and B, heater 1's output.
    ASSERT_EQ(b.logging->Engine().BeginRun(0x0001 | 0x0002 | 0x0100, 0.5, path, b.timer), 0);
    for (int i = 0; i < 4; ++i) {
        const long before = b.logging->Engine().rowsWritten.load();
        b.logging->OnTimer();
        ASSERT_TRUE(WaitFor([&] { return b.logging->Engine().rowsWritten.load() > before; }));
    }
    const std::string scrape = HttpGet(hub.Share().Exporter().Port(), "/metrics");
    b.ui.RunHere([&] { hub.OnMessage(WM_LOG_STOP, 0, 0); });
    EXPECT_EQ(Sample(scrape, "tavrix_log_rows_total"), 4) << scrape;
    EXPECT_EQ(Sample(scrape, "tavrix_link_up"), 1);

    // The last row's values, column by column.
    std::string last;
    for (const std::string& line : test::CrLfLines(path))
        if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0])) &&
            line.find(':') != std::string::npos && line.find(',') != std::string::npos)
            last = line;
    ASSERT_FALSE(last.empty());
    std::vector<double> fields;
    for (size_t at = last.find(','); at != std::string::npos; at = last.find(',', at + 1))
        fields.push_back(std::strtod(last.c_str() + at + 1, nullptr));
    ASSERT_GE(fields.size(), 3u) << last;
    for (const auto& [source, column] : {std::pair{"A", 0}, {"B", 1}, {"heater1", 2}}) {
        const size_t at = scrape.find(std::string("tavrix_reading{source=\"") + source + "\"");
        ASSERT_NE(at, std::string::npos) << source << "\n" << scrape;
        const size_t value = scrape.find("} ", at);
        EXPECT_DOUBLE_EQ(std::strtod(scrape.c_str() + value + 2, nullptr),
                         fields[static_cast<size_t>(column)])
            << source << " in " << last;
    }
}

// A run that rides through a lost link: the desktop's endpoint shows the link down meanwhile,
// and counts the loss, its length and the ticks it missed as the command line's does.
TEST(HubShare, TheMetricsEndpointCountsTheLinkLossesOfARunThatRidesThrough) {
    ShareHubBench b;
    ViewHub& hub = b.Start("127.0.0.1:0");
    ASSERT_TRUE(hub.Share().ServingMetrics());
    ASSERT_TRUE(hub.Features().AnyInstrument());
    DataLoggingEngine& engine = b.logging->Engine();
    engine.keepGoing = 1;
    engine.firstRetry = milliseconds(100);
    engine.longestRetry = milliseconds(400);
    const int port = hub.Share().Exporter().Port();
    ASSERT_EQ(engine.BeginRun(0x0001, 0.5, b.dir.Str() + "/run.csv", b.timer), 0);
    b.logging->OnTimer();
    ASSERT_TRUE(WaitFor([&] { return engine.rowsWritten.load() == 1; }));

    b.engine.Faults().silent = true;
    b.logging->OnTimer();
    ASSERT_TRUE(WaitFor([&] { return engine.LinkDown(); }, seconds(60)));
    const std::string down = HttpGet(port, "/metrics");
    EXPECT_EQ(Sample(down, "tavrix_link_up"), 0) << down;
    EXPECT_EQ(Sample(down, "tavrix_link_losses_total"), 1) << down;

    b.engine.Faults().silent = false;
    ASSERT_TRUE(WaitFor([&] { return !engine.LinkDown(); }, seconds(60)));
    b.logging->OnTimer();
    ASSERT_TRUE(WaitFor([&] { return engine.rowsWritten.load() == 2; }));
    const std::string up = HttpGet(port, "/metrics");
    b.ui.RunHere([&] { hub.OnMessage(WM_LOG_STOP, 0, 0); });
    EXPECT_EQ(Sample(up, "tavrix_link_up"), 1) << up;
    EXPECT_EQ(Sample(up, "tavrix_link_losses_total"), 1) << up;
    EXPECT_GE(Sample(up, "tavrix_log_missed_ticks_total"), 1) << up;
    const auto lost = engine.Losses();
    EXPECT_GT(Sample(up, "tavrix_link_lost_seconds_total"), 0) << up;
    EXPECT_LE(Sample(up, "tavrix_link_lost_seconds_total"), lost.lostMs / 1000.0 + 1e-9) << up;
}
