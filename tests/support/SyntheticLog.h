#pragma once
// A data log as the program writes it, made without an instrument: inputs cooling down from
// room temperature with a daily ripple and a little noise, heaters with their ranges, rows
// every `interval` seconds (several rows share a stamp below one second, as in a real run).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "logging/DataLogFile.h"

namespace tavrix::test {

struct SyntheticLog {
    LogDateTime start{2026, 12, 7, 18, 0, 0, 0};
    long rows = 1000;
    double interval = 10.0;
    int inputs = 8;   // 1..8
    int heaters = 2;  // 0..2
    bool closed = true;
    long gapAfterRow = -1;  // a loss of communication of an hour after this row
};

// false when the file cannot be written.
inline bool WriteSyntheticLog(const std::string& path, const SyntheticLog& s) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    for (int i = 0; i < s.inputs; ++i)
        std::fprintf(f, "INP %c name:Input %c,unit:K\r\n", 'A' + i, 'A' + i);
    for (int h = 0; h < s.heaters; ++h) std::fprintf(f, "LOOP %d name:Heater %d\r\n", h + 1, h + 1);
    std::fprintf(f, "Sampling interval:%8.1lf seconds\r\nEntry Number", s.interval);
    for (int i = 0; i < s.inputs; ++i) std::fprintf(f, ",Channel %c", 'A' + i);
    for (int h = 0; h < s.heaters; ++h) std::fprintf(f, ",Heater %d,RANGE", h + 1);
    std::fprintf(f, "\r\nData logging started at %d/%d/%d %d:%d:%d\r\n", s.start.month, s.start.day,
                 s.start.year, s.start.hour, s.start.minute, s.start.second);
    const int64_t t0 = LocalInstant(s.start).epochMs / 1000;
    const int tod0 = s.start.hour * 3600 + s.start.minute * 60 + s.start.second;
    uint32_t noise = 12345;
    auto rnd = [&] {
        noise = noise * 1664525u + 1013904223u;
        return (static_cast<double>(noise >> 8) / 16777216.0) - 0.5;
    };
    char line[512];
    int64_t extra = 0;
    for (long r = 1; r <= s.rows; ++r) {
        const double t = r * s.interval + static_cast<double>(extra);
        const long secs = static_cast<long>(t);
        const int tod = static_cast<int>((tod0 + secs) % 86400);
        int n = std::snprintf(line, sizeof line, "%d:%d:%d", tod / 3600, tod / 60 % 60, tod % 60);
        for (int i = 0; i < s.inputs; ++i) {
            const double base = 4.0 + i * 9.0;
            const double k = base + (295.0 - base) * std::exp(-t / 30000.0) +
                             (1.5 + 0.3 * i) * std::sin(t / 86400.0 * 6.2831853 + i) + 0.05 * rnd();
            n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), ",+%.4f", k);
        }
        for (int h = 0; h < s.heaters; ++h) {
            double out = 40.0 + 25.0 * std::sin(t / (5400.0 + 1800.0 * h)) + 2.0 * rnd();
            out = std::fmax(0.0, std::fmin(100.0, out));
            n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), ",+%.1f,%d", out,
                               t < 60000 ? 3 : 2);
        }
        std::fputs(line, f);
        std::fputs("\r\n", f);
        if (r == s.gapAfterRow) {
            const LogInstant lost =
                InstantFromEpochMs((t0 + secs + static_cast<int64_t>(s.interval / 2 + 1)) * 1000);
            extra += 3600;
            const LogInstant back = InstantFromEpochMs((t0 + secs + 3600) * 1000);
            std::fprintf(f, "Communication lost at %d/%d/%d %d:%d:%d\r\n", lost.local.month,
                         lost.local.day, lost.local.year, lost.local.hour, lost.local.minute,
                         lost.local.second);
            std::fprintf(f, "Communication restored at %d/%d/%d %d:%d:%d\r\n", back.local.month,
                         back.local.day, back.local.year, back.local.hour, back.local.minute,
                         back.local.second);
        }
    }
    if (s.closed) {
        const LogInstant end =
            InstantFromEpochMs((t0 + static_cast<int64_t>(s.rows * s.interval) + extra + 1) * 1000);
        std::fprintf(f,
                     "Number of entries = %ld\r\nData logging terminated at %d/%d/%d %d:%d:%d \r\n",
                     s.rows, end.local.month, end.local.day, end.local.year, end.local.hour,
                     end.local.minute, end.local.second);
    }
    return std::fclose(f) == 0;
}

}  // namespace tavrix::test
