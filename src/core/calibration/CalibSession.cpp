#include "calibration/CalibSession.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "base/CNumeric.h"
#include "calibration/CalibTexts.h"
#include "link/CInstrumentLink.h"
#include "link/LinkCommands.h"

namespace tavrix {

namespace ct = calib_texts;

CalibExchange CalibExchangeOver(CInstrumentLink& link) {
    CalibExchange e;
    e.transact = [&link](const std::string& command, std::string* reply) {
        return link.Transact(&command, reply);
    };
    e.identify = [&link](int& code) {
        if (QueryModelCode(link) != 1) return false;
        code = link.ModelCode();
        return true;
    };
    return e;
}

const char* CalibPage::StatusText() const {
    if (status == 0 && notRead) return ct::kNotReadStatus;
    return status >= 0 && status <= 2 ? ct::kStatusTexts[status] : "";
}

namespace {

// A setting read from the instrument goes back into a command line: only a short plain word or
// number may, never anything that could end the line or start another command.
bool IsPlainSetting(const std::string& text) {
    if (text.empty() || text.size() > 16) return false;
    for (char c : text) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                        (c >= 'a' && c <= 'z') || c == '.' || c == '+' || c == '-' || c == '_';
        if (!ok) return false;
    }
    return true;
}

std::string TrimBlanks(const std::string& text) {
    const size_t b = text.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    return text.substr(b, text.find_last_not_of(" \t\r\n") - b + 1);
}

std::vector<std::string> Fields(const std::string& reply) {
    std::vector<std::string> out;
    size_t a = 0;
    for (;;) {
        const size_t b = reply.find(';', a);
        out.push_back(TrimBlanks(reply.substr(a, b == std::string::npos ? b : b - a)));
        if (b == std::string::npos) break;
        a = b + 1;
    }
    return out;
}

bool SameSetting(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

std::string CalibSession::SentText(double value) {
    return FormatC("%lf", value);
}

int CalibSession::ReadInputSettings(char letter, CalibInputSettings& out) {
    std::string type, settings;
    if (Transact(FormatC(ct::kTypeQuery, letter), &type) != 0 ||
        Transact(FormatC(ct::kInputSettingsQuery, letter), &settings) != 0)
        return -1;
    const std::vector<std::string> f = Fields(settings);
    type = TrimBlanks(type);
    if (f.size() != 4 || !IsPlainSetting(type)) return -1;
    for (const std::string& v : f)
        if (!IsPlainSetting(v)) return -1;
    out.type = type;
    out.unit = f[0];
    out.sensor = f[1];
    out.vbias = f[2];
    out.brange = f[3];
    return 0;
}

int CalibSession::SaveInput(int c) {
    CalibInputSettings& in = inputs_[static_cast<size_t>(c)];
    if (in.saved) return 0;
    if (ReadInputSettings(static_cast<char>('A' + c), in) != 0) return -1;
    in.saved = true;
    in.changed = false;
    return 0;
}

int CalibSession::SendStepCommand(const std::string& line, int c) {
    // Never change an input whose settings could not be read first: they could not be put back.
    if (!inputs_[static_cast<size_t>(c)].saved) return -1;
    inputs_[static_cast<size_t>(c)].changed = true;
    return Transact(line, nullptr);
}

int CalibSession::RestoreInputs() {
    std::vector<int> pending;
    for (int c = 0; c < static_cast<int>(inputs_.size()); ++c)
        if (inputs_[static_cast<size_t>(c)].saved && inputs_[static_cast<size_t>(c)].changed)
            pending.push_back(c);
    if (pending.empty()) return 0;
    std::vector<int> left;
    bool linkOk = Transact(FormatC(ct::kModeOn, 'A'), nullptr) == 0;
    for (int c : pending) {
        CalibInputSettings& in = inputs_[static_cast<size_t>(c)];
        const char letter = static_cast<char>('A' + c);
        bool back = false;
        if (linkOk) {
            linkOk =
                Transact(FormatC("INST %c:TYPE ", letter) + in.type + ";TYPE?", nullptr) == 0 &&
                Transact(FormatC("INPUT %c:ISENIX ", letter) + in.sensor + ";VBIAS " + in.vbias +
                             ";BRANGE " + in.brange + ";UNIT " + in.unit + ";:*OPC?",
                         nullptr) == 0;
            // Read back: only what the instrument now answers counts as put back.
            CalibInputSettings now;
            if (linkOk && ReadInputSettings(letter, now) == 0)
                back = SameSetting(now.type, in.type) && SameSetting(now.unit, in.unit) &&
                       SameSetting(now.sensor, in.sensor) && SameSetting(now.vbias, in.vbias) &&
                       SameSetting(now.brange, in.brange);
        }
        if (back)
            in.changed = false;
        else
            left.push_back(c);
    }
    // Left in calibration mode, no input is as it was.
    if (Transact(FormatC(ct::kModeOff, 'A'), nullptr) != 0) left = pending;
    if (left.empty()) return 0;
    std::string letters;
    for (int c : left) {
        if (!letters.empty()) letters += ", ";
        letters += static_cast<char>('A' + c);
    }
    Message(FormatC(ct::kInputsNotRestored, letters.c_str()), true);
    return -1;
}

CalibSession::CalibSession(CalibExchange exchange, OperatorInterface& op)
    : exchange_(std::move(exchange)), op_(op) {}

int CalibSession::Transact(const std::string& command, std::string* reply) {
    if (!exchange_.transact) return -1;
    // Every line of the calibration that holds a query is answered; the reply is taken even
    // where nothing in it is used, so that it is never taken for the next query's answer.
    std::string ignored;
    if (!reply && CInstrumentLink::IsQuery(command)) reply = &ignored;
    return exchange_.transact(command, reply);
}

void CalibSession::Message(const std::string& text, bool error) {
    op_.ShowMessage(text, error ? MessageIcon::Stop : MessageIcon::Information);
}

void CalibSession::Changed(int i) {
    if (pageChanged) pageChanged(i);
}

std::vector<std::string> CalibSession::ChannelNames() const {
    std::vector<std::string> names;
    for (int c = 0; c < channels_; ++c) names.emplace_back(1, static_cast<char>('A' + c));
    return names;
}

bool CalibSession::Prepare() {
    int code = 0;
    if (!exchange_.identify || !exchange_.identify(code)) {
        Message(ct::kFailedToRetrieve, true);
        return false;
    }
    modelCode_ = code;
    channels_ = CalibChannelCount(code);
    table_ = CalibStepTable(code);
    stepCount_ = channels_ > 0 ? CalibStepCount(table_) : 0;
    entries_.assign(static_cast<size_t>(stepCount_ * channels_), CalibData{});
    // Settings already read stay: they are what the inputs had before anything was changed.
    if (inputs_.size() != static_cast<size_t>(channels_))
        inputs_.assign(static_cast<size_t>(channels_), CalibInputSettings{});
    pages_.clear();
    if (stepCount_ == 0) return true;

    // The sheet's pages, with their step rows.
    for (int s = 0; s < stepCount_; ++s) {
        CalibPage p;
        p.stepIndex = s;
        p.currentStepText = FormatC("%d", s + 1);
        p.totalStepsText = FormatC("%d", stepCount_);
        p.tabName = table_[s].tabName;
        p.upperPrompt = table_[s].upperPrompt;
        p.lowerPrompt = table_[s].lowerPrompt;
        p.upperTarget = table_[s].upperTarget;
        p.lowerTarget = table_[s].lowerTarget;
        pages_.push_back(std::move(p));
    }
    return true;
}

bool CalibSession::Retrieve() {
    if (!Prepare()) return false;
    if (stepCount_ == 0) return true;
    auto progress = op_.OpenProgress();
    progress->SetMessage(ct::kRetrieving);
    progress->SetRange(0, 100);
    // Each input's unit and settings first: the step commands change them.
    bool ok = true;
    for (int c = 0; c < channels_ && ok; ++c) ok = SaveInput(c) == 0;
    ok = ok && Transact(FormatC(ct::kModeOn, 'A'), nullptr) == 0;
    if (!ok) {
        progress->Close();
        Message(ct::kFailedToRetrieve, true);
        return false;
    }
    const int total = stepCount_ * channels_;
    for (int i = 0; i < total && ok; ++i) {
        const int s = i / channels_;
        const int c = i % channels_;
        const char letter = static_cast<char>('A' + c);
        std::string reply;
        ok = SendStepCommand(TypeCommandFor(table_[s], letter), c) == 0 &&
             SendStepCommand(InputCommandFor(table_[s], letter), c) == 0 &&
             Transact(FormatC(ct::kGainOffsetQuery, letter), &reply) == 0;
        if (ok) {
            // A reply without both numbers is no reading of this entry.
            double g = 0.0, o = 0.0;
            if (ScanC(reply.c_str(), "%lf;%lf", &g, &o) == 2 && std::isfinite(g) &&
                std::isfinite(o)) {
                CalibData& e = entries_[static_cast<size_t>(i)];
                e.gain = e.instrumentGain = g;
                e.offset = e.instrumentOffset = o;
                e.hasGain = e.hasOffset = true;
                e.retrieved = e.inInstrument = true;
            } else {
                ok = false;
            }
        }
        if (pumpMessages) pumpMessages();
        progress->SetPos(static_cast<int>(100.0 * i / total));
    }
    if (Transact(FormatC(ct::kModeOff, 'A'), nullptr) != 0) ok = false;
    progress->Close();
    if (!ok) Message(ct::kFailedToRetrieve, true);
    return ok;
}

void CalibSession::Open(CaptureTimers& timers) {
    timers_ = &timers;
    channel_ = 0;
    active_ = 0;
    if (stepCount_ == 0) return;
    LoadChannel(0);
}

void CalibSession::LoadChannel(int c) {
    channel_ = c;
    const std::string name = std::string("CH") + ChannelLetter();
    for (int s = 0; s < stepCount_; ++s) {
        CalibPage& p = P(s);
        p.title = FormatC(table_[s].title, name.c_str());
        const CalibData& e = E(s, c);
        p.gain = e.gain;
        p.offset = e.offset;
        p.hasGain = e.hasGain;
        p.hasOffset = e.hasOffset;
        p.notRead = !e.inInstrument;
        p.status = e.status;
        p.capturedUpperText.clear();
        p.capturedLowerText.clear();
        p.capturedUpper = 0.0;
        p.capturedLower = 0.0;
        p.sent = false;
        // Nothing captured on this channel yet.
        p.calibrateEnabled = false;
    }
    P(0).lowerCaptureEnabled = true;
    P(0).lowerTargetEnabled = true;
    for (int s = 0; s < stepCount_; ++s) Changed(s);
}

void CalibSession::StoreChannel() {
    for (int s = 0; s < stepCount_; ++s) {
        CalibData& e = E(s, channel_);
        const CalibPage& p = Page(s);
        e.status = p.status;
        e.gain = p.gain;
        e.offset = p.offset;
        e.hasGain = p.hasGain;
        e.hasOffset = p.hasOffset;
    }
}

void CalibSession::SelectChannel(int c) {
    if (stepCount_ == 0 || c < 0 || c >= channels_ || c == channel_) return;
    // A capture belongs to the channel it started on.
    for (int s = 0; s < stepCount_; ++s) AbortCapture(s);
    StoreChannel();
    LoadChannel(c);
    // A capture must read the new channel on the range of the page shown.
    if (activated_) ConfigurePageInput(active_);
}

void CalibSession::ActivatePage(int i) {
    if (i < 0 || i >= stepCount_) return;
    // The instrument is switched to the new page's range: a capture on another page would read
    // the wrong range from now on.
    for (int s = 0; s < stepCount_; ++s)
        if (s != i) AbortCapture(s);
    active_ = i;
    activated_ = true;
    CalibPage& p = P(i);
    if (!p.opened) {
        p.opened = true;
        if (p.lowerPrompt.empty()) {
            p.lowerCaptureEnabled = false;
            p.lowerTargetEnabled = false;
        }
        p.calibrateEnabled = false;
        p.upperAbortEnabled = false;
        p.lowerAbortEnabled = false;
    }
    Changed(i);
    ConfigurePageInput(i);
}

int CalibSession::ConfigurePageInput(int i) {
    CalibPage& p = P(i);
    if (p.capturedUpperText.empty() || p.capturedLowerText.empty()) p.calibrateEnabled = false;
    Changed(i);
    const char letter = ChannelLetter();
    // The second step is configured with the first step's type.
    const CalibStep& typeStep = table_[p.stepIndex == 1 ? 0 : p.stepIndex];
    const bool ok = SaveInput(channel_) == 0 &&
                    Transact(FormatC(ct::kModeOn, letter), nullptr) == 0 &&
                    SendStepCommand(TypeCommandFor(typeStep, letter), channel_) == 0 &&
                    SendStepCommand(InputCommandFor(table_[p.stepIndex], letter), channel_) == 0 &&
                    Transact(FormatC(ct::kModeOff, letter), nullptr) == 0;
    if (!ok) {
        Message(ct::kCommunicationError, true);
        return -1;
    }
    return 0;
}

int CalibSession::CaptureExchange(const std::string& command, std::string* reply) {
    captureBusy_ = 1;
    const int status = Transact(command, reply);
    captureBusy_ = 0;
    return status;
}

void CalibSession::StartCapture(int i, int state) {
    if (i < 0 || i >= stepCount_ || (state != kCapturingUpper && state != kCapturingLower)) return;
    CalibPage& p = P(i);
    if (!p.Idle()) return;
    if (state == kCapturingLower && !p.lowerCaptureEnabled) return;
    const bool upper = state == kCapturingUpper;
    p.waitCursor = true;
    (upper ? p.upperCaptureEnabled : p.lowerCaptureEnabled) = false;
    (upper ? p.upperAbortEnabled : p.lowerAbortEnabled) = true;
    if (p.captureTimer != 0 && timers_) timers_->Stop(i, p.captureTimer);
    p.captureTimer = 0;
    p.ticks = p.phase = p.totalTicks = 0;
    p.reading = p.previousReading = 0.0;
    const int id = upper ? kUpperCaptureTimer : kLowerCaptureTimer;
    if (!timers_ || !timers_->Start(i, id, kCaptureIntervalMs)) {
        p.waitCursor = false;
        (upper ? p.upperCaptureEnabled : p.lowerCaptureEnabled) = true;
        (upper ? p.upperAbortEnabled : p.lowerAbortEnabled) = false;
        Changed(i);
        Message(ct::kUnableToSetupCapture, true);
        return;
    }
    p.captureTimer = id;
    p.capturingDialogShown = true;
    p.captureState = state;
    Changed(i);
}

void CalibSession::StopCapture(int i) {
    CalibPage& p = P(i);
    if (p.captureTimer != 0 && timers_) timers_->Stop(i, p.captureTimer);
    p.captureTimer = 0;
    p.capturingDialogShown = false;
    if (p.captureState == kCapturingUpper) {
        p.upperCaptureEnabled = true;
        p.upperAbortEnabled = false;
    } else if (p.captureState == kCapturingLower) {
        p.lowerCaptureEnabled = true;
        p.lowerAbortEnabled = false;
    }
    p.waitCursor = false;
}

void CalibSession::EndCapture(int i, double v) {
    CalibPage& p = P(i);
    StopCapture(i);
    const bool upper = p.captureState == kCapturingUpper;
    if (upper) {
        p.capturedUpper = v;
        p.capturedUpperText = FormatC("%lf", v);
    } else {
        p.capturedLower = v;
        p.capturedLowerText = FormatC("%lf", v);
    }
    p.calibrateEnabled =
        p.capturedUpper != 0.0 && p.upperTarget != 0.0 &&
        (p.lowerPrompt.empty() || (p.capturedLower != 0.0 && p.lowerTarget != 0.0));
    Changed(i);
    Message(upper ? ct::kCapturedUpper : ct::kCapturedLower, false);
    p.captureState = kCaptureIdle;
    Changed(i);
}

void CalibSession::CaptureFailed(int i) {
    StopCapture(i);
    Changed(i);
    Message(ct::kFailedToGetInput, true);
    P(i).captureState = kCaptureIdle;
    Changed(i);
}

void CalibSession::AbortCapture(int i) {
    if (i < 0 || i >= stepCount_ || P(i).Idle()) return;
    StopCapture(i);
    Changed(i);
    Message(ct::kAborted, false);
    P(i).captureState = kCaptureIdle;
    Changed(i);
}

void CalibSession::OnTimer(int i, int timerId) {
    if (i < 0 || i >= stepCount_) return;
    if (captureBusy_) return;
    CalibPage& p = P(i);
    if (p.Idle() || timerId != p.captureTimer) {
        if (timers_) timers_->Stop(i, timerId);
        if (timerId == p.captureTimer) p.captureTimer = 0;
        return;
    }
    if (p.ticks > kCaptureTickLimit) {
        EndCapture(i, p.reading);
        return;
    }
    if (++p.totalTicks > kCaptureTotalTickLimit) {
        CaptureFailed(i);
        return;
    }
    std::string reply;
    if (CaptureExchange(FormatC(ct::kInputQuery, ChannelLetter()), &reply) != 0) {
        CaptureFailed(i);
        return;
    }
    double r = 0.0;
    if (ScanC(reply.c_str(), "%lf", &r) != 1) {
        p.phase = 0;
        return;
    }
    p.reading = r;
    if (p.phase == 0) {
        p.ticks = 0;
    } else if (p.phase == 1) {
        std::string opc;
        if (CaptureExchange(ct::kReseed, &opc) != 0) {
            CaptureFailed(i);
            return;
        }
    } else if (p.phase >= 2 && p.phase <= 9) {
        // Relative to the size of the reading, so that a negative one is not always "stable".
        const bool stable = std::fabs(p.previousReading - r) / std::fabs(r) < kStableRatio;
        if (!stable) p.phase = 1;
    } else if (p.phase == 10) {
        EndCapture(i, r);
        return;
    }
    ++p.phase;
    ++p.ticks;
    p.previousReading = r;
}

bool CalibSession::LeaveField(int i, Field field, const std::string& text) {
    CalibPage& p = P(i);
    double v = 0.0;
    const char* problem = nullptr;
    // An empty gain or offset field that never held a value may be passed through.
    const bool empty = text.find_first_not_of(" \t\r\n") == std::string::npos;
    if (empty && ((field == Field::Gain && !p.hasGain) || (field == Field::Offset && !p.hasOffset)))
        return true;
    if (!ParseNumberField(text, v)) {
        problem = ct::kEnterNumber;
    } else if (field == Field::UpperTarget) {
        if (p.lowerTarget >= v)
            problem = ct::kTargetsOutOfOrder;
        else if (v <= 0.0)
            problem = ct::kUpperNotPositive;
    } else if (field == Field::LowerTarget) {
        if (v >= p.upperTarget)
            problem = ct::kTargetsOutOfOrder;
        else if (v < 0.0)
            problem = ct::kLowerNegative;
    } else if (field == Field::Gain && !(v >= kGainMin && v <= kGainMax)) {
        problem = ct::kGainLimits;
    }
    if (problem) {
        // The field shows the page's value again.
        Message(problem, true);
        Changed(i);
        return false;
    }
    switch (field) {
        case Field::UpperTarget:
            p.upperTarget = v;
            break;
        case Field::LowerTarget:
            p.lowerTarget = v;
            break;
        case Field::Gain:
        case Field::Offset: {
            // The field shows "%5.7f": a value that reads back the same is no edit. In a field
            // that held no value, any number is one.
            double& value = field == Field::Gain ? p.gain : p.offset;
            bool& has = field == Field::Gain ? p.hasGain : p.hasOffset;
            if (!has || FormatC("%5.7f", v) != FormatC("%5.7f", value)) {
                value = v;
                has = true;
                p.status = 1;
            }
            break;
        }
    }
    Changed(i);
    return true;
}

bool CalibSession::EnterValues(int i, double gain, double offset) {
    if (i < 0 || i >= stepCount_) return false;
    if (!(gain >= kGainMin && gain <= kGainMax) || !std::isfinite(offset)) {
        Message(ct::kGainLimits, true);
        return false;
    }
    CalibPage& p = P(i);
    p.gain = gain;
    p.offset = offset;
    p.hasGain = p.hasOffset = true;
    p.status = 1;
    Changed(i);
    return true;
}

bool CalibSession::ComputeGainOffset(int i) {
    CalibPage& p = P(i);
    const CalibData& e = E(p.stepIndex, channel_);
    const double ut = p.upperTarget, lt = p.lowerTarget;
    const double cu = p.capturedUpper, cl = p.capturedLower;
    if (!(lt >= 0 && cl >= 0 && lt < ut && cl < cu)) {
        Message(ct::kBadTargetsOrCaptures, true);
        return false;
    }
    // The present calibration is taken out of the captures: it must be the one the instrument
    // measured them with, not values on the page that were edited or computed but never sent.
    if (!e.inInstrument) {
        Message(ct::kNotReadCompute, true);
        return false;
    }
    const double g = e.instrumentGain, o = e.instrumentOffset;
    if (g == 0.0) {
        Message(ct::kGainZero, true);
        return false;
    }
    double ng = 0.0, no = 0.0;
    const int method = table_[p.stepIndex].calibMethod;
    if (method == 2) {
        ng = ut / (cu / g);
    } else if (method == 3) {
        ng = ut * 0.00001 / (cu / g);
    } else {
        const double u = (cu - o) / g;
        const double l = (cl - o) / g;
        ng = (ut - lt) / (u - l);
        no = ut - ng * u;
    }
    if (!(ng >= kGainMin && ng <= kGainMax) || !std::isfinite(no)) {
        Message(ct::kGainOutOfRange, true);
        return false;
    }
    p.gain = ng;
    p.offset = no;
    p.hasGain = p.hasOffset = true;
    p.status = 2;
    p.calibrateEnabled = false;
    Changed(i);
    return true;
}

int CalibSession::SendPage(int i) {
    CalibPage& p = P(i);
    if (p.status == 0) return -1;
    // A value the page does not hold is never sent in its place.
    if (!p.hasGain || !p.hasOffset) return -1;
    const char letter = ChannelLetter();
    const CalibStep& step = table_[p.stepIndex];
    auto withLetter = [letter](std::string s) {
        s[kTypeLetterIndex] = letter;
        return s;
    };
    auto readBack = [this](const std::string& line, double want, double& got) {
        std::string reply;
        if (Transact(line, &reply) != 0) return false;
        if (ScanC(reply.c_str(), "%lf", &got) != 1 || !std::isfinite(got)) return false;
        return std::fabs(got - want) <= kReadBackTolerance;
    };
    if (SaveInput(channel_) != 0) return -1;
    if (Transact(FormatC(ct::kModeOn, letter), nullptr) != 0) return -1;
    double gotGain = 0.0, gotOffset = 0.0;
    const bool ok =
        SendStepCommand(TypeCommandFor(step, letter), channel_) == 0 &&
        SendStepCommand(InputCommandFor(step, letter), channel_) == 0 &&
        readBack(withLetter(ct::kSetGain) + SentText(p.gain) + ";GAIN?", p.gain, gotGain) &&
        readBack(withLetter(ct::kSetOffset) + SentText(p.offset) + ";OFFSET?", p.offset,
                 gotOffset) &&
        Transact(withLetter(ct::kSave), nullptr) == 0;
    if (!ok) {
        // Leaving calibration mode drops what was written but not saved.
        Transact(FormatC(ct::kModeOff, letter), nullptr);
        return -1;
    }
    // Saved: from now on the instrument measures with what it read back.
    CalibData& e = E(p.stepIndex, channel_);
    e.inInstrument = true;
    e.instrumentGain = gotGain;
    e.instrumentOffset = gotOffset;
    p.gain = gotGain;
    p.offset = gotOffset;
    p.notRead = false;
    if (Transact(FormatC(ct::kModeOff, letter), nullptr) != 0) return -1;
    p.status = 0;
    p.sent = true;
    Changed(i);
    return 0;
}

void CalibSession::ApplyCalibration() {
    bool modified = false;
    for (const CalibPage& p : pages_)
        if (p.status != 0) modified = true;
    if (!modified) {
        op_.ShowMessage(ct::kNoModification, MessageIcon::Information);
        return;
    }
    const CalibPage& p = Page(active_);
    if (p.status != 0 && (!p.hasGain || !p.hasOffset)) {
        op_.ShowMessage(ct::kNotReadApply, MessageIcon::Stop);
        return;
    }
    if (!op_.AskYesNo(ct::kSendQuestion, MessageIcon::Question)) return;
    if (SendPage(active_) != 0) op_.ShowMessage(ct::kFailedToSend, MessageIcon::Stop);
}

bool CalibSession::AnyUnsaved() const {
    for (const CalibPage& p : pages_)
        if (p.status != 0) return true;
    // The shown channel's entries are the pages themselves.
    for (size_t k = 0; k < entries_.size(); ++k)
        if (static_cast<int>(k) % channels_ != channel_ && entries_[k].status != 0) return true;
    return false;
}

void CalibSession::Close() {
    for (int s = 0; s < stepCount_; ++s) {
        if (P(s).Idle()) continue;
        StopCapture(s);
        P(s).captureState = kCaptureIdle;
    }
    timers_ = nullptr;
}

bool CalibSession::ConfirmQuit() {
    if (!AnyUnsaved()) return true;
    return op_.AskYesNo(ct::kQuitQuestion, MessageIcon::Information);
}

}  // namespace tavrix
