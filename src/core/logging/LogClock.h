#pragma once

#include <ctime>

namespace tavrix {

// Local date and time of day for log stamps.
struct LocalTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
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
        const std::time_t t = std::time(nullptr);
        std::tm tm{};
        localtime_r(&t, &tm);
        return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
    }
};

}  // namespace tavrix
