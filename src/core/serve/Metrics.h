#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "logging/LogSources.h"

namespace tavrix {

class CInstrumentLink;
class DataLoggingEngine;

// What a lab's monitoring stack scrapes: the last value read of each logged or monitored
// source, the link's and the logging run's counters, and the instrument's identity. It holds
// only what logging and the monitors already read: rendering it never reaches the instrument.
class MetricsRegistry {
public:
    explicit MetricsRegistry(const CInstrumentLink* link = nullptr) : link_(link) {}

    void SetReading(const std::string& source, const std::string& name, const std::string& unit,
                    double value, double unixSeconds);
    void SetIdentity(int modelCode, const std::string& serial, const std::string& firmware);
    void SetLinkUp(bool up) { linkUp_ = up; }
    // Seconds between readings of the run (logging interval or monitor period); 0 for none.
    void SetSampleInterval(double seconds) { interval_ = seconds; }
    // Totals of the logging run (absolute values, as the run counts them).
    void SetLogCounters(uint64_t rows, uint64_t badReplies, uint64_t missedTicks,
                        uint64_t linkLosses);
    // How long the run's link stayed lost, in all (an outage under way counts up to now).
    void SetLinkLostSeconds(double seconds) { lostSeconds_ = seconds; }

    // The Prometheus text exposition format (version 0.0.4).
    std::string Render() const;
    uint64_t Scrapes() const { return scrapes_.load(); }
    void CountScrape() { ++scrapes_; }

private:
    struct Reading {
        std::string name, unit;
        double value = 0, time = 0;
    };
    const CInstrumentLink* link_;
    mutable std::mutex mutex_;
    std::map<std::string, Reading> readings_;
    int modelCode_ = 0;
    std::string serial_, firmware_;
    std::atomic<bool> linkUp_{false};
    std::atomic<double> interval_{0};
    std::atomic<uint64_t> rows_{0}, badReplies_{0}, missedTicks_{0}, linkLosses_{0};
    std::atomic<double> lostSeconds_{0};
    std::atomic<uint64_t> scrapes_{0};
};

// A logging run's counters and the link's state, as every endpoint serves them: rows, bad
// replies, missed ticks (those coalesced and those of outages the run rode through), links lost
// and their total length; the link is down while the run rides through an outage. Called after
// each row and when the run loses or regains the link (any thread).
void PublishLogRun(MetricsRegistry& metrics, const DataLoggingEngine& engine);

// The identity from an "*IDN?" reply (maker, model, serial number, firmware version).
void SetIdentityFromReply(MetricsRegistry& metrics, int modelCode, const std::string& idn);

// Turns a data log's rows into readings: the header names each input and loop, the columns
// follow the enabled sources in table order (a heater's RANGE column is not a reading).
class LogRowReadings {
public:
    LogRowReadings(LogSourceMask mask, const std::string& header);
    // A row as written ("H:M:S,v1,v2,...", CR LF or not); false when its fields do not match.
    bool Apply(const std::string& row, double unixSeconds, MetricsRegistry& metrics) const;

private:
    struct Column {
        int source = -1;  // -1: a column that is not a reading
        std::string name, unit;
    };
    std::vector<Column> columns_;
};

}  // namespace tavrix
