#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "app/Commands.h"
#include "app/HubShare.h"
#include "app/OperatorFrontEnd.h"
#include "app/ViewLog.h"
#include "app/ViewMessenger.h"
#include "base/SettingsStore.h"
#include "base/ShortcutBar.h"
#include "base/SyncPrimitives.h"
#include "curves/CurveCommands.h"
#include "link/CInstrumentLink.h"
#include "link/FeatureManager.h"
#include "link/LinkCommands.h"

namespace tavrix {

// A worker thread the view can wait for with a bound, and abandon after it.
class WorkerThread {
public:
    WorkerThread() = default;
    ~WorkerThread();
    void Start(std::function<void()> body);
    bool Running() const { return thread_.joinable(); }
    // Waits at most `timeout` for the thread to end; a thread that does not end is abandoned.
    bool JoinFor(std::chrono::milliseconds timeout);

private:
    struct Done {
        std::mutex m;
        std::condition_variable cv;
        bool finished = false;
    };
    std::thread thread_;
    std::shared_ptr<Done> done_;
};

// The view's hub: the objects that live for the whole run (link, lock, events, worker threads,
// capability record, message log, shortcut bar state), command routing with its enable rules,
// and the handling of the view's user messages. The window that holds it only draws.
class ViewHub {
public:
    using Operation = std::function<void()>;
    using MessageHandler = std::function<intptr_t(intptr_t wParam, intptr_t lParam)>;
    using WorkerBody = std::function<void(ViewHub&)>;

    static constexpr auto kJoinTimeout = std::chrono::seconds(30);

    ViewHub(SettingsStore& settings, OperatorFrontEnd& op, ViewMessenger::Poster poster);
    ~ViewHub();
    ViewHub(const ViewHub&) = delete;
    ViewHub& operator=(const ViewHub&) = delete;

    // Set before Initialise; an unset body waits on QuitEvent.
    void SetSamplingBody(WorkerBody body) { samplingBody_ = std::move(body); }
    void SetMonitorBody(WorkerBody body) { monitorBody_ = std::move(body); }

    // The view's first update: interval, events, threads, flags, link start-up, bar.
    void Initialise();
    // The view's destruction: "MONITORS" written (unless RecordOpenMonitors did it), QuitEvent,
    // threads joined, messenger closed. Safe to call twice.
    void Shutdown();
    // Writes "MONITORS" from the open flags now: the program is about to end, before closing
    // the monitor windows clears their flags.
    void RecordOpenMonitors();
    // Whether the program may end now: true when no logging run is active; otherwise asks
    // kQuitWhileLogging and, on Yes, stops the run first.
    bool ConfirmQuit();

    // Commands.
    bool IsEnabled(int commandId) const;
    // Runs the command's operation whatever its rule says (tests, and the gated path below).
    void Execute(int commandId);
    // The way every command reaches the view (menu, accelerator, shortcut bar, message): runs
    // it only when its rule allows it. An operation runs to its end before another instrument
    // command may start, even from inside its own dialogs. False when refused.
    bool Run(int commandId);
    // True while an operation started through Run is running.
    bool OperationRunning() const { return running_ != 0; }
    // Plugs an operation into a command; later registrations replace earlier ones.
    void RegisterOperation(int commandId, Operation op) { operations_[commandId] = std::move(op); }
    bool HasOperation(int commandId) const { return operations_.count(commandId) != 0; }

    // User messages (run on the view's thread).
    intptr_t OnMessage(int message, intptr_t wParam, intptr_t lParam);
    void RegisterMessage(int message, MessageHandler handler) {
        messages_[message] = std::move(handler);
    }

    SettingsStore& Settings() { return settings_; }
    OperatorFrontEnd& Operator() { return op_; }
    CInstrumentLink& Link() { return link_; }
    SessionMutex& Mutex() { return mutex_; }
    ManualResetEvent& QuitEvent() { return quit_; }
    ManualResetEvent& SampleEvent() { return sample_; }
    FeatureManager& Features() { return features_; }
    const FeatureManager& Features() const { return features_; }
    ShortcutBarModel& Bar() { return bar_; }
    ViewLog& Log() { return log_; }
    ViewMessenger& Messenger() { return messenger_; }
    CurveContext& Context() { return context_; }
    // The sharing port and the metrics endpoint.
    HubShare& Share() { return *share_; }

    std::atomic<int>& MonitorOpen(int index) { return monitorOpen_[static_cast<size_t>(index)]; }
    const std::array<std::atomic<int>, 12>& MonitorFlags() const { return monitorOpen_; }
    bool AnyMonitorOpen() const;
    std::atomic<bool>& LoggingActive() { return loggingActive_; }
    bool MonitorThreadRunning() const { return monitorThread_.Running(); }
    bool SamplingThreadRunning() const { return samplingThread_.Running(); }
    double LoggingInterval() const { return loggingInterval_.load(); }
    void SetLoggingInterval(double seconds) { loggingInterval_.store(seconds); }

private:
    bool MonitorSourcePresent(int index) const;

    SettingsStore& settings_;
    OperatorFrontEnd& op_;
    ManualResetEvent quit_;
    ManualResetEvent sample_;
    SessionMutex mutex_;
    ShortcutBarModel bar_;
    FeatureManager features_{&bar_};
    ViewLog log_;
    CInstrumentLink link_;
    ViewMessenger messenger_;
    CurveContext context_;
    // After the link, the lock and the log: it goes before them.
    std::unique_ptr<HubShare> share_;
    std::array<std::atomic<int>, 12> monitorOpen_{};
    std::atomic<bool> loggingActive_{false};
    std::atomic<double> loggingInterval_{30.0};
    WorkerBody samplingBody_, monitorBody_;
    WorkerThread samplingThread_, monitorThread_;
    std::map<int, Operation> operations_;
    std::map<int, MessageHandler> messages_;
    bool initialised_ = false;
    bool shutDown_ = false;
    bool monitorsRecorded_ = false;
    int running_ = 0;  // the command Run is running, 0 for none
};

}  // namespace tavrix
