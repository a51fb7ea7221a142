// A logging soak of all sixteen sources at 0.1 s over LAN to tavrix-sim with the metrics
// endpoint fed by every row, once scraped every second as a lab's monitoring server scrapes it
// and once not, for the same length in the same process: missed cycles, CPU per hour of run
// (the scraper's own CPU left out: it stands for the monitoring server), and the time of each
// scrape (p50/p99).
//
//   scrape_soak [--seconds S]     (default 300 per run; two runs)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BenchLogging.h"
#include "BenchSupport.h"
#include "serve/Metrics.h"
#include "serve/MetricsExporter.h"

using namespace tavrix;
using tavrix::bench::Figure;
using Clock = std::chrono::steady_clock;

namespace {

// One scrape as a monitoring server makes it: connect, GET /metrics, read to the end. The
// body's length, or -1 when the answer was no 200.
long Scrape(int port) {
    const int fd = bench::ConnectLoopback(port);
    if (fd < 0) return -1;
    const std::string req = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    ::send(fd, req.data(), req.size(), MSG_NOSIGNAL);
    std::string out;
    char b[16384];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0) break;
        const ssize_t n = ::recv(fd, b, sizeof b, 0);
        if (n <= 0) break;
        out.append(b, static_cast<size_t>(n));
    }
    ::close(fd);
    if (out.rfind("HTTP/1.1 200", 0) != 0 && out.rfind("HTTP/1.0 200", 0) != 0) return -1;
    const size_t body = out.find("\r\n\r\n");
    return body == std::string::npos ? -1 : static_cast<long>(out.size() - body - 4);
}

double ThreadCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Scrapes {
    std::vector<double> ms;
    long failed = 0, bytes = 0;
    double cpu = 0;  // the scraper thread's own
};

// The registry fed as the program feeds it: each row's values and the run's counters.
void FeedFromRows(bench::SoakRig& rig, MetricsRegistry& registry,
                  std::unique_ptr<LogRowReadings>& readings, std::mutex& m) {
    DataLoggingEngine& engine = rig.Engine();
    rig.onRow = [&engine, &registry, &readings, &m](long, const std::string& row) {
        std::lock_guard lock(m);
        if (!readings) {
            std::ifstream in(engine.FilePath(), std::ios::binary);
            std::string header, line;
            while (std::getline(in, line) && line.rfind("Entry Number", 0) != 0)
                header += line + "\n";
            LogSourceMask mask = 0;
            for (int i = 0; i < kLogSourceCount; ++i)
                if (engine.SourceEnabled(i)) mask |= kLogSources[static_cast<size_t>(i)].maskBit;
            readings = std::make_unique<LogRowReadings>(mask, header);
        }
        readings->Apply(row, static_cast<double>(std::time(nullptr)), registry);
        PublishLogRun(registry, engine);
    };
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 300;
    for (int i = 1; i + 1 < argc; ++i)
        if (!std::strcmp(argv[i], "--seconds")) seconds = std::atof(argv[i + 1]);
    char dirTemplate[] = "/tmp/tavrix-scrape-soak-XXXXXX";
    if (!::mkdtemp(dirTemplate)) return 1;
    const std::string dir = dirTemplate;
    bench::SimProcess sim(TAVRIX_SIM_PATH);
    if (sim.Port() <= 0) {
        std::fprintf(stderr, "tavrix-sim did not start (%s)\n", TAVRIX_SIM_PATH);
        return 1;
    }
    bench::SoakRig rig(dir, sim.Port());
    if (!rig.Connected()) {
        std::fprintf(stderr, "no LAN connection to the simulator\n");
        return 1;
    }
    MetricsRegistry registry(&rig.Link());
    MetricsExporter exporter(registry);
    std::string error;
    if (!exporter.Start(0x7F000001u, 0, error)) {
        std::fprintf(stderr, "the metrics endpoint did not start: %s\n", error.c_str());
        return 1;
    }
    std::mutex feedMutex;
    std::unique_ptr<LogRowReadings> readings;
    FeedFromRows(rig, registry, readings, feedMutex);

    const bench::SoakRig::Figures quiet = rig.Run(dir + "/quiet.csv", 0.1, seconds);
    {
        std::lock_guard lock(feedMutex);
        readings.reset();  // the next run names its columns from its own header
    }

    Scrapes s;
    std::atomic<bool> stop{false};
    std::thread scraper([&] {
        const double cpu0 = ThreadCpuSeconds();
        auto next = Clock::now() + std::chrono::seconds(1);
        while (!stop.load()) {
            std::this_thread::sleep_until(next);
            if (stop.load()) break;
            next += std::chrono::seconds(1);
            const auto t = Clock::now();
            const long bytes = Scrape(exporter.Port());
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t).count();
            if (bytes < 0) {
                ++s.failed;
                continue;
            }
            s.ms.push_back(ms);
            s.bytes = bytes;
        }
        s.cpu = ThreadCpuSeconds() - cpu0;
    });
    bench::SoakRig::Figures scraped = rig.Run(dir + "/scraped.csv", 0.1, seconds);
    stop = true;
    scraper.join();
    scraped.cpu -= s.cpu;
    exporter.Stop();
    rig.onRow = nullptr;
    std::filesystem::remove_all(dir);

    bench::PrintRun("logging, metrics fed, not scraped", quiet);
    bench::PrintRun("logging, metrics scraped every second", scraped);
    const double p50 = bench::Percentile(s.ms, 0.5), p99 = bench::Percentile(s.ms, 0.99);
    std::printf(
        "scrapes: %zu answered (%ld failed), %ld bytes each, p50 %.2f ms, p99 %.2f ms; "
        "scraper's own CPU %.3f s (left out of the run's)\n",
        s.ms.size(), s.failed, s.bytes, p50, p99, s.cpu);
    const auto missed = [](const bench::SoakRig::Figures& f) {
        return static_cast<double>(std::max(0L, f.due - f.made));
    };
    const auto perHour = [](const bench::SoakRig::Figures& f) {
        return f.seconds > 0 ? f.cpu / f.seconds * 3600.0 : 0.0;
    };
    std::printf("missed cycles (due - made): %.0f scraped, %.0f not (target 0)\n", missed(scraped),
                missed(quiet));
    Figure("scrape soak: cycles missed, scraped every second", missed(scraped), "cycles",
           "not scraped", missed(quiet));
    Figure("scrape soak: coalesced ticks, scraped every second",
           static_cast<double>(scraped.coalesced), "ticks", "not scraped",
           static_cast<double>(quiet.coalesced));
    Figure("scrape soak: CPU per hour of logging, scraped every second", perHour(scraped),
           "CPU s/h", "not scraped", perHour(quiet));
    Figure("scrape soak: time per scrape p50", p50, "ms");
    Figure("scrape soak: time per scrape p99", p99, "ms");
    const bool ok =
        quiet.began && scraped.began && quiet.sources == 16 && s.failed == 0 && !s.ms.empty();
    return ok ? 0 : 1;
}
