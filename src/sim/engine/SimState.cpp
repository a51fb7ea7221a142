#include "engine/SimState.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tavrix::sim {

namespace {

constexpr double kStageConductance = 0.05;                 // W/K from a stage to its base
constexpr double kHeaterWatts[4] = {0.0, 0.5, 5.0, 50.0};  // per heater range
constexpr double kSettleFactor = 0.3;                      // fraction of the gap closed per second
constexpr double kBaseKelvin[8] = {4.2, 4.5, 77.3, 295.0, 1.5, 10.0, 150.0, 300.0};

std::string Format(const char* fmt, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

}  // namespace

InstrumentState::InstrumentState(SimOptions options, SimFaults& faults)
    : options_(options),
      faults_(faults),
      model_(LookupModel(options.modelCode)),
      rng_(options.seed) {
    if (options.inputs > 0) model_.inputs = std::min(options.inputs, 8);
    if (options.loops > 0) model_.loops = std::min(options.loops, 4);
    inputs_.resize(static_cast<size_t>(model_.inputs));
    for (size_t i = 0; i < inputs_.size(); ++i) {
        SimInput& in = inputs_[i];
        in.name = std::string("Input ") + static_cast<char>('A' + i);
        in.baseK = kBaseKelvin[i % 8];
        in.temperature = in.baseK;
        in.curve = 1 + static_cast<int>(i);
    }
    loops_.resize(static_cast<size_t>(model_.loops));
    for (size_t l = 0; l < loops_.size(); ++l) {
        SimLoop& lp = loops_[l];
        lp.name = l < 2 ? "Heater " + std::to_string(l + 1) : "Analog " + std::to_string(l - 1);
        if (l < 2) {
            lp.setpoint = l == 0 ? 10.0 : 20.0;
            lp.range = 2;
        }
    }
    const size_t channels = inputs_.size();
    calRange_.assign(channels, 0);
    applied_.assign(channels, -1.0);
    cal_.resize(channels * kCalRangeCount);
    for (SimCalEntry& e : cal_) {
        // Each range leaves the factory a little off perfect.
        e.gain = e.savedGain = 1.0 + (Uniform() - 0.5) * 0.002;
        e.offset = e.savedOffset = (Uniform() - 0.5) * 0.001;
    }
    InitCurves();
    InitPidTables();
    // Some history, so that a fresh instrument already has log records.
    AdvanceSeconds(8 * kLogEverySeconds);
}

double InstrumentState::Uniform() {
    return static_cast<double>(rng_()) / 4294967296.0;
}

std::string InstrumentState::RandomBytes(size_t count) {
    std::string out(count, '\0');
    for (size_t i = 0; i < count; ++i) {
        char c = static_cast<char>(rng_() & 0xFF);
        if (c == '\n') c = '\0';
        // Every fourth byte is a NUL, so readers meet them for sure.
        out[i] = (i % 4 == 1) ? '\0' : c;
    }
    return out;
}

void InstrumentState::AdvanceSeconds(int seconds) {
    for (int s = 0; s < seconds; ++s) {
        ++seconds_;
        Tick();
        if (logOn_ && seconds_ % kLogEverySeconds == 0) LogRecord();
    }
}

void InstrumentState::Tick() {
    // Loops 1 and 2 heat inputs A and B; loops 3 and 4 are analog outputs that follow their
    // input but heat nothing.
    std::vector<double> watts(inputs_.size(), 0.0);
    for (size_t l = 0; l < loops_.size(); ++l) {
        SimLoop& lp = loops_[l];
        const SimInput& in = inputs_[l % inputs_.size()];
        if (l < 2) {
            double pmax = kHeaterWatts[std::clamp(lp.range, 0, 3)];
            if (pmax <= 0.0) {
                lp.output = 0.0;
                continue;
            }
            // Feed-forward for the setpoint plus a proportional term: settles without ringing.
            double feed = (lp.setpoint - in.baseK) * kStageConductance / pmax * 100.0;
            double gain = 50.0 * kStageConductance / pmax;
            lp.output = std::clamp(feed + gain * (lp.setpoint - in.temperature), 0.0, 100.0);
            if (l < inputs_.size()) watts[l] += lp.output / 100.0 * pmax;
        } else {
            lp.output = std::clamp((lp.setpoint - in.temperature) * 10.0, 0.0, 100.0);
        }
    }
    for (size_t i = 0; i < inputs_.size(); ++i) {
        SimInput& in = inputs_[i];
        double target = in.baseK + watts[i] / kStageConductance;
        double noise = (Uniform() - 0.5) * 2.0 * (0.0002 * in.temperature + 0.0005);
        in.temperature += (target - in.temperature) * kSettleFactor + noise;
        if (in.temperature < 0.3) in.temperature = 0.3;
    }
}

void InstrumentState::LogRecord() {
    ++logNumber_;
    long long t = seconds_;
    char head[64];
    std::snprintf(head, sizeof head, "%lld,%02lld:%02lld:%02lld", logNumber_, (t / 3600) % 24,
                  (t / 60) % 60, t % 60);
    std::string rec = head;
    for (const SimInput& in : inputs_) rec += Format(",%.4f", in.temperature);
    logRecords_.push_back(std::move(rec));
    if (logRecords_.size() > kLogCapacity) logRecords_.erase(logRecords_.begin());
}

void InstrumentState::InitCurves() {
    for (int i = 0; i < kUserCurveCount; ++i) {
        SimCurve& c = userCurves_[static_cast<size_t>(i)];
        c.name = "USER CURVE " + std::to_string(i + 1);
        c.type = "None";
    }
    standardCurves_.resize(kStandardCurveCount);
    for (int n = 1; n <= kStandardCurveCount; ++n) {
        SimCurve& c = standardCurves_[static_cast<size_t>(n - 1)];
        char name[32];
        const int points = 31;
        if (n % 3 == 0) {
            std::snprintf(name, sizeof name, "PT100-%02d", n);
            c.name = name;
            c.type = "PTC100";
            c.unit = "Ohms";
            for (int k = 0; k < points; ++k) {
                double t = 30.0 + (800.0 - 30.0) * k / (points - 1);
                double r = 100.0 * (1.0 + 0.00385 * (t - 273.15));
                c.points.push_back({std::max(r, 1.0 + k * 0.1), t});
            }
        } else {
            // A silicon-diode-like shape: the voltage falls as the temperature rises.
            std::snprintf(name, sizeof name, "DIODE-%02d", n);
            c.name = name;
            c.type = "Diode";
            c.unit = "Volts";
            const double tweak = 1.0 + 0.002 * (n % 7);
            for (int k = points - 1; k >= 0; --k) {
                double t = 1.4 * std::pow(475.0 / 1.4, static_cast<double>(k) / (points - 1));
                double v = (1.25 - 0.0022 * t + 0.45 * std::exp(-t / 25.0)) * tweak;
                c.points.push_back({v, t});
            }
        }
    }
}

void InstrumentState::InitPidTables() {
    pidTables_.resize(kMaxPidTable);
    for (int t = 1; t <= 6; ++t) {
        SimPidTable& p = pidTables_[static_cast<size_t>(t - 1)];
        p.title = "Default PID table " + std::to_string(t);
        p.entries = {"10.000 50.000 20.000 0.000 LOW", "40.000 80.000 15.000 0.000 MEDIUM",
                     "300.000 120.000 10.000 5.000 HIGH"};
    }
}

std::string InstrumentState::TemperatureText(const SimInput& in) const {
    switch (in.unit) {
        case 'C':
            return Format("%.4f", in.temperature - 273.15);
        case 'F':
            return Format("%.4f", (in.temperature - 273.15) * 9.0 / 5.0 + 32.0);
        case 'S':
            return Format("%.6f",
                          1.25 - 0.0022 * in.temperature + 0.45 * std::exp(-in.temperature / 25.0));
        default:
            return Format("%.4f", in.temperature);
    }
}

void InstrumentState::ApplyStandard(int channel, double value) {
    if (channel >= 0 && channel < static_cast<int>(applied_.size())) {
        applied_[static_cast<size_t>(channel)] = value;
    }
}

double InstrumentState::CalibratedReading(int channel) {
    const size_t ch = static_cast<size_t>(channel);
    const int range = calRange_[ch];
    double standard = applied_[ch] >= 0.0 ? applied_[ch] : kCalRanges[range].nominal;
    const SimCalEntry& e = cal_[static_cast<size_t>(range) * inputs_.size() + ch];
    // Until a reseed the reading wanders too much to count as stable.
    double spread = settled_ && !faults_.noisy ? 2e-7 : 2e-3;
    return e.gain * standard + e.offset + standard * spread * (Uniform() - 0.5);
}

}  // namespace tavrix::sim
