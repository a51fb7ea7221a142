#include "app/ViewHub.h"

#include <cstdlib>

#include "base/Texts.h"
#include "logging/LoggingDialogs.h"

namespace tavrix {

// ---------------------------------------------------------------------------------------------
// WorkerThread

WorkerThread::~WorkerThread() {
    if (thread_.joinable()) thread_.detach();
}

void WorkerThread::Start(std::function<void()> body) {
    done_ = std::make_shared<Done>();
    auto done = done_;
    thread_ = std::thread([body = std::move(body), done] {
        body();
        {
            std::lock_guard lock(done->m);
            done->finished = true;
        }
        done->cv.notify_all();
    });
}

bool WorkerThread::JoinFor(std::chrono::milliseconds timeout) {
    if (!thread_.joinable()) return true;
    bool finished;
    {
        std::unique_lock lock(done_->m);
        finished = done_->cv.wait_for(lock, timeout, [&] { return done_->finished; });
    }
    if (finished) {
        thread_.join();
    } else {
        thread_.detach();  // abandoned, as the view does after its bound
    }
    return finished;
}

// ---------------------------------------------------------------------------------------------
// ViewHub

ViewHub::ViewHub(SettingsStore& settings, OperatorFrontEnd& op, ViewMessenger::Poster poster)
    : settings_(settings),
      op_(op),
      link_(op, settings),
      messenger_(std::move(poster), quit_),
      context_{{link_, mutex_, features_, bar_, op_, log_}, op_} {
    context_.communicationBusy = [this] { return AnyMonitorOpen() || loggingActive_.load(); };
    messenger_.SetHandler(
        [this](int message, intptr_t w, intptr_t l) { return OnMessage(message, w, l); });
    share_ = std::make_unique<HubShare>(link_, mutex_, log_, settings_, op_, features_);
    operations_[ID_CONNECT] = [this] {
        ConnectAndIdentify(context_);
        share_->LinkUp(features_.AnyInstrument());
    };
    operations_[ID_SHARE] = [this] { share_->Configure(); };
    operations_[ID_PORT_SELECT] = [this] { SelectPort(context_); };
    operations_[ID_RS232_SETUP] = [this] { SerialSetup(context_); };
}

ViewHub::~ViewHub() {
    Shutdown();
}

void ViewHub::Initialise() {
    if (initialised_) return;
    initialised_ = true;
    const std::string interval =
        settings_.GetString(settings::kLog, settings::kInterval, settings::kDefaultInterval);
    loggingInterval_ = DataLogSetupModel::StoredInterval(interval);
    quit_.Reset();
    sample_.Reset();
    auto idle = [](ViewHub& hub) {
        while (!hub.QuitEvent().WaitFor(std::chrono::hours(1))) {
        }
    };
    samplingThread_.Start([this, body = samplingBody_ ? samplingBody_ : idle] { body(*this); });
    monitorThread_.Start([this, body = monitorBody_ ? monitorBody_ : idle] { body(*this); });
    for (auto& flag : monitorOpen_) flag = 0;
    loggingActive_ = false;
    link_.StartUp();
    bar_.ShowTransport(link_.GetPortType());
    bar_.Reset();
    share_->StartUp();
}

void ViewHub::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    // Clients are let go before the workers and the link end.
    share_->Stop();
    if (initialised_ && !monitorsRecorded_) RecordOpenMonitors();
    quit_.Set();
    samplingThread_.JoinFor(kJoinTimeout);
    monitorThread_.JoinFor(kJoinTimeout);
    messenger_.Close();
}

void ViewHub::RecordOpenMonitors() {
    if (!initialised_) return;
    monitorsRecorded_ = true;
    for (int i = 0; i < 8; ++i)
        settings_.WriteInt(settings::kMonitors, settings::kMonitorOpen[i], monitorOpen_[i].load());
}

bool ViewHub::ConfirmQuit() {
    if (!loggingActive_.load()) return true;
    if (!op_.AskYesNo(texts::kQuitWhileLogging, MessageIcon::Question)) return false;
    // The run ends as Stop ends it: its closing lines are written before the program goes.
    OnMessage(WM_LOG_STOP, 0, 0);
    return true;
}

bool ViewHub::AnyMonitorOpen() const {
    for (const auto& flag : monitorOpen_)
        if (flag.load()) return true;
    return false;
}

bool ViewHub::MonitorSourcePresent(int index) const {
    if (index < 2) return features_.AnyInstrument();
    if (index < 4) return features_.InputsCDPresent();
    if (index < 8) return features_.InputsEHPresent();
    if (index < 10) return features_.HeatersPresent();
    if (index == 10) return features_.Analog1Present();
    return features_.Analog2Present();
}

namespace {
// Commands that may run while another operation is running: they neither talk to the
// instrument nor change what a running operation relies on.
bool AllowedDuringAnOperation(int id) {
    return id == ID_APP_ABOUT || id == ID_HELP || id == ID_VIEW_STATUS_BAR || id == ID_SHORTCUT ||
           id == ID_LOG_OPEN || id == ID_LOG_KEEP_GOING;
}
}  // namespace

bool ViewHub::IsEnabled(int id) const {
    if (running_ != 0 && !AllowedDuringAnOperation(id)) return false;
    const bool idle = !loggingActive_.load();
    const bool instrument = features_.AnyInstrument();
    switch (id) {
        case ID_INTERACT:
        case ID_CURVE_DOWNLOAD:
        case ID_CURVE_UPLOAD:
        case ID_COMMAND_FILE:
        case ID_LOG_START:
            return idle && instrument;
        case ID_PID_DOWNLOAD:
        case ID_PID_UPLOAD:
            return idle && instrument && features_.HeatersPresent();
        case ID_RS232_SETUP:
            return link_.GetPortType() == kPortRs232;
        case ID_DATALOG_UPLOAD:
            return features_.Identified();
        case ID_SHORTCUT:
            return true;  // brings the bar forward, wherever it is
        case ID_CALIBRATION:
            return instrument && features_.CalibrationOffered();
        default:
            break;
    }
    const int monitor = MonitorIndexOfCommand(id);
    if (monitor >= 0) {
        return monitorOpen_[static_cast<size_t>(monitor)].load() == 0 && instrument &&
               monitorThread_.Running() && MonitorSourcePresent(monitor);
    }
    return true;
}

void ViewHub::Execute(int id) {
    auto it = operations_.find(id);
    if (it != operations_.end() && it->second) {
        it->second();
        return;
    }
    op_.ShowMessage(CommandName(id) + " is not available in this version yet.",
                    MessageIcon::Information);
}

bool ViewHub::Run(int id) {
    if (!IsEnabled(id)) return false;
    if (AllowedDuringAnOperation(id)) {
        Execute(id);
        return true;
    }
    running_ = id;
    struct Done {
        int& running;
        ~Done() { running = 0; }
    } done{running_};
    Execute(id);
    return true;
}

intptr_t ViewHub::OnMessage(int message, intptr_t w, intptr_t l) {
    if (auto it = messages_.find(message); it != messages_.end() && it->second)
        return it->second(w, l);
    switch (message) {
        case WM_SHORTCUT_CURVE_DOWNLOAD:
            Run(ID_CURVE_DOWNLOAD);
            return 0;
        case WM_SHORTCUT_PID_DOWNLOAD:
            Run(ID_PID_DOWNLOAD);
            return 0;
        case WM_SHORTCUT_INTERACT:
            Run(ID_INTERACT);
            return 0;
        case WM_SHORTCUT_DATA_LOGGING:
            Run(ID_LOG_START);
            return 0;
        case WM_SHORTCUT_CONNECT:
            Run(ID_CONNECT);
            return 0;
        case WM_SHORTCUT_DATALOG_UPLOAD:
            Run(ID_DATALOG_UPLOAD);
            return 0;
        case WM_CALGEN_REQUEST:
            if (w == 0) {
                static constexpr int kDiode[4] = {ID_CALGEN_DIODE_300K, ID_CALGEN_DIODE_4K,
                                                  ID_CALGEN_DIODE_2PT, ID_CALGEN_DIODE_3PT};
                if (l >= 0 && l <= 3) Run(kDiode[l]);
            } else if (w == 1) {
                Run(ID_CALGEN_PLATINUM);
            }
            return 0;
        case WM_LOG_COMM_ERROR:
            ReportCommunicationFailure(link_, op_, log_);
            return 0;
        case WM_LINK_LOST: {
            bar_.SetStatus(static_cast<int>(w));
            features_.Reset();
            share_->LinkUp(false);
            // Never close the connection under another thread's exchange; if one is still
            // running, the next connect replaces the connection anyway.
            SessionLock lock(mutex_, 1000);
            if (lock) link_.LanDisconnect();
            return 0;
        }
        default:
            return 0;
    }
}

}  // namespace tavrix
