#include "TestSupport.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace tavrix::test {

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tavrix-test-XXXXXX").string();
    char* made = mkdtemp(tmpl.data());
    path_ = made ? std::filesystem::path(made) : std::filesystem::temp_directory_path();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

namespace {
class RecordingProgress : public ProgressWindow {
public:
    explicit RecordingProgress(std::shared_ptr<ProgressRecord> r) : r_(std::move(r)) {}
    ~RecordingProgress() override { Close(); }
    void SetMessage(const std::string& text) override { r_->messages.push_back(text); }
    void SetRange(int low, int high) override {
        r_->low = low;
        r_->high = high;
    }
    void SetPos(int pos) override { r_->positions.push_back(pos); }
    void Close() override {
        if (!closed_) ++r_->closed;
        closed_ = true;
    }

private:
    std::shared_ptr<ProgressRecord> r_;
    bool closed_ = false;
};

template <typename T>
DialogResult<T> Next(std::deque<DialogResult<T>>& q) {
    if (q.empty()) return DialogResult<T>::Cancelled();
    auto r = q.front();
    q.pop_front();
    return r;
}
}  // namespace

void ScriptedOperator::ShowMessage(const std::string& text, MessageIcon icon) {
    messages.push_back({text, icon});
}

bool ScriptedOperator::AskYesNo(const std::string& text, MessageIcon) {
    questions.push_back(text);
    if (yesNoAnswers.empty()) return false;
    bool a = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return a;
}

std::unique_ptr<ProgressWindow> ScriptedOperator::OpenProgress() {
    auto rec = std::make_shared<ProgressRecord>();
    progress.push_back(rec);
    return std::make_unique<RecordingProgress>(rec);
}

DialogResult<OnePointValues> ScriptedOperator::AskOnePoint(const OnePointValues& preset) {
    onePointPresets.push_back(preset);
    return Next(onePointAnswers);
}

DialogResult<TwoPointsValues> ScriptedOperator::AskTwoPoints(const TwoPointsValues& preset) {
    twoPointsPresets.push_back(preset);
    return Next(twoPointsAnswers);
}

DialogResult<ThreePointsValues> ScriptedOperator::AskThreePoints(const ThreePointsValues& preset) {
    threePointsPresets.push_back(preset);
    return Next(threePointsAnswers);
}

DialogResult<SerialSetupChoice> ScriptedOperator::AskSerialSetup(const SerialSetupChoice& preset) {
    serialPresets.push_back(preset);
    return Next(serialAnswers);
}

DialogResult<int> ScriptedOperator::AskPortType(int current) {
    portTypePresets.push_back(current);
    return Next(portTypeAnswers);
}

DialogResult<int> ScriptedOperator::AskGpibAddress(int current) {
    gpibPresets.push_back(current);
    return Next(gpibAnswers);
}

DialogResult<IpAddressChoice> ScriptedOperator::AskIpAddress(const IpAddressChoice& preset) {
    ipPresets.push_back(preset);
    return Next(ipAnswers);
}

DialogResult<std::string> ScriptedOperator::AskOpenFile(const FileDialogRequest& request) {
    openFileRequests.push_back(request);
    return Next(openFileAnswers);
}

DialogResult<std::string> ScriptedOperator::AskSaveFile(const FileDialogRequest& request) {
    saveFileRequests.push_back(request);
    return Next(saveFileAnswers);
}

DialogResult<CurveHeaderEdit> ScriptedOperator::EditCurveHeader(const CurveHeaderEdit& header) {
    headerPresets.push_back(header);
    if (headerAnswers.empty()) return DialogResult<CurveHeaderEdit>::Cancelled();
    HeaderAnswer answer = std::move(headerAnswers.front());
    headerAnswers.pop_front();
    return answer(header);
}

DialogResult<UserCurveChoice> ScriptedOperator::ChooseUserCurve(const UserCurveChoice& choice) {
    userCurvePresets.push_back(choice);
    auto r = Next(userCurveAnswers);
    if (!r.Ok()) return {r.outcome, choice};
    UserCurveChoice chosen = choice;
    chosen.Select(r.value);
    return DialogResult<UserCurveChoice>::Accept(chosen);
}

DialogResult<int> ScriptedOperator::AskPidTableNumber(int preset) {
    pidTablePresets.push_back(preset);
    return Next(pidTableAnswers);
}

DialogResult<DataLogSetupModel> ScriptedOperator::AskLogSetup(const DataLogSetupModel& preset) {
    logSetupPresets.push_back(preset);
    if (logSetupAnswers.empty()) return {DialogOutcome::Cancel, preset};
    LogSetupAnswer answer = std::move(logSetupAnswers.front());
    logSetupAnswers.pop_front();
    return answer(preset);
}

DialogResult<std::string> ScriptedOperator::AskCalibrationPassword() {
    return Next(calibPasswordAnswers);
}

DialogResult<NewPasswordEntry> ScriptedOperator::AskNewCalibrationPassword() {
    ++newPasswordAsked;
    return Next(newPasswordAnswers);
}

DialogResult<ShareSettings> ScriptedOperator::AskShareSettings(const ShareSettings& preset) {
    sharePresets.push_back(preset);
    if (shareAnswers.empty()) return {DialogOutcome::Cancel, preset};
    ShareAnswer answer = std::move(shareAnswers.front());
    shareAnswers.pop_front();
    return answer(preset);
}

DialogOutcome ScriptedOperator::RunCalibrationDialog(CalibSession& session) {
    ++calibrationDialogsShown;
    return calibrationDialog ? calibrationDialog(session) : DialogOutcome::Ok;
}

std::vector<std::string> ScriptedOperator::MessageTexts() const {
    std::vector<std::string> out;
    for (const auto& m : messages) out.push_back(m.text);
    return out;
}

}  // namespace tavrix::test

#include <fcntl.h>
#include <poll.h>

#include <termios.h>
#include <unistd.h>
#include <cerrno>

namespace tavrix::test {

PtyInstrument::PtyInstrument(Responder responder, std::string terminator, int hangUpAfter)
    : responder_(std::move(responder)),
      terminator_(std::move(terminator)),
      hangUpAfter_(hangUpAfter) {
    // Close-on-exec throughout: a program under test started from here must not inherit the
    // instrument's end, or closing it would never look like a hang-up to that program.
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    grantpt(master_);
    unlockpt(master_);
    slavePath_ = ptsname(master_);
    // Keep a slave open so the master never sees a hang-up between the link's opens.
    slaveKeep_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    tcgetattr(slaveKeep_, &t);
    cfmakeraw(&t);
    tcsetattr(slaveKeep_, TCSANOW, &t);
    if (::pipe2(wake_, O_CLOEXEC) != 0) wake_[0] = wake_[1] = -1;
    thread_ = std::thread([this] { Run(); });
}

PtyInstrument::~PtyInstrument() {
    if (wake_[1] >= 0) (void)!::write(wake_[1], "x", 1);
    if (thread_.joinable()) thread_.join();
    for (int fd : {master_, slaveKeep_, wake_[0], wake_[1]})
        if (fd >= 0) ::close(fd);
}

void PtyInstrument::Run() {
    std::string line;
    for (;;) {
        pollfd fds[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        char buf[256];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        const auto now = std::chrono::steady_clock::now();
        for (ssize_t i = 0; i < n; ++i) {
            const char c = buf[i];
            {
                std::lock_guard lock(m_);
                received_.push_back(c);
                times_.push_back(now);
            }
            if (c != '\n') {
                line.push_back(c);
                continue;
            }
            if (line.empty()) continue;
            {
                std::lock_guard lock(m_);
                lines_.push_back(line);
                if (hangUpAfter_ >= 0 && lines_.size() >= static_cast<size_t>(hangUpAfter_)) {
                    // Both ends of this side go: the program's end sees a hang-up.
                    ::close(master_);
                    ::close(slaveKeep_);
                    master_ = slaveKeep_ = -1;
                    return;
                }
            }
            auto answer = responder_ ? responder_(line) : std::nullopt;
            line.clear();
            if (answer) Write(*answer + terminator_);
        }
    }
}

void PtyInstrument::Write(const std::string& bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + off, bytes.size() - off);
        if (n > 0) {
            off += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) break;
        // The program is not reading: wait for room, but give up when the test ends.
        pollfd fds[2] = {{master_, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(fds, 2, 1000) <= 0 || fds[1].revents) break;
    }
}

std::string PtyInstrument::Received() const {
    std::lock_guard lock(m_);
    return received_;
}

std::vector<std::string> PtyInstrument::Lines() const {
    std::lock_guard lock(m_);
    return lines_;
}

std::vector<std::chrono::steady_clock::time_point> PtyInstrument::ByteTimes() const {
    std::lock_guard lock(m_);
    return times_;
}

}  // namespace tavrix::test

namespace tavrix::test {

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> CrLfLines(const std::string& path) {
    const std::string text = Slurp(path);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t p; (p = text.find("\r\n", start)) != std::string::npos; start = p + 2)
        lines.push_back(text.substr(start, p - start));
    if (start != text.size()) lines.push_back("<unterminated>" + text.substr(start));
    return lines;
}

void StoreCurve(CInstrumentLink& link, int points) {
    link.Command("CALC 1");
    for (const char* header : {"Bench", "Diode", "1.000000", "Volts"}) link.Command(header);
    for (int i = 0; i < points; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "%f     %f", 0.1 + 0.01 * i, 300.0 - i);
        link.Command(line);
    }
    link.Command(";");
}

std::string OtherLocalAddress() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return {};
    std::string found;
    for (ifaddrs* i = list; i && found.empty(); i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        const auto* in = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
        if ((ntohl(in->sin_addr.s_addr) >> 24) == 127) continue;
        char text[INET_ADDRSTRLEN];
        ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        found = text;
    }
    ::freeifaddrs(list);
    return found;
}


int ConnectLoopback(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(0x7F000001u);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace tavrix::test
