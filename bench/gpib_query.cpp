// GPIB query time over the simulated driver library, with replies ended by the END status bit
// ([GPIB] EndOnEOI=1) against the default, where a reply ends only when a read times out (the
// device's own time-out, one second for T1s).
//
//   gpib_query [--queries N]     (default 5 per mode)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "BenchSupport.h"
#include "base/OperatorInterface.h"
#include "base/SettingsStore.h"
#include "link/CInstrumentLink.h"

using namespace tavrix;
using tavrix::bench::QuietOperator;
using Clock = std::chrono::steady_clock;

namespace {

// Mean milliseconds of one "*IDN?" query; negative when a query failed.
double MeanQueryMs(const std::string& dir, bool endOnEoi, int queries) {
    SettingsStore settings(dir);
    settings.WriteString("GPIB", "Library", TAVRIX_GPIB_SIM_PATH);
    settings.WriteInt("CommunicationSetup", "PortType", 2);
    settings.WriteString("GPIB", "EndOnEOI", endOnEoi ? "1" : "0");
    QuietOperator op;
    CInstrumentLink link(op, settings);
    link.SetSerialDeviceOverride("/nonexistent/tty");
    link.StartUp();
    std::string reply;
    if (link.Query("*IDN?", reply) != 0) return -1;  // the first one opens the device
    const auto start = Clock::now();
    for (int i = 0; i < queries; ++i)
        if (link.Query("*IDN?", reply) != 0 || reply.find("Model") == std::string::npos) return -1;
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / queries;
}

}  // namespace

int main(int argc, char** argv) {
    int queries = 5;
    for (int i = 1; i + 1 < argc; ++i)
        if (!std::strcmp(argv[i], "--queries")) queries = std::atoi(argv[i + 1]);
    // The simulated driver answers with the device's own time-out unless told otherwise.
    if (!std::filesystem::exists(TAVRIX_GPIB_SIM_PATH)) {
        std::fprintf(stderr, "no simulated driver at %s\n", TAVRIX_GPIB_SIM_PATH);
        return 1;
    }
    char tmpl[] = "/tmp/tavrix-gpib-bench-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    const double byTimeOut = MeanQueryMs(dir, false, queries);
    const double byEoi = MeanQueryMs(dir, true, queries);
    std::filesystem::remove_all(dir);
    std::printf("GPIB \"*IDN?\" over the simulated driver, %d queries per mode\n", queries);
    bench::Figure("GPIB query, reply ended by END ([GPIB] EndOnEOI=1)", byEoi, "ms",
                  "reply ended by the read time-out (default)", byTimeOut);
    return byEoi > 0 && byTimeOut > 0 ? 0 : 1;
}
