#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/OperatorFrontEnd.h"

namespace tavrix::test {

// A scratch folder removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& Path() const { return path_; }
    std::string Str() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

struct ShownMessage {
    std::string text;
    MessageIcon icon;
    bool operator==(const ShownMessage&) const = default;
};

// Progress window that records what it was told.
struct ProgressRecord {
    std::vector<std::string> messages;
    std::vector<int> positions;
    int low = 0, high = 0;
    int closed = 0;
};

// The operator of the tests: answers dialogs from queues (an empty queue cancels) and records
// every message box, question and progress window.
class ScriptedOperator : public OperatorFrontEnd {
public:
    void ShowMessage(const std::string& text, MessageIcon icon) override;
    bool AskYesNo(const std::string& text, MessageIcon icon) override;
    std::unique_ptr<ProgressWindow> OpenProgress() override;
    void PumpMessages() override { ++pumps; }
    DialogResult<OnePointValues> AskOnePoint(const OnePointValues& preset) override;
    DialogResult<TwoPointsValues> AskTwoPoints(const TwoPointsValues& preset) override;
    DialogResult<ThreePointsValues> AskThreePoints(const ThreePointsValues& preset) override;
    DialogResult<SerialSetupChoice> AskSerialSetup(const SerialSetupChoice& preset) override;
    DialogResult<int> AskPortType(int current) override;
    DialogResult<int> AskGpibAddress(int current) override;
    DialogResult<IpAddressChoice> AskIpAddress(const IpAddressChoice& preset) override;
    DialogResult<std::string> AskOpenFile(const FileDialogRequest& request) override;
    DialogResult<std::string> AskSaveFile(const FileDialogRequest& request) override;
    DialogResult<CurveHeaderEdit> EditCurveHeader(const CurveHeaderEdit& header) override;
    DialogResult<UserCurveChoice> ChooseUserCurve(const UserCurveChoice& choice) override;
    DialogResult<int> AskPidTableNumber(int preset) override;
    DialogResult<DataLogSetupModel> AskLogSetup(const DataLogSetupModel& preset) override;
    DialogResult<std::string> AskCalibrationPassword() override;
    DialogResult<NewPasswordEntry> AskNewCalibrationPassword() override;
    DialogOutcome RunCalibrationDialog(CalibSession& session) override;
    DialogResult<ShareSettings> AskShareSettings(const ShareSettings& preset) override;

    // The header editor's answer is worked out from what it was opened with.
    using HeaderAnswer = std::function<DialogResult<CurveHeaderEdit>(CurveHeaderEdit)>;
    // "Accept" without touching anything.
    static HeaderAnswer AcceptHeader() {
        return
            [](CurveHeaderEdit h) { return DialogResult<CurveHeaderEdit>::Accept(std::move(h)); };
    }

    std::vector<ShownMessage> messages;
    std::vector<std::string> questions;
    std::deque<bool> yesNoAnswers;
    std::deque<DialogResult<SerialSetupChoice>> serialAnswers;
    std::deque<DialogResult<int>> portTypeAnswers;
    std::deque<DialogResult<int>> gpibAnswers;
    std::deque<DialogResult<IpAddressChoice>> ipAnswers;
    // Presets the dialogs were opened with.
    std::vector<SerialSetupChoice> serialPresets;
    std::vector<int> portTypePresets, gpibPresets;
    std::vector<IpAddressChoice> ipPresets;
    std::deque<DialogResult<std::string>> openFileAnswers, saveFileAnswers;
    std::deque<HeaderAnswer> headerAnswers;
    // The list position chosen in the user-curve chooser; a cancel when empty.
    std::deque<DialogResult<int>> userCurveAnswers;
    std::deque<DialogResult<int>> pidTableAnswers;
    std::vector<FileDialogRequest> openFileRequests, saveFileRequests;
    std::vector<CurveHeaderEdit> headerPresets;
    std::vector<UserCurveChoice> userCurvePresets;
    std::vector<int> pidTablePresets;
    std::vector<std::shared_ptr<ProgressRecord>> progress;
    int pumps = 0;
    // Reference-point dialogs of curve generation: answers, and the values each showing opened
    // with.
    std::deque<DialogResult<OnePointValues>> onePointAnswers;
    std::deque<DialogResult<TwoPointsValues>> twoPointsAnswers;
    std::deque<DialogResult<ThreePointsValues>> threePointsAnswers;
    std::vector<OnePointValues> onePointPresets;
    std::vector<TwoPointsValues> twoPointsPresets;
    std::vector<ThreePointsValues> threePointsPresets;
    // The logging setup dialog: each answer is worked out from what the dialog opened with;
    // none queued is a Cancel that keeps the preset.
    using LogSetupAnswer = std::function<DialogResult<DataLogSetupModel>(DataLogSetupModel)>;
    std::deque<LogSetupAnswer> logSetupAnswers;
    std::vector<DataLogSetupModel> logSetupPresets;
    // Calibration: the typed passwords, the change dialog's texts, and what the calibration
    // dialog does with its session while it is open (closes with Ok when unset).
    std::deque<DialogResult<std::string>> calibPasswordAnswers;
    std::deque<DialogResult<NewPasswordEntry>> newPasswordAnswers;
    std::function<DialogOutcome(CalibSession&)> calibrationDialog;
    int newPasswordAsked = 0;
    // The sharing dialog: each answer gets the preset shown; none queued is a Cancel.
    using ShareAnswer = std::function<DialogResult<ShareSettings>(ShareSettings)>;
    std::deque<ShareAnswer> shareAnswers;
    std::vector<ShareSettings> sharePresets;
    int calibrationDialogsShown = 0;

    std::vector<std::string> MessageTexts() const;
};

// Collects the lines appended to the view's log.
class CollectingLog : public LogSink {
public:
    void Append(const std::string& text) override { lines.push_back(text); }
    std::vector<std::string> lines;
};

}  // namespace tavrix::test

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace tavrix::test {

// An instrument played by the test on a pseudo-terminal: the link opens SlavePath() as its
// serial port. Each LF-framed line received is passed to the responder, whose answer (if any)
// is written back followed by `terminator`. Every received byte is kept with its arrival time.
class PtyInstrument {
public:
    using Responder = std::function<std::optional<std::string>(const std::string& line)>;

    // hangUpAfter >= 0: after that many lines the instrument closes its end (the program's
    // writes then fail, as when a cable is pulled).
    explicit PtyInstrument(Responder responder, std::string terminator = "\r\n",
                           int hangUpAfter = -1);
    ~PtyInstrument();

    const std::string& SlavePath() const { return slavePath_; }
    std::string Received() const;
    std::vector<std::string> Lines() const;
    // Arrival time of every received byte, in order.
    std::vector<std::chrono::steady_clock::time_point> ByteTimes() const;
    // Writes raw bytes to the program, outside any exchange.
    void Write(const std::string& bytes);

private:
    void Run();

    Responder responder_;
    std::string terminator_;
    int hangUpAfter_ = -1;
    int master_ = -1;
    int slaveKeep_ = -1;
    int wake_[2] = {-1, -1};
    std::string slavePath_;
    mutable std::mutex m_;
    std::string received_;
    std::vector<std::string> lines_;
    std::vector<std::chrono::steady_clock::time_point> times_;
    std::thread thread_;
};

}  // namespace tavrix::test

#include "base/SettingsStore.h"
#include "base/ShortcutBar.h"
#include "base/SyncPrimitives.h"
#include "curves/CurveCommands.h"
#include "engine/SimEngine.h"
#include "engine/SimFrontEnds.h"
#include "link/CInstrumentLink.h"
#include "link/FeatureManager.h"
#include "link/LinkCommands.h"

namespace tavrix::test {

// The view's objects around a link whose RS232 port is a scripted instrument.
struct PtyLinkBench {
    explicit PtyLinkBench(PtyInstrument::Responder r)
        : instrument(std::move(r)), settings(dir.Str()) {
        link.SetSerialDeviceOverride(instrument.SlavePath());
        link.StartUp();
    }
    TempDir dir;
    PtyInstrument instrument;
    SettingsStore settings;
    ScriptedOperator op;
    CollectingLog log;
    CInstrumentLink link{op, settings};
    SessionMutex mutex;
    ShortcutBarModel bar;
    FeatureManager features{&bar};
    CurveContext ctx{{link, mutex, features, bar, op, log}, op};
};

// The view's objects around a link to a simulated controller reached over TCP and a
// pseudo-terminal (every COM port opens the pty), or over GPIB through `gpibLibrary`. The link
// is not started yet.
struct SimLinkBench {
    explicit SimLinkBench(int model = 28, const char* gpibLibrary = nullptr)
        : engine(sim::SimOptions{model, 7}),
          settings(dir.Str()),
          // The link chooses its GPIB library when it is made: the setting comes first.
          gpibChosen(gpibLibrary && settings.WriteString("GPIB", "Library", gpibLibrary)) {
        link.SetSerialDeviceOverride(pty.SlavePath());
    }
    TempDir dir;
    sim::SimEngine engine;
    sim::TcpFrontEnd tcp{engine, 0};
    sim::PtyFrontEnd pty{engine};
    SettingsStore settings;
    bool gpibChosen;
    ScriptedOperator op;
    CollectingLog log;
    CInstrumentLink link{op, settings};
    SessionMutex mutex;
    ShortcutBarModel bar;
    FeatureManager features{&bar};
    CurveContext ctx{{link, mutex, features, bar, op, log}, op};
};

// A TCP connection to 127.0.0.1:port; -1 when refused.
int ConnectLoopback(int port);

// This machine's first IPv4 address that is not a loopback one; empty when it has none.
std::string OtherLocalAddress();

// A file's bytes ("" when it cannot be read).
std::string Slurp(const std::string& path);

// The lines of a file split at CR LF; a tail without CR LF comes back as "<unterminated>...".
std::vector<std::string> CrLfLines(const std::string& path);

// Writes user curve 1 with `points` points into the instrument, as a curve download does.
void StoreCurve(CInstrumentLink& link, int points);

}  // namespace tavrix::test

#include <condition_variable>
#include <future>

#include "app/ViewMessenger.h"

namespace tavrix::test {

// A view thread of its own: runs posted calls until stopped.
class FakeUiThread {
public:
    FakeUiThread() : thread_([this] { Run(); }) {}
    ~FakeUiThread() { Stop(); }
    ViewMessenger::Poster Poster() {
        return [this](std::function<void()> f) {
            std::lock_guard lock(m_);
            queue_.push_back(std::move(f));
            cv_.notify_all();
        };
    }
    void Stop() {
        {
            std::lock_guard lock(m_);
            stop_ = true;
        }
        cv_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    // Runs `f` on this thread and waits for it.
    void RunHere(std::function<void()> f) {
        std::promise<void> done;
        Poster()([&] {
            f();
            done.set_value();
        });
        done.get_future().wait();
    }

private:
    void Run() {
        std::unique_lock lock(m_);
        for (;;) {
            cv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (stop_) return;
            auto f = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            f();
            lock.lock();
        }
    }
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> queue_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace tavrix::test
