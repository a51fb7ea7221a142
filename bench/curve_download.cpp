// A 200-point curve download against the simulated controller, in the same run as its floor:
// over LAN loopback against the same lines sent through a raw socket, and over the
// pseudo-terminal against the pacing floor (paced lines x 100 ms).
//
//   curve_download [--points N] [--skip-pty]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "base/OperatorInterface.h"
#include "base/SettingsStore.h"
#include "curves/CurveCommands.h"
#include "curves/CurveDialogs.h"
#include "engine/SimEngine.h"
#include "engine/SimFrontEnds.h"
#include "link/CInstrumentLink.h"
#include "link/LinkCommands.h"
#include "link/LinkDialogs.h"

using namespace tavrix;
using Clock = std::chrono::steady_clock;

namespace {

// Answers the download's dialogs: the curve file, the header as it is, user curve 1.
class BenchOperator : public LinkDialogs, public CurveDialogs {
public:
    explicit BenchOperator(std::string file) : file_(std::move(file)) {}
    void ShowMessage(const std::string& text, MessageIcon) override { last = text; }
    bool AskYesNo(const std::string&, MessageIcon) override { return false; }
    std::unique_ptr<ProgressWindow> OpenProgress() override {
        return std::make_unique<SilentProgress>();
    }
    void PumpMessages() override {}
    DialogResult<SerialSetupChoice> AskSerialSetup(const SerialSetupChoice&) override { return {}; }
    DialogResult<int> AskPortType(int) override { return {}; }
    DialogResult<int> AskGpibAddress(int) override { return {}; }
    DialogResult<IpAddressChoice> AskIpAddress(const IpAddressChoice&) override { return {}; }
    DialogResult<std::string> AskOpenFile(const FileDialogRequest&) override {
        return DialogResult<std::string>::Accept(file_);
    }
    DialogResult<std::string> AskSaveFile(const FileDialogRequest&) override {
        return DialogResult<std::string>::Failed();
    }
    DialogResult<CurveHeaderEdit> EditCurveHeader(const CurveHeaderEdit& h) override {
        return DialogResult<CurveHeaderEdit>::Accept(h);
    }
    DialogResult<UserCurveChoice> ChooseUserCurve(const UserCurveChoice& c) override {
        return DialogResult<UserCurveChoice>::Accept(c);
    }
    DialogResult<int> AskPidTableNumber(int) override { return DialogResult<int>::Failed(); }
    std::string last;

private:
    std::string file_;
};

class NullLog : public LogSink {
public:
    void Append(const std::string&) override {}
};

std::string WriteCurve(const std::string& dir, int points) {
    SensorCurve c;
    c.sensorName = "Bench";
    c.sensorType = "Diode";
    c.unitText = "Volts";
    for (int i = 0; i < points; ++i)
        c.AddPoint(
            {0.1f + 0.005f * static_cast<float>(i), 400.0f - static_cast<float>(i), {}, false});
    const std::string path = dir + "/bench.crv";
    c.WriteCrvFile(path);
    return path;
}

bool ReadLine(int fd, std::string& line) {
    line.clear();
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 3000) <= 0) return false;
        char c;
        if (recv(fd, &c, 1, 0) != 1) return false;
        if (c == '\n') return true;
        line.push_back(c);
    }
}

// The same lines through a bare socket: each line written, its one answer line read.
double RawSocketSeconds(int port, const std::vector<std::string>& lines) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return -1;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const auto start = Clock::now();
    std::string reply;
    for (const std::string& l : lines) {
        const std::string out = l + "\r\n";
        if (send(fd, out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size()))
            return -1;
        if (!ReadLine(fd, reply)) return -1;
    }
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    close(fd);
    return s;
}

struct Run {
    double seconds = 0;
    std::vector<std::string> lines;
    std::string outcome;
};

Run Download(int portType, int points, const std::string& dir) {
    sim::SimEngine engine(sim::SimOptions{28, 1});
    sim::TcpFrontEnd tcp(engine, 0);
    sim::PtyFrontEnd pty(engine);
    tcp.SetLineAcknowledgement(true);
    SettingsStore settings(dir);
    BenchOperator op(WriteCurve(dir, points));
    NullLog log;
    CInstrumentLink link(op, settings);
    link.SetSerialDeviceOverride(pty.SlavePath());
    link.StartUp();
    link.SetPortType(portType);
    if (portType == kPortLan) {
        link.Lan().SetLineAcknowledgement(true);
        link.IpAddr() = MyIPAddr(0x7F000001u, static_cast<unsigned long>(tcp.Port()));
        link.LanConnect();
    }
    SessionMutex mutex;
    ShortcutBarModel bar;
    FeatureManager features(&bar);
    CurveContext ctx{{link, mutex, features, bar, op, log}, op};
    engine.ClearReceivedLines();
    const auto start = Clock::now();
    DownloadCurve(ctx);
    Run r;
    r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    r.lines = engine.ReceivedLines();
    r.outcome = op.last;
    if (portType == kPortLan) {
        engine.ClearReceivedLines();
        const double raw = RawSocketSeconds(tcp.Port(), r.lines);
        std::printf("LAN loopback: %zu lines, program %.4f s, raw socket %.4f s (%s)\n",
                    r.lines.size(), r.seconds, raw, r.outcome.c_str());
        bench::Figure("curve download over LAN", r.seconds, "s", "raw socket, same lines", raw);
    }
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    int points = 200;
    bool skipPty = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--points") && i + 1 < argc) points = std::atoi(argv[++i]);
        if (!std::strcmp(argv[i], "--skip-pty")) skipPty = true;
    }
    char tmpl[] = "/tmp/curve-bench-XXXXXX";
    const char* dir = mkdtemp(tmpl);
    if (!dir) return 1;

    Download(kPortLan, points, dir);
    if (!skipPty) {
        const Run r = Download(kPortRs232, points, dir);
        // Paced: the four header lines, the points and "CALC n" (the ";" and queries are not).
        const int paced = points + 5;
        const double floor = paced * CInstrumentLink::kPacingMs / 1000.0;
        std::printf("RS232 pty: %d paced lines, program %.3f s, pacing floor %.3f s (%s)\n", paced,
                    r.seconds, floor, r.outcome.c_str());
        bench::Figure("curve download over RS232 (pty)", r.seconds, "s", "serial pacing floor",
                      floor);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
