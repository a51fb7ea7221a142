// Answers to the command language, node by node.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "engine/SimState.h"

namespace tavrix::sim {

namespace {

// Numeric queries on an input or loop the model lacks answer this; text queries answer an
// empty field. An unknown query answers it too, so every query line still gets its one reply.
constexpr const char* kNothing = "0";

CommandResult Reply(std::string text) {
    CommandResult r;
    r.hasReply = true;
    r.reply = std::move(text);
    return r;
}

CommandResult Table(std::vector<std::string> lines) {
    CommandResult r;
    r.isTable = true;
    r.table = std::move(lines);
    return r;
}

CommandResult Unknown(const SimCommand& c) {
    return c.query ? Reply(kNothing) : CommandResult{};
}

std::string Fmt(const char* fmt, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

// Whole text as a number; false on anything else.
bool ParseDouble(const std::string& text, double& out) {
    std::string t = Trim(text);
    if (t.empty()) return false;
    char* end = nullptr;
    out = std::strtod(t.c_str(), &end);
    return end && *end == '\0' && std::isfinite(out);
}

bool ParseInt(const std::string& text, int& out) {
    std::string t = Trim(text);
    if (t.empty()) return false;
    char* end = nullptr;
    long v = std::strtol(t.c_str(), &end, 10);
    if (!end || *end != '\0' || v < -1000000 || v > 1000000) return false;
    out = static_cast<int>(v);
    return true;
}

// Names are kept short like an instrument's front-panel labels.
std::string Label(const std::string& text) {
    return Trim(text).substr(0, 15);
}

bool IsTextQuery(const std::string& k) {
    return k == "NAME" || k == "UNIT";
}

}  // namespace

CommandResult InstrumentState::Dispatch(const SimCommand& c) {
    if (c.path.empty()) return Root(c);
    const SimNode& node = c.path.front();
    if (c.path.size() == 1) {
        if (node.keyword == "INP") return Input(c, node.arg);
        if (node.keyword == "LOOP") return Loop(c, node.arg);
        if (node.keyword == "INST") return Inst(c, node.arg);
        if (node.keyword == "PIDT") return Pidt(c, node.arg);
        if (node.keyword == "SENSORIX") return SensorIx(c, node.arg);
        if (node.keyword == "DLOG") return DLog(c);
        if (node.keyword == "SYST") return Syst(c);
    }
    return Unknown(c);
}

CommandResult InstrumentState::Root(const SimCommand& c) {
    const std::string& k = c.keyword;
    if (k == "*IDN" && c.query) return Reply(Identity());
    if (k == "*OPC" && c.query) return Reply("1");
    if (k == "*CLS" || k == "*OPC") return {};
    if (k == "INP" && c.query) {
        // "INPUT? A": the reading of the channel's present measuring range.
        int ch = ChannelIndex(c.arg);
        if (ch < 0) return Reply(kNothing);
        return Reply(Fmt("%.7f", CalibratedReading(ch)));
    }
    if (k == "SENSORIX" && c.query) {
        int n = 0;
        SimCurve* curve = ParseInt(c.arg, n) ? CurveFor(n) : nullptr;
        return Reply(curve ? curve->name : "");
    }
    if (k == "CALC") {
        int user = UserCurveFromCalc(c.arg);
        if (c.query) {
            int n = 0;
            SimCurve* curve = user ? CurveFor(user) : (ParseInt(c.arg, n) ? CurveFor(n) : nullptr);
            if (!curve) return Table({});
            return Table(CurveLines(*curve));
        }
        if (!user) return {};
        inputKind_ = InputKind::Curve;
        inputTarget_ = user;
        inputLineNo_ = 0;
        inputCurve_ = SimCurve{};
        CommandResult r;
        r.beginsInput = true;
        return r;
    }
    return Unknown(c);
}

CommandResult InstrumentState::Input(const SimCommand& c, const std::string& which) {
    const std::string& k = c.keyword;
    int ch = ChannelIndex(which);
    if (ch < 0) {
        if (!c.query) return {};
        return Reply(IsTextQuery(k) ? "" : kNothing);
    }
    SimInput& in = inputs_[static_cast<size_t>(ch)];
    if (c.query) {
        if (k == "TEMP") return Reply(TemperatureText(in));
        if (k == "UNIT") return Reply(std::string(1, in.unit));
        if (k == "NAME") return Reply(in.name);
        if (k == "ISENIX") return Reply(std::to_string(in.curve));
        if (k == "VBIAS") return Reply(in.vbias);
        if (k == "BRANGE") return Reply(in.brange);
        return Unknown(c);
    }
    if (k == "NAME" && c.hasArg) {
        in.name = Label(c.arg);
    } else if (k == "UNIT" && c.hasArg) {
        std::string u = Upper(Trim(c.arg));
        if (u == "K" || u == "C" || u == "F" || u == "S") in.unit = u[0];
    } else if (k == "ISENIX") {
        int n = 0;
        if (ParseInt(c.arg, n) && CurveFor(n)) in.curve = n;
        settled_ = false;
    } else if (k == "VBIAS" && c.hasArg) {
        in.vbias = Upper(Trim(c.arg));
        settled_ = false;
    } else if (k == "BRANGE" && c.hasArg) {
        in.brange = Upper(Trim(c.arg));
        settled_ = false;
    }
    return {};
}

CommandResult InstrumentState::Loop(const SimCommand& c, const std::string& which) {
    const std::string& k = c.keyword;
    int l = LoopIndex(which);
    if (l < 0) {
        if (!c.query) return {};
        return Reply(IsTextQuery(k) ? "" : kNothing);
    }
    SimLoop& lp = loops_[static_cast<size_t>(l)];
    if (c.query) {
        if (k == "OUTP" || k == "HTRR") return Reply(Fmt("%.2f", lp.output));
        if (k == "RANGE") return Reply(std::to_string(lp.range));
        if (k == "SETPT") return Reply(Fmt("%.3f", lp.setpoint));
        if (k == "NAME") return Reply(lp.name);
        return Unknown(c);
    }
    double v = 0.0;
    int r = 0;
    if (k == "SETPT" && ParseDouble(c.arg, v) && v >= 0.0 && v <= 1500.0) {
        lp.setpoint = v;
    } else if (k == "RANGE" && ParseInt(c.arg, r) && r >= 0 && r <= 3) {
        lp.range = r;
    } else if (k == "NAME" && c.hasArg) {
        lp.name = Label(c.arg);
    }
    return {};
}

CommandResult InstrumentState::Inst(const SimCommand& c, const std::string& which) {
    const std::string& k = c.keyword;
    if (k == "PSWD") {
        // One password for the whole instrument, whichever channel letter is named.
        if (c.query) {
            std::string padded = password_;
            padded.resize(10, ' ');
            return Reply(padded);
        }
        std::string pw = Trim(c.arg);
        if (c.hasArg && pw.size() <= 10) password_ = pw;
        return {};
    }
    if (k == "MODE") {
        if (c.query) return Reply(calMode_ ? "ON" : "OFF");
        std::string v = Upper(Trim(c.arg));
        if (v == "ON" || v == "1") {
            calMode_ = true;
        } else if (v == "OFF" || v == "0") {
            // Leaving calibration mode drops what was not saved.
            for (SimCalEntry& e : cal_) {
                e.gain = e.savedGain;
                e.offset = e.savedOffset;
            }
            calMode_ = false;
        }
        return {};
    }
    int ch = ChannelIndex(which);
    if (ch < 0) return c.query ? Reply(kNothing) : CommandResult{};
    const size_t chan = static_cast<size_t>(ch);
    SimCalEntry& e = cal_[static_cast<size_t>(calRange_[chan]) * inputs_.size() + chan];
    if (k == "TYPE") {
        if (c.query) return Reply(kCalRanges[calRange_[chan]].name);
        std::string want = Upper(Trim(c.arg));
        for (int r = 0; r < kCalRangeCount; ++r) {
            if (Upper(kCalRanges[r].name) == want) {
                calRange_[chan] = r;
                settled_ = false;
            }
        }
        return {};
    }
    if (k == "GAIN" || k == "OFFSET") {
        double& value = k == "GAIN" ? e.gain : e.offset;
        if (c.query) return Reply(Fmt("%.7f", value));
        double v = 0.0;
        if (calMode_ && ParseDouble(c.arg, v)) value = v;
        return {};
    }
    if (k == "SAVE" && !c.query) {
        if (calMode_) {
            for (SimCalEntry& s : cal_) {
                s.savedGain = s.gain;
                s.savedOffset = s.offset;
            }
        }
        return {};
    }
    return Unknown(c);
}

CommandResult InstrumentState::Pidt(const SimCommand& c, const std::string& which) {
    int t = 0;
    bool valid = ParseInt(which, t) && t >= 1 && t <= kMaxPidTable;
    const std::string& k = c.keyword;
    if (k == "TABLE") {
        if (c.query) {
            if (!valid) return Table({});
            const SimPidTable& p = pidTables_[static_cast<size_t>(t - 1)];
            std::vector<std::string> lines{p.title};
            lines.insert(lines.end(), p.entries.begin(), p.entries.end());
            return Table(std::move(lines));
        }
        if (!valid) return {};
        inputKind_ = InputKind::Pid;
        inputTarget_ = t;
        inputLineNo_ = 0;
        inputPid_ = SimPidTable{};
        CommandResult r;
        r.beginsInput = true;
        return r;
    }
    if (k == "NENT" && c.query) {
        if (!valid) return Reply(kNothing);
        return Reply(std::to_string(pidTables_[static_cast<size_t>(t - 1)].entries.size()));
    }
    return Unknown(c);
}

CommandResult InstrumentState::SensorIx(const SimCommand& c, const std::string& which) {
    int n = 0;
    SimCurve* curve = ParseInt(which, n) ? CurveFor(n) : nullptr;
    const std::string& k = c.keyword;
    if (!c.query) return {};
    if (k == "NENT") return Reply(curve ? std::to_string(curve->points.size()) : kNothing);
    if (k == "NAME") return Reply(curve ? curve->name : "");
    if (k == "TABLE") return curve ? Table(CurveLines(*curve)) : Table({});
    return Unknown(c);
}

CommandResult InstrumentState::DLog(const SimCommand& c) {
    const std::string& k = c.keyword;
    if (k == "STATE") {
        if (c.query) return Reply(logOn_ ? "ON" : "OFF");
        std::string v = Upper(Trim(c.arg));
        if (v == "ON" || v == "1") logOn_ = true;
        if (v == "OFF" || v == "0") logOn_ = false;
        return {};
    }
    if (k == "COUNT" && c.query) return Reply(std::to_string(logRecords_.size()));
    if (k == "READ" && c.query) return Table(logRecords_);
    if (k == "CLEAR" && !c.query) {
        logRecords_.clear();
        return {};
    }
    return Unknown(c);
}

CommandResult InstrumentState::Syst(const SimCommand& c) {
    const std::string& k = c.keyword;
    if (k == "IDEF" && c.query) return Reply(IdentityDefinition());
    if (k == "RESEED" && !c.query) {
        settled_ = true;
        return {};
    }
    return Unknown(c);
}

std::string InstrumentState::Identity() const {
    char buf[128];
    std::snprintf(buf, sizeof buf, "Orvella %s,%07lu,%s", model_.name.c_str(), model_.serial,
                  model_.version.c_str());
    return buf;
}

std::string InstrumentState::IdentityDefinition() const {
    // code, serial, inputs, loops, heaters, firmware (version x 100), family
    int heaters = model_.family == 2 ? 2 : 0;
    unsigned firmware = static_cast<unsigned>(std::lround(std::atof(model_.version.c_str()) * 100));
    char buf[128];
    std::snprintf(buf, sizeof buf, "%d,%lu,%u,%u,%u,%u,%d", model_.code, model_.serial,
                  static_cast<unsigned>(model_.inputs), static_cast<unsigned>(model_.loops),
                  static_cast<unsigned>(heaters), firmware, model_.family);
    return buf;
}

int InstrumentState::ChannelIndex(const std::string& text) const {
    std::string t = Upper(Trim(text));
    if (t.size() != 1 || t[0] < 'A' || t[0] > 'H') return -1;
    int ch = t[0] - 'A';
    return ch < static_cast<int>(inputs_.size()) ? ch : -1;
}

int InstrumentState::LoopIndex(const std::string& text) const {
    int n = 0;
    if (!ParseInt(text, n) || n < 1 || n > static_cast<int>(loops_.size())) return -1;
    return n - 1;
}

SimCurve* InstrumentState::CurveFor(int n) {
    if (n >= kUserCurveFirst && n < kUserCurveFirst + kUserCurveCount) {
        return &userCurves_[static_cast<size_t>(n - kUserCurveFirst)];
    }
    if (n >= 1 && n <= kStandardCurveCount) return &standardCurves_[static_cast<size_t>(n - 1)];
    return nullptr;
}

int InstrumentState::UserCurveFromCalc(const std::string& arg) const {
    // "CALC n" names user curve n (1..8); the sensor index 61..68 is taken as well.
    int n = 0;
    if (!ParseInt(arg, n)) return 0;
    if (n >= 1 && n <= kUserCurveCount) return kUserCurveFirst + n - 1;
    if (n >= kUserCurveFirst && n < kUserCurveFirst + kUserCurveCount) return n;
    return 0;
}

std::vector<std::string> InstrumentState::CurveLines(const SimCurve& c) const {
    std::vector<std::string> lines{c.name, c.type, Fmt("%f", c.multiplier), c.unit};
    for (const SimCurvePoint& p : c.points) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "%f     %f", p.sensor, p.kelvin);
        lines.emplace_back(buf);
    }
    return lines;
}

bool InstrumentState::InputLine(const std::string& raw) {
    std::string line = Trim(raw);
    if (!line.empty() && line[0] == ';') {
        if (inputKind_ == InputKind::Curve) {
            userCurves_[static_cast<size_t>(inputTarget_ - kUserCurveFirst)] = inputCurve_;
        } else if (inputKind_ == InputKind::Pid) {
            pidTables_[static_cast<size_t>(inputTarget_ - 1)] = inputPid_;
        }
        inputKind_ = InputKind::None;
        return true;
    }
    if (line.find(';') != std::string::npos) return false;  // would break the table framing
    const int no = inputLineNo_++;
    if (inputKind_ == InputKind::Curve) {
        switch (no) {
            case 0:
                inputCurve_.name = Label(line);
                return true;
            case 1:
                inputCurve_.type = line;
                return true;
            case 2: {
                double m = 1.0;
                if (!ParseDouble(line, m)) return false;
                inputCurve_.multiplier = m;
                return true;
            }
            case 3:
                inputCurve_.unit = line;
                return true;
            default:
                break;
        }
        if (static_cast<int>(inputCurve_.points.size()) >= kMaxCurvePoints) return false;
        double s = 0.0, t = 0.0;
        char extra = 0;
        if (std::sscanf(line.c_str(), "%lf %lf %c", &s, &t, &extra) != 2) return false;
        inputCurve_.points.push_back({s, t});
        return true;
    }
    if (no == 0) {
        inputPid_.title = line;
        return true;
    }
    if (static_cast<int>(inputPid_.entries.size()) >= kMaxPidEntries) return false;
    float f[4];
    char word[32];
    if (std::sscanf(line.c_str(), "%f %f %f %f %31s", &f[0], &f[1], &f[2], &f[3], word) != 5) {
        return false;
    }
    inputPid_.entries.push_back(line);
    return true;
}

}  // namespace tavrix::sim
