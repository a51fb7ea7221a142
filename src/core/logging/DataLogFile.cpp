#include "logging/DataLogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "base/CNumeric.h"

namespace tavrix {

namespace {

constexpr int kDay = 86400;

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

bool StartsWith(std::string_view s, std::string_view p) {
    return s.size() >= p.size() && s.substr(0, p.size()) == p;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// A whole unsigned number of 1..max digits.
bool Digits(std::string_view s, int& out, size_t maxDigits) {
    if (s.empty() || s.size() > maxDigits) return false;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

// "H:M:S" with each part 1 or 2 digits; the second of the day.
bool TimeOfDay(std::string_view s, int& out) {
    s = Trim(s);
    const size_t a = s.find(':');
    if (a == std::string_view::npos) return false;
    const size_t b = s.find(':', a + 1);
    if (b == std::string_view::npos) return false;
    int h, m, sec;
    if (!Digits(s.substr(0, a), h, 2) || !Digits(s.substr(a + 1, b - a - 1), m, 2) ||
        !Digits(s.substr(b + 1), sec, 2))
        return false;
    if (h > 23 || m > 59 || sec > 59) return false;
    out = h * 3600 + m * 60 + sec;
    return true;
}

bool ValidDate(int y, int m, int d) {
    if (y < 1900 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
    int y2, m2, d2;
    CivilFromDays(DaysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)), y2, m2, d2);
    return d2 == d;
}

std::string Clip(std::string_view s) {
    std::string out(s.substr(0, 60));
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return s.size() > 60 ? out + "..." : out;
}

std::string HmsText(int secondOfDay) {
    return FormatC("%d:%d:%d", secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60);
}

std::string Sanitised(std::string_view s) {
    std::string out;
    for (char c : s) {
        const bool keep =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (keep)
            out += c;
        else if (!out.empty() && out.back() != '_')
            out += '_';
    }
    while (!out.empty() && out.back() == '_') out.pop_back();
    return out;
}

}  // namespace

// ---- stamps ----------------------------------------------------------------------------

bool ParseLogStamp(std::string_view text, LogDateTime& out) {
    text = Trim(text);
    const size_t s1 = text.find('/');
    const size_t s2 = s1 == std::string_view::npos ? s1 : text.find('/', s1 + 1);
    const size_t sp = s2 == std::string_view::npos ? s2 : text.find(' ', s2 + 1);
    if (sp == std::string_view::npos) return false;
    int m, d, y, tod;
    if (!Digits(text.substr(0, s1), m, 2) || !Digits(text.substr(s1 + 1, s2 - s1 - 1), d, 2) ||
        !Digits(text.substr(s2 + 1, sp - s2 - 1), y, 4) || !ValidDate(y, m, d) ||
        !TimeOfDay(text.substr(sp + 1), tod))
        return false;
    out = {y, m, d, tod / 3600, tod / 60 % 60, tod % 60, 0};
    return true;
}

bool ParseIsoTime(std::string_view t, LogInstant& out) {
    t = Trim(t);
    int y, mo, d, h, mi, s, ms = 0;
    if (t.size() < 20 || t[4] != '-' || t[7] != '-' || (t[10] != 'T' && t[10] != ' ') ||
        t[13] != ':' || t[16] != ':')
        return false;
    if (!Digits(t.substr(0, 4), y, 4) || !Digits(t.substr(5, 2), mo, 2) ||
        !Digits(t.substr(8, 2), d, 2) || !Digits(t.substr(11, 2), h, 2) ||
        !Digits(t.substr(14, 2), mi, 2) || !Digits(t.substr(17, 2), s, 2))
        return false;
    size_t i = 19;
    if (i < t.size() && (t[i] == '.' || t[i] == ',')) {
        size_t j = i + 1;
        int scale = 100;
        while (j < t.size() && t[j] >= '0' && t[j] <= '9') {
            ms += (t[j] - '0') * scale;
            scale /= 10;
            ++j;
        }
        if (j == i + 1) return false;
        i = j;
    }
    int offset = 0;
    std::string_view zone = t.substr(i);
    if (zone == "Z") {
        offset = 0;
    } else if (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') && zone[3] == ':') {
        int oh, om;
        if (!Digits(zone.substr(1, 2), oh, 2) || !Digits(zone.substr(4, 2), om, 2)) return false;
        offset = (oh * 60 + om) * (zone[0] == '-' ? -1 : 1);
    } else {
        return false;
    }
    if (!ValidDate(y, mo, d) || h > 23 || mi > 59 || s > 59) return false;
    out.local = {y, mo, d, h, mi, s, ms};
    out.offsetMinutes = offset;
    const int64_t local =
        DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * kDay + h * 3600 +
        mi * 60 + s;
    out.epochMs = (local - offset * 60) * 1000 + ms;
    return true;
}

std::string FormatIsoTime(const LogInstant& t) {
    const int off = std::abs(t.offsetMinutes);
    const LogDateTime& l = t.local;
    return FormatC("%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", l.year, l.month, l.day, l.hour,
                   l.minute, l.second, l.millisecond, t.offsetMinutes < 0 ? '-' : '+', off / 60,
                   off % 60);
}

LogInstant LocalInstant(const LogDateTime& t) {
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = -1;
    const std::time_t epoch = std::mktime(&tm);
    const int64_t local =
        DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)) * kDay +
        t.hour * 3600 + t.minute * 60 + t.second;
    LogInstant out;
    out.local = t;
    out.offsetMinutes = static_cast<int>((local - static_cast<int64_t>(epoch)) / 60);
    out.epochMs = static_cast<int64_t>(epoch) * 1000 + t.millisecond;
    return out;
}

LogInstant InstantFromEpochMs(int64_t epochMs) {
    const std::time_t secs =
        static_cast<std::time_t>(epochMs >= 0 ? epochMs / 1000 : (epochMs - 999) / 1000);
    std::tm tm{};
    localtime_r(&secs, &tm);
    LogInstant out;
    out.local = {tm.tm_year + 1900,
                 tm.tm_mon + 1,
                 tm.tm_mday,
                 tm.tm_hour,
                 tm.tm_min,
                 tm.tm_sec,
                 static_cast<int>(epochMs - static_cast<int64_t>(secs) * 1000)};
    out.offsetMinutes = static_cast<int>(tm.tm_gmtoff / 60);
    out.epochMs = epochMs;
    return out;
}

// ---- columns ---------------------------------------------------------------------------

std::string DataLogColumn::Label() const {
    std::string out = source;
    if (!name.empty()) out += " " + name;
    if (!unit.empty()) out += " (" + unit + ")";
    return out;
}

std::string DataLogColumn::TidyName() const {
    std::string out = Sanitised(source);
    const std::string n = Sanitised(name);
    if (!n.empty()) out += "_" + n;
    std::string u = unit == "%" ? "pct" : Sanitised(unit);
    if (!u.empty()) out += "_" + u;
    return out.empty() ? "value" : out;
}

float ParseLogValue(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    float v = std::numeric_limits<float>::quiet_NaN();
    if (text.empty()) return v;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size() || !std::isfinite(v))
        return std::numeric_limits<float>::quiet_NaN();
    return v;
}

bool LooksLikeInternalLog(std::string_view line) {
    // "record number,H:M:S,value,..."
    const size_t c1 = line.find(',');
    if (c1 == std::string_view::npos) return false;
    const size_t c2 = line.find(',', c1 + 1);
    int n, tod;
    return Digits(Trim(line.substr(0, c1)), n, 9) &&
           TimeOfDay(line.substr(c1 + 1, c2 == std::string_view::npos ? c2 : c2 - c1 - 1), tod);
}

bool ParseTimeArgument(std::string_view text, int64_t& epochMs) {
    text = Trim(text);
    LogInstant t;
    if (ParseIsoTime(text, t)) {
        epochMs = t.epochMs;
        return true;
    }
    // ISO without an offset: local time.
    if (text.size() >= 19 && text[4] == '-' && text[7] == '-' &&
        (text[10] == 'T' || text[10] == ' ')) {
        std::string withZone(text);
        withZone += "Z";
        if (!ParseIsoTime(withZone, t)) return false;
        LogDateTime l = t.local;
        const int ms = l.millisecond;
        l.millisecond = 0;
        epochMs = LocalInstant(l).epochMs + ms;
        return true;
    }
    LogDateTime d;
    if (!ParseLogStamp(text, d)) return false;
    epochMs = LocalInstant(d).epochMs;
    return true;
}

bool SelectColumns(const std::vector<DataLogColumn>& columns, const std::string& list,
                   std::vector<size_t>& out, std::string& error) {
    out.clear();
    auto lower = [](std::string_view s) {
        std::string r(s);
        for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return r;
    };
    size_t start = 0;
    for (;;) {
        const size_t comma = list.find(',', start);
        const std::string item = lower(Trim(std::string_view(list).substr(
            start, comma == std::string::npos ? comma : comma - start)));
        if (!item.empty()) {
            size_t i = 0;
            for (; i < columns.size(); ++i)
                if (lower(columns[i].source) == item || lower(columns[i].TidyName()) == item) break;
            if (i == columns.size()) {
                std::string known;
                for (const DataLogColumn& c : columns)
                    known += (known.empty() ? "" : ", ") + c.source;
                error = "the log has no column \"" + item + "\" (it has " + known + ")";
                return false;
            }
            if (std::find(out.begin(), out.end(), i) == out.end()) out.push_back(i);
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (out.empty()) {
        error = "no column was named";
        return false;
    }
    return true;
}

// ---- the parser ------------------------------------------------------------------------

DataLogParser::DataLogParser(DataLogReadOptions options) : options_(options) {}

bool DataLogParser::Refuse(std::string why) {
    if (error_.empty()) error_ = std::move(why);
    return false;
}

void DataLogParser::Problem(std::string what) {
    if (onProblem) onProblem({line_, std::move(what)});
}

void DataLogParser::Anchor(const LogInstant& t) {
    day_ = DaysFromCivil(t.local.year, static_cast<unsigned>(t.local.month),
                         static_cast<unsigned>(t.local.day));
    secondOfDay_ = t.local.hour * 3600 + t.local.minute * 60 + t.local.second;
}

bool DataLogParser::Line(std::string_view line) {
    if (!error_.empty()) return false;
    ++line_;
    if (Trim(line).empty()) return true;
    switch (state_) {
        case State::Start:
            if (LooksLikeInternalLog(line)) {
                info_.kind = DataLogKind::InternalLog;
                state_ = State::Body;
                const size_t values =
                    static_cast<size_t>(std::count(line.begin(), line.end(), ',')) - 1;
                for (size_t i = 0; i < values; ++i) {
                    const std::string n = std::to_string(i + 1);
                    info_.columns.push_back({"Column " + n, "col" + n, "", ""});
                }
                Anchor(LocalInstant(options_.internalFirstDate));
                secondOfDay_ = -1;
                Row(line, 2);
                return true;
            }
            state_ = State::Header;
            return HeaderLine(line);
        case State::Header:
            return HeaderLine(line);
        case State::Body:
            if (info_.kind == DataLogKind::InternalLog)
                Row(line, 2);
            else
                BodyLine(line);
            return true;
    }
    return true;
}

bool DataLogParser::HeaderLine(std::string_view line) {
    const bool first = headerLines_++ == 0;
    auto damaged = [&](const std::string& why) {
        return Refuse("the data log's header is damaged: line " + std::to_string(line_) + " " +
                      why);
    };
    if (StartsWith(line, "INP ") && line.size() > 5 && StartsWith(line.substr(5), " name:")) {
        const int i = line[4] - 'A';
        if (i < 0 || i > 7) return damaged("names an input that does not exist");
        std::string_view rest = line.substr(11);
        const size_t u = rest.rfind(",unit:");
        if (u == std::string_view::npos) return damaged("has no unit");
        srcName_[i] = std::string(rest.substr(0, u));
        srcUnit_[i] = std::string(Trim(rest.substr(u + 6)));
        return true;
    }
    if (StartsWith(line, "LOOP ") && line.size() > 6 && StartsWith(line.substr(6), " name:")) {
        const int l = line[5] - '1';
        if (l < 0 || l > 3) return damaged("names a loop that does not exist");
        srcName_[8 + l] = std::string(Trim(line.substr(12)));
        return true;
    }
    if (StartsWith(line, "Sampling interval:")) {
        std::string_view v = Trim(line.substr(18));
        if (const size_t sp = v.find(' '); sp != std::string_view::npos) v = v.substr(0, sp);
        double seconds = 0;
        if (!ParseNumberField(std::string(v), seconds) || !(seconds > 0))
            return damaged("has no interval");
        info_.interval = seconds;
        return true;
    }
    if (StartsWith(line, "Entry Number")) {
        SetColumns(line);
        for (DataLogColumn& c : info_.columns) {
            if (c.source.size() == 1) {
                c.name = srcName_[c.source[0] - 'A'];
                c.unit = srcUnit_[c.source[0] - 'A'];
            } else if (StartsWith(c.source, "heater") || StartsWith(c.source, "analog")) {
                const int l = (c.source[0] == 'h' ? 0 : 2) + (c.source[6] - '1');
                if (c.source.find("_range") == std::string::npos) c.name = srcName_[8 + l];
            }
        }
        return true;
    }
    if (StartsWith(line, "Data logging started at ")) {
        if (info_.columns.empty()) return damaged("starts the run before the column header");
        LogDateTime t;
        if (!ParseLogStamp(line.substr(24), t)) return damaged("has no valid start date");
        info_.hasStart = true;
        info_.started = LocalInstant(t);
        Anchor(info_.started);
        state_ = State::Body;
        return true;
    }
    // A run whose header could not be read from the instrument ends with its closing lines.
    if (!first && (StartsWith(line, "Number of entries = ") ||
                   StartsWith(line, "Data logging terminated at "))) {
        state_ = State::Body;
        BodyLine(line);
        return true;
    }
    if (first)
        return Refuse("not a data log: its first line \"" + Clip(line) +
                      "\" is neither a data log header nor an internal log record");
    if (!line.empty() && line[0] >= '0' && line[0] <= '9')
        return damaged("is a row before the \"Data logging started at\" line");
    return damaged("\"" + Clip(line) + "\" is not a header line");
}

void DataLogParser::SetColumns(std::string_view header) {
    info_.columns.clear();
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        const size_t c = header.find(',', start);
        parts.push_back(Trim(header.substr(start, c == std::string_view::npos ? c : c - start)));
        if (c == std::string_view::npos) break;
        start = c + 1;
    }
    std::string lastHeater;
    for (size_t i = 1; i < parts.size(); ++i) {
        const std::string_view p = parts[i];
        DataLogColumn col{std::string(p), "", "", ""};
        if (StartsWith(p, "Channel ") && p.size() == 9 && p[8] >= 'A' && p[8] <= 'H') {
            col.source = std::string(1, p[8]);
        } else if (StartsWith(p, "Heater ") && p.size() == 8) {
            col.source = "heater" + std::string(1, p[7]);
            col.unit = "%";
            lastHeater = col.source;
        } else if (p == "RANGE" && !lastHeater.empty()) {
            col.source = lastHeater + "_range";
        } else if (StartsWith(p, "Analog ") && p.size() == 8) {
            col.source = "analog" + std::string(1, p[7]);
            col.unit = "%";
        } else if (StartsWith(p, "Loop") && p.size() == 14 && p.substr(5) == " Setpoint") {
            col.source = "setpoint" + std::string(1, p[4]);
            // Setpoints are in the loop's setpoint units; kelvin unless the log says.
            col.unit = "K";
        } else {
            col.source = Sanitised(p);
            if (col.source.empty()) col.source = "col" + std::to_string(i);
        }
        info_.columns.push_back(std::move(col));
    }
}

void DataLogParser::BodyLine(std::string_view line) {
    if (line[0] >= '0' && line[0] <= '9') {
        if (!info_.hasStart) {
            Problem("a row after the run was closed without starting");
            return;
        }
        Row(line, 1);
        return;
    }
    if (StartsWith(line, "Number of entries = ")) {
        int n = 0;
        if (Digits(Trim(line.substr(20)), n, 9))
            info_.entriesLine = n;
        else
            Problem("the entry count \"" + Clip(line) + "\" is not a number");
        return;
    }
    auto stamped = [&](std::string_view prefix, LogInstant& out) {
        LogDateTime t;
        if (!ParseLogStamp(line.substr(prefix.size()), t)) {
            Problem("\"" + Clip(line) + "\" has no valid date");
            return false;
        }
        out = LocalInstant(t);
        Anchor(out);
        return true;
    };
    if (StartsWith(line, "Data logging terminated at ")) {
        if (stamped("Data logging terminated at ", info_.terminatedAt)) info_.terminated = true;
        return;
    }
    if (StartsWith(line, "Exit due to Communication Error.")) {
        info_.exitCommError = true;
        return;
    }
    if (StartsWith(line, "Communication lost at ")) {
        DataLogGap g;
        if (!stamped("Communication lost at ", g.from)) return;
        g.beforeRow = rows_;
        gapOpen_ = true;
        if (onGapStart) onGapStart(g);
        return;
    }
    if (StartsWith(line, "Communication restored at ")) {
        LogInstant t;
        if (!stamped("Communication restored at ", t)) return;
        if (!gapOpen_) {
            Problem("communication restored without being lost");
            return;
        }
        gapOpen_ = false;
        if (onGapEnd) onGapEnd(t.epochMs);
        return;
    }
    Problem("\"" + Clip(line) + "\" is not a line of a data log");
}

bool DataLogParser::Place(std::string_view text, LogInstant& out) {
    if (text.size() >= 20 && text[4] == '-' && text[10] == 'T') {
        if (!ParseIsoTime(text, out)) return false;
        info_.isoTimes = true;
        Anchor(out);
        return true;
    }
    int tod;
    if (!TimeOfDay(text, tod)) return false;
    if (secondOfDay_ >= 0 && tod < secondOfDay_) {
        // Midnight passed when the step forward across it is short; a long one means the
        // clock was set back (summer time ending, a correction): same day, reported.
        const int forward = tod + kDay - secondOfDay_;
        const double longest = std::max(43200.0, 2.0 * info_.interval);
        if (forward <= longest)
            ++day_;
        else
            Problem("the clock went back from " + HmsText(secondOfDay_) + " to " + HmsText(tod) +
                    ": the row is placed on the same day, before the one above it");
    }
    secondOfDay_ = tod;
    const int hour = tod / 3600;
    const int64_t key = day_ * 24 + hour;
    if (key != cachedHourKey_) {
        int y, m, d;
        CivilFromDays(day_, y, m, d);
        const LogInstant h = LocalInstant({y, m, d, hour, 0, 0, 0});
        cachedHourKey_ = key;
        cachedHourEpoch_ = h.epochMs / 1000;
        cachedOffset_ = h.offsetMinutes;
        out.local = h.local;
    } else {
        int y, m, d;
        CivilFromDays(day_, y, m, d);
        out.local = {y, m, d, hour, 0, 0, 0};
    }
    out.local.minute = tod / 60 % 60;
    out.local.second = tod % 60;
    out.local.millisecond = 0;
    out.offsetMinutes = cachedOffset_;
    out.epochMs = (cachedHourEpoch_ + (tod % 3600)) * 1000;
    return true;
}

void DataLogParser::Row(std::string_view line, size_t firstValue) {
    fields_.clear();
    size_t start = 0;
    for (;;) {
        const size_t c = line.find(',', start);
        fields_.push_back(line.substr(start, c == std::string_view::npos ? c : c - start));
        if (c == std::string_view::npos) break;
        start = c + 1;
    }
    if (fields_.size() < firstValue) {
        Problem("the row \"" + Clip(line) + "\" has no values");
        return;
    }
    DataLogRow row;
    row.line = line_;
    if (!Place(fields_[firstValue - 1], row.time)) {
        Problem("the row's time \"" + Clip(fields_[firstValue - 1]) + "\" cannot be placed");
        return;
    }
    fields_.erase(fields_.begin(), fields_.begin() + static_cast<long>(firstValue));
    if (fields_.size() != info_.columns.size())
        Problem(std::to_string(fields_.size()) + " values for " +
                std::to_string(info_.columns.size()) + " columns");
    row.values = &fields_;
    ++rows_;
    if (onRow) onRow(row);
}

bool DataLogParser::Finish() {
    if (!error_.empty()) return false;
    if (state_ == State::Start) return Refuse("not a data log: the file is empty");
    if (state_ == State::Header)
        return Refuse(
            "the data log's header is damaged: it ends before the "
            "\"Data logging started at\" line");
    return true;
}

// ---- files -----------------------------------------------------------------------------

namespace {

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

// Splits `data` into lines (LF, CR LF or CR); the unterminated rest stays in `partial`.
template <typename F>
void SplitLines(std::string_view data, std::string& partial, bool& lastWasCr, F&& line) {
    size_t i = 0;
    if (lastWasCr && !data.empty() && data[0] == '\n') i = 1;
    lastWasCr = false;
    while (i < data.size()) {
        size_t j = i;
        while (j < data.size() && data[j] != '\n' && data[j] != '\r') ++j;
        if (j == data.size()) {
            partial.append(data.substr(i));
            return;
        }
        if (partial.empty()) {
            line(data.substr(i, j - i));
        } else {
            partial.append(data.substr(i, j - i));
            line(std::string_view(partial));
            partial.clear();
        }
        if (data[j] == '\r') {
            if (j + 1 < data.size()) {
                if (data[j + 1] == '\n') ++j;
            } else {
                lastWasCr = true;
            }
        }
        i = j + 1;
    }
}

std::string Errno(const std::string& path) {
    return path + ": " + std::strerror(errno);
}

}  // namespace

bool ParseDataLogFile(const std::string& path, DataLogParser& parser, std::string& error) {
    Fd f;
    f.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (f.fd < 0) {
        error = Errno(path);
        return false;
    }
    struct stat st {};
    if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";
        return false;
    }
    std::string buf(1 << 20, '\0'), partial;
    bool cr = false, ok = true;
    for (;;) {
        const ssize_t n = ::read(f.fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = Errno(path);
            return false;
        }
        if (n == 0) break;
        SplitLines(std::string_view(buf.data(), static_cast<size_t>(n)), partial, cr,
                   [&](std::string_view l) { ok = parser.Line(l) && ok; });
        if (!ok) break;
    }
    if (ok && !partial.empty()) ok = parser.Line(partial);
    if (ok) ok = parser.Finish();
    if (!ok) error = path + ": " + parser.Error();
    return ok;
}

LogDateTime InternalLogFirstDate(const std::string& path, const LogDateTime& uploadedAt) {
    DataLogParser scan;
    int rollovers = 0, last = -1;
    // The scan counts its own days: the date it starts from does not matter.
    int64_t firstDay = -1, lastDay = 0;
    scan.onRow = [&](const DataLogRow& r) {
        const int64_t d =
            DaysFromCivil(r.time.local.year, static_cast<unsigned>(r.time.local.month),
                          static_cast<unsigned>(r.time.local.day));
        if (firstDay < 0) firstDay = d;
        lastDay = d;
        last = r.time.local.hour * 3600 + r.time.local.minute * 60 + r.time.local.second;
    };
    std::string error;
    ParseDataLogFile(path, scan, error);
    if (firstDay >= 0) rollovers = static_cast<int>(lastDay - firstDay);
    int64_t day = DaysFromCivil(uploadedAt.year, static_cast<unsigned>(uploadedAt.month),
                                static_cast<unsigned>(uploadedAt.day));
    const int uploadTod = uploadedAt.hour * 3600 + uploadedAt.minute * 60 + uploadedAt.second;
    if (last > uploadTod) --day;
    day -= rollovers;
    LogDateTime out;
    CivilFromDays(day, out.year, out.month, out.day);
    return out;
}

DataLogReadOptions ReadOptionsFor(const std::string& path) {
    DataLogReadOptions o;
    Fd f;
    f.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (f.fd < 0) return o;
    char buf[512];
    const ssize_t n = ::read(f.fd, buf, sizeof buf);
    if (n <= 0) return o;
    std::string_view head(buf, static_cast<size_t>(n));
    head = head.substr(0, head.find_first_of("\r\n"));
    if (!LooksLikeInternalLog(head)) return o;
    struct stat st {};
    if (::fstat(f.fd, &st) != 0) return o;
    const LogInstant at = InstantFromEpochMs(static_cast<int64_t>(st.st_mtime) * 1000);
    o.internalFirstDate = InternalLogFirstDate(path, at.local);
    return o;
}

// ---- the file in memory ----------------------------------------------------------------

void DataLogFile::Wire() {
    parser_->onRow = [this](const DataLogRow& r) {
        const auto& cols = parser_->Info().columns;
        if (values_.size() != cols.size()) values_.resize(cols.size());
        times_.push_back(static_cast<double>(r.time.epochMs) / 1000.0);
        const size_t n = std::min(cols.size(), r.values->size());
        for (size_t c = 0; c < n; ++c) values_[c].push_back(ParseLogValue((*r.values)[c]));
        for (size_t c = n; c < cols.size(); ++c)
            values_[c].push_back(std::numeric_limits<float>::quiet_NaN());
        offsetMinutes_ = r.time.offsetMinutes;
    };
    parser_->onGapStart = [this](const DataLogGap& g) { gaps_.push_back(g); };
    parser_->onGapEnd = [this](int64_t to) {
        if (!gaps_.empty()) gaps_.back().toMs = to;
    };
    parser_->onProblem = [this](const DataLogProblem& p) {
        if (problems_.size() < kKeptProblems) problems_.push_back(p);
        ++problemCount_;
    };
}

bool DataLogFile::Open(const std::string& path, std::string& error) {
    path_ = path;
    parser_ = std::make_unique<DataLogParser>(ReadOptionsFor(path));
    Wire();
    offset_ = 0;
    partial_.clear();
    lastWasCr_ = false;
    times_.clear();
    values_.clear();
    gaps_.clear();
    problems_.clear();
    problemCount_ = 0;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = Errno(path);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";
        return false;
    }
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    // Room for the rows at once: a long log then needs no copies while it is read.
    const size_t guess = static_cast<size_t>(st.st_size) / 40 + 16;
    times_.reserve(guess);
    if (!ReadSome(error)) return false;
    if (!parser_->Finish()) {
        error = path + ": " + parser_->Error();
        return false;
    }
    values_.resize(parser_->Info().columns.size());
    times_.shrink_to_fit();
    for (auto& v : values_) v.shrink_to_fit();
    return true;
}

bool DataLogFile::ReadSome(std::string& error) {
    Fd f;
    f.fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (f.fd < 0) {
        error = Errno(path_);
        return false;
    }
    struct stat st {};
    if (::fstat(f.fd, &st) != 0) {
        error = Errno(path_);
        return false;
    }
    if (st.st_dev != dev_ || st.st_ino != ino_ || static_cast<uint64_t>(st.st_size) < offset_) {
        error = path_ + ": the file was replaced or cut back while it was shown";
        return false;
    }
    if (::lseek(f.fd, static_cast<off_t>(offset_), SEEK_SET) < 0) {
        error = Errno(path_);
        return false;
    }
    std::string buf(4 << 20, '\0');
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(f.fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = Errno(path_);
            return false;
        }
        if (n == 0) break;
        offset_ += static_cast<uint64_t>(n);
        SplitLines(std::string_view(buf.data(), static_cast<size_t>(n)), partial_, lastWasCr_,
                   [&](std::string_view l) { ok = parser_->Line(l) && ok; });
        if (!ok) {
            error = path_ + ": " + parser_->Error();
            return false;
        }
        // Reserve the value columns once their number is known.
        if (values_.size() == parser_->Info().columns.size())
            for (auto& v : values_)
                if (v.capacity() < times_.capacity()) v.reserve(times_.capacity());
    }
    return true;
}

long DataLogFile::Refresh(std::string& error) {
    if (!parser_) {
        error = "no file is open";
        return -1;
    }
    const size_t before = times_.size();
    if (!ReadSome(error)) return -1;
    return static_cast<long>(times_.size() - before);
}

// ---- decimation ------------------------------------------------------------------------

void DecimateMinMax(const std::vector<double>& times, const std::vector<float>& values,
                    size_t begin, size_t end, double from, double to, int columns,
                    std::vector<size_t>& out) {
    out.clear();
    const size_t n = std::min({times.size(), values.size(), end});
    if (begin >= n || !(to >= from)) return;
    // A stretch wholly outside the range draws nothing.
    if (times[begin] > to || times[n - 1] < from) return;
    const auto first = times.begin() + static_cast<long>(begin);
    const auto last = times.begin() + static_cast<long>(n);
    size_t lo = static_cast<size_t>(std::lower_bound(first, last, from) - times.begin());
    size_t hi = static_cast<size_t>(std::upper_bound(first, last, to) - times.begin());
    // One point beyond each end, so that the line reaches the edges of the view.
    if (lo > begin) --lo;
    if (hi < n) ++hi;
    const auto keep = [&](size_t i) {
        if (!std::isnan(values[i]) && (out.empty() || out.back() != i)) out.push_back(i);
    };
    if (columns < 1) columns = 1;
    if (hi - lo <= static_cast<size_t>(columns) * 4 || to == from) {
        for (size_t i = lo; i < hi; ++i) keep(i);
        return;
    }
    const double scale = columns / (to - from);
    size_t i = lo;
    while (i < hi) {
        const double t = times[i];
        const long col = t < from ? -1 : t > to ? columns : static_cast<long>((t - from) * scale);
        size_t first = SIZE_MAX, last = SIZE_MAX, mn = SIZE_MAX, mx = SIZE_MAX;
        size_t j = i;
        for (; j < hi; ++j) {
            const double tj = times[j];
            const long cj = tj < from ? -1
                            : tj > to ? columns
                                      : static_cast<long>((tj - from) * scale);
            if (cj != col) break;
            const float v = values[j];
            if (std::isnan(v)) continue;
            if (first == SIZE_MAX) first = j;
            last = j;
            if (mn == SIZE_MAX || v < values[mn]) mn = j;
            if (mx == SIZE_MAX || v > values[mx]) mx = j;
        }
        if (j == i) ++j;  // times out of order: move on
        if (first != SIZE_MAX) {
            size_t pick[4] = {first, mn, mx, last};
            std::sort(pick, pick + 4);
            for (size_t p : pick) keep(p);
        }
        i = j;
    }
}

int TimeMarkCount(double spanSeconds, int fallback) {
    static const double kSteps[] = {1,    2,    5,    10,    15,    30,    60,     120,
                                    300,  600,  900,  1800,  3600,  7200,  10800,  21600,
                                    43200, 86400, 172800, 432000, 864000};
    for (double step : kSteps) {
        const double marks = spanSeconds / step;
        if (marks > 8.0 + 1e-9) continue;  // too many: a longer step
        if (marks < 3.0 - 1e-9) break;     // too few: no round step fits
        if (std::fabs(marks - std::round(marks)) < 1e-6) return static_cast<int>(std::round(marks)) + 1;
    }
    return fallback;
}

}  // namespace tavrix
