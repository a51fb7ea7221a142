#pragma once

#include <ctime>

namespace tavrix {

// Local date and time of day for log stamps.
struct LocalTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    int millisecond = 0;
    int utcOffsetMinutes = 0;  // local time minus UTC
};

// The clock the logs are stamped with; tests replace it.
class LogClock {
public:
    virtual ~LogClock() = default;
    virtual LocalTime Now() = 0;
};

class SystemLogClock : public LogClock {
public:
    LocalTime Now() override {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        const std::time_t t = ts.tv_sec;
        std::tm tm{};
        localtime_r(&t, &tm);
        return {tm.tm_year + 1900,
                tm.tm_mon + 1,
                tm.tm_mday,
                tm.tm_hour,
                tm.tm_min,
                tm.tm_sec,
                static_cast<int>(ts.tv_nsec / 1000000),
                static_cast<int>(tm.tm_gmtoff / 60)};
    }
};

}  // namespace tavrix
