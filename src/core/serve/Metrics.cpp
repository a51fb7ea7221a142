#include "serve/Metrics.h"

#include <cstdio>
#include <cstdlib>

#include "link/CInstrumentLink.h"
#include "logging/DataLoggingEngine.h"

namespace tavrix {

namespace {

// A label value: backslash, double quote and line ends escaped; other control bytes dropped.
std::string LabelValue(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else if (c >= 0x20 && c != 0x7F)
            out += static_cast<char>(c);
    }
    return out;
}

std::string Number(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

void Header(std::string& out, const char* name, const char* type, const char* help) {
    out += "# HELP ";
    out += name;
    out += " ";
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += " ";
    out += type;
    out += "\n";
}

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t at = s.find(sep, start);
        out.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return out;
        start = at + 1;
    }
}

}  // namespace

void MetricsRegistry::SetReading(const std::string& source, const std::string& name,
                                 const std::string& unit, double value, double unixSeconds) {
    std::lock_guard lock(mutex_);
    readings_[source] = Reading{name, unit, value, unixSeconds};
}

void MetricsRegistry::SetIdentity(int modelCode, const std::string& serial,
                                  const std::string& firmware) {
    std::lock_guard lock(mutex_);
    modelCode_ = modelCode;
    serial_ = serial;
    firmware_ = firmware;
}

void MetricsRegistry::SetLogCounters(uint64_t rows, uint64_t badReplies, uint64_t missedTicks,
                                     uint64_t linkLosses) {
    rows_ = rows;
    badReplies_ = badReplies;
    missedTicks_ = missedTicks;
    linkLosses_ = linkLosses;
}

std::string MetricsRegistry::Render() const {
    std::string out;
    std::lock_guard lock(mutex_);
    Header(out, "tavrix_reading", "gauge", "Last value read of a logged or monitored source.");
    for (const auto& [source, r] : readings_)
        out += "tavrix_reading{source=\"" + LabelValue(source) + "\",name=\"" + LabelValue(r.name) +
               "\",unit=\"" + LabelValue(r.unit) + "\"} " + Number(r.value) + "\n";
    Header(out, "tavrix_reading_timestamp_seconds", "gauge",
           "When the last value of a source was read (Unix time).");
    for (const auto& [source, r] : readings_)
        out += "tavrix_reading_timestamp_seconds{source=\"" + LabelValue(source) + "\"} " +
               Number(r.time) + "\n";
    if (interval_.load() > 0) {
        Header(out, "tavrix_sample_interval_seconds", "gauge", "Seconds between readings.");
        out += "tavrix_sample_interval_seconds " + Number(interval_.load()) + "\n";
    }
    Header(out, "tavrix_link_up", "gauge", "1 while exchanges with the instrument succeed.");
    out += "tavrix_link_up " + std::string(linkUp_ ? "1" : "0") + "\n";
    Header(out, "tavrix_exchanges_total", "counter", "Exchanges made with the instrument.");
    out += "tavrix_exchanges_total " + std::to_string(link_ ? link_->Exchanges() : 0) + "\n";
    Header(out, "tavrix_exchange_failures_total", "counter",
           "Exchanges with the instrument that failed.");
    out += "tavrix_exchange_failures_total " +
           std::to_string(link_ ? link_->ExchangeFailures() : 0) + "\n";
    Header(out, "tavrix_log_rows_total", "counter", "Rows the data logging run wrote.");
    out += "tavrix_log_rows_total " + std::to_string(rows_.load()) + "\n";
    Header(out, "tavrix_log_bad_replies_total", "counter",
           "Logging cycles whose reply did not fit the row (no row written).");
    out += "tavrix_log_bad_replies_total " + std::to_string(badReplies_.load()) + "\n";
    Header(out, "tavrix_log_missed_ticks_total", "counter",
           "Logging ticks that found the previous cycle still running.");
    out += "tavrix_log_missed_ticks_total " + std::to_string(missedTicks_.load()) + "\n";
    Header(out, "tavrix_link_losses_total", "counter",
           "Times the link to the instrument was lost.");
    out += "tavrix_link_losses_total " + std::to_string(linkLosses_.load()) + "\n";
    Header(out, "tavrix_link_lost_seconds_total", "counter",
           "Seconds the link to the instrument stayed lost during the logging run.");
    out += "tavrix_link_lost_seconds_total " + Number(lostSeconds_.load()) + "\n";
    Header(out, "tavrix_instrument_info", "gauge", "The identified instrument (always 1).");
    out += "tavrix_instrument_info{model_code=\"" + std::to_string(modelCode_) + "\",serial=\"" +
           LabelValue(serial_) + "\",firmware=\"" + LabelValue(firmware_) + "\"} 1\n";
    return out;
}

void PublishLogRun(MetricsRegistry& metrics, const DataLoggingEngine& engine) {
    const DataLoggingEngine::LossFigures lost = engine.Losses();
    metrics.SetLinkUp(!engine.LinkDown());
    metrics.SetLogCounters(static_cast<uint64_t>(engine.rowsWritten.load()),
                           static_cast<uint64_t>(engine.badReplies.load()),
                           static_cast<uint64_t>(engine.coalescedTicks.load() + lost.missedTicks),
                           static_cast<uint64_t>(lost.losses));
    metrics.SetLinkLostSeconds(static_cast<double>(lost.lostMs) / 1000.0);
}

LogRowReadings::LogRowReadings(LogSourceMask mask, const std::string& header) {
    // "INP A name:Sample,unit:K" and "LOOP 1 name:Heater 1" lines.
    std::map<std::string, std::pair<std::string, std::string>> names;
    for (std::string line : Split(header, '\n')) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t at = line.find(" name:");
        if (at == std::string::npos) continue;
        const std::string prefix = line.substr(0, at);
        std::string rest = line.substr(at + 6);
        std::string unit;
        const size_t u = rest.rfind(",unit:");
        if (u != std::string::npos) {
            unit = rest.substr(u + 6);
            rest.resize(u);
        }
        names[prefix] = {rest, unit};
    }
    for (const LogSource& s : kLogSources) {
        if (!(mask & s.maskBit)) continue;
        const auto it = names.find(s.prefix);
        Column c;
        c.source = s.index;
        c.name = it == names.end() ? s.label : it->second.first;
        if (s.group == LogSourceGroup::Setpoint) c.name = s.label;
        c.unit = s.index < 8                         ? (it == names.end() ? "" : it->second.second)
                 : s.group == LogSourceGroup::Output ? "%"
                                                     : "";
        columns_.push_back(c);
        for (const char* p = s.columns + 1; *p; ++p)
            if (*p == ',') columns_.push_back(Column{});  // RANGE
    }
}

bool LogRowReadings::Apply(const std::string& row, double unixSeconds,
                           MetricsRegistry& metrics) const {
    std::string text = row;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const std::vector<std::string> fields = Split(text, ',');
    if (fields.size() != columns_.size() + 1) return false;
    for (size_t i = 0; i < columns_.size(); ++i) {
        const Column& c = columns_[i];
        if (c.source < 0) continue;
        const std::string& f = fields[i + 1];
        char* end = nullptr;
        const double v = std::strtod(f.c_str(), &end);
        if (end == f.c_str()) continue;  // a word such as "OVER" is no number to scrape
        metrics.SetReading(kLogSources[static_cast<size_t>(c.source)].cliName, c.name, c.unit, v,
                           unixSeconds);
    }
    return true;
}

void SetIdentityFromReply(MetricsRegistry& metrics, int modelCode, const std::string& idn) {
    const size_t model = idn.find("Model");
    const size_t first = model == std::string::npos ? idn.find(',') : idn.find(',', model);
    const size_t last = idn.rfind(',');
    const std::string serial =
        first != std::string::npos && last > first ? idn.substr(first + 1, last - first - 1) : "";
    std::string firmware = last == std::string::npos ? "" : idn.substr(last + 1);
    while (!firmware.empty() && (firmware.back() == '\r' || firmware.back() == '\n'))
        firmware.pop_back();
    metrics.SetIdentity(modelCode, serial, firmware);
}

}  // namespace tavrix
