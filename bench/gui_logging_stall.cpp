// The desktop program's event loop while logging at 0.1 s with four monitors polling, on the
// offscreen platform: the longest gap between the ticks of a 5 ms probe timer, against the same
// probe on the idle connected window in the same run.
//
//   gui_logging_stall [--seconds S]     (default 15 s of logging)
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "BenchSupport.h"
#include "GuiTestBench.h"
#include "app/Commands.h"
#include "logging/CDataLoggingInProcMessage.h"
#include "logging/DataLoggingEngine.h"

using namespace tavrix;
using namespace tavrix::test;

namespace {

// The longest gap between the ticks of a 5 ms timer while events run for `ms` milliseconds.
qint64 LongestProbeGap(int ms) {
    QTimer probe;
    QElapsedTimer clock;
    qint64 last = -1, longest = 0;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (last >= 0) longest = std::max(longest, now - last);
        last = now;
    });
    clock.start();
    probe.start(5);
    Pump(ms);
    return longest;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 15;
    for (int i = 1; i + 1 < argc; ++i)
        if (!std::strcmp(argv[i], "--seconds")) seconds = std::atof(argv[i + 1]);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    GuiBench::Options o;
    o.beforeInitialUpdate = [](ViewHub& hub) {
        hub.Settings().WriteString("LOG", "INTERVAL", "0.1");
    };
    GuiBench b(o);
    b.PressConnect();
    if (!PumpUntil([&] { return b.Hub().Features().AnyInstrument(); }, 5000)) {
        std::fprintf(stderr, "the simulated controller did not connect\n");
        return 1;
    }
    const qint64 idle = LongestProbeGap(static_cast<int>(seconds * 1000 / 3));

    b.op.logSetupAnswers.push_back([](DataLogSetupModel m) {
        m.mask = 0x0001 | 0x0002 | 0x0100 | 0x1000;
        m.interval = 0.1;
        return DialogResult<DataLogSetupModel>::Accept(m);
    });
    b.op.saveFileAnswers.push_back(
        DialogResult<std::string>::Accept(b.Settings().Folder() + "/stall-run.csv"));
    for (int id : {ID_MONITOR_A, ID_MONITOR_B, ID_MONITOR_HEATER1, ID_MONITOR_ANALOG1})
        b.View().OnCommand(id);
    b.View().OnCommand(ID_LOG_START);
    const DataLoggingEngine& engine = b.View().Logging().Engine();
    const qint64 busy = LongestProbeGap(static_cast<int>(seconds * 1000));
    const long rows = engine.rowsWritten.load();
    b.View().LoggingProgress()->StopButton()->click();
    std::printf("%ld rows logged in %.0f s with four monitors open\n", rows, seconds);
    bench::Figure("GUI longest event-loop stall while logging (target < 50 ms)",
                  static_cast<double>(busy), "ms", "idle connected window",
                  static_cast<double>(idle));
    return rows > 0 ? 0 : 1;
}
