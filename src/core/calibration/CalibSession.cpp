#include "calibration/CalibSession.h"

#include <cmath>
#include <cstdlib>

#include "calibration/CalibTexts.h"
#include "base/CNumeric.h"
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
    return status >= 0 && status <= 2 ? ct::kStatusTexts[status] : "";
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
    bool ok = Transact(FormatC(ct::kModeOn, 'A'), nullptr) == 0;
    if (!ok) {
        progress->Close();
        Message(ct::kFailedToRetrieve, true);
        return false;
    }
    const int total = stepCount_ * channels_;
    for (int i = 0; i < total && ok; ++i) {
        const int s = i / channels_;
        const char letter = static_cast<char>('A' + i % channels_);
        std::string reply;
        ok = Transact(TypeCommandFor(table_[s], letter), nullptr) == 0 &&
             Transact(InputCommandFor(table_[s], letter), nullptr) == 0 &&
             Transact(FormatC(ct::kGainOffsetQuery, letter), &reply) == 0;
        if (ok) {
            // A reply without both numbers is no reading of this entry.
            double g = 0.0, o = 0.0;
            if (ScanC(reply.c_str(), "%lf;%lf", &g, &o) == 2 && std::isfinite(g) &&
                std::isfinite(o)) {
                CalibData& e = entries_[static_cast<size_t>(i)];
                e.gain = g;
                e.offset = o;
                e.retrieved = true;
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
    }
}

void CalibSession::SelectChannel(int c) {
    if (stepCount_ == 0 || c < 0 || c >= channels_ || c == channel_) return;
    // A capture belongs to the channel it started on.
    for (int s = 0; s < stepCount_; ++s) AbortCapture(s);
    StoreChannel();
    LoadChannel(c);
}

void CalibSession::ActivatePage(int i) {
    if (i < 0 || i >= stepCount_) return;
    // The instrument is switched to the new page's range: a capture on another page would read
    // the wrong range from now on.
    for (int s = 0; s < stepCount_; ++s)
        if (s != i) AbortCapture(s);
    active_ = i;
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
    const std::string lines[] = {FormatC(ct::kModeOn, letter), TypeCommandFor(typeStep, letter),
                                 InputCommandFor(table_[p.stepIndex], letter),
                                 FormatC(ct::kModeOff, letter)};
    for (const std::string& line : lines) {
        if (Transact(line, nullptr) != 0) {
            Message(ct::kCommunicationError, true);
            return -1;
        }
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
            // The field shows "%5.7f": a value that reads back the same is no edit.
            double& value = field == Field::Gain ? p.gain : p.offset;
            if (FormatC("%5.7f", v) != FormatC("%5.7f", value)) {
                value = v;
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
    p.status = 1;
    Changed(i);
    return true;
}

bool CalibSession::ComputeGainOffset(int i) {
    CalibPage& p = P(i);
    const double g = p.gain, o = p.offset;
    const double ut = p.upperTarget, lt = p.lowerTarget;
    const double cu = p.capturedUpper, cl = p.capturedLower;
    if (!(lt >= 0 && cl >= 0 && lt < ut && cl < cu)) {
        Message(ct::kBadTargetsOrCaptures, true);
        return false;
    }
    if (g == 0.0) {
        Message(ct::kGainZero, true);
        return false;
    }
    // The present calibration is taken out of the captures: it must be the instrument's.
    if (!E(p.stepIndex, channel_).retrieved && p.status == 0) {
        Message(ct::kFailedToRetrieve, true);
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
    p.status = 2;
    p.calibrateEnabled = false;
    Changed(i);
    return true;
}

int CalibSession::SendPage(int i) {
    CalibPage& p = P(i);
    if (p.status == 0) return -1;
    const char letter = ChannelLetter();
    const CalibStep& step = table_[p.stepIndex];
    auto withLetter = [letter](std::string s) {
        s[kTypeLetterIndex] = letter;
        return s;
    };
    auto readBack = [this](const std::string& line, double want) {
        std::string reply;
        if (Transact(line, &reply) != 0) return false;
        double got = 0.0;
        if (ScanC(reply.c_str(), "%lf", &got) != 1) return false;
        return std::fabs(got - want) <= kReadBackTolerance;
    };
    if (Transact(FormatC(ct::kModeOn, letter), nullptr) != 0) return -1;
    const bool ok =
        Transact(TypeCommandFor(step, letter), nullptr) == 0 &&
        Transact(InputCommandFor(step, letter), nullptr) == 0 &&
        readBack(withLetter(ct::kSetGain) + FormatC("%lf", p.gain) + ";GAIN?", p.gain) &&
        readBack(withLetter(ct::kSetOffset) + FormatC("%lf", p.offset) + ";OFFSET?", p.offset) &&
        Transact(withLetter(ct::kSave), nullptr) == 0;
    if (!ok) {
        // Leaving calibration mode drops what was written but not saved.
        Transact(FormatC(ct::kModeOff, letter), nullptr);
        return -1;
    }
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
