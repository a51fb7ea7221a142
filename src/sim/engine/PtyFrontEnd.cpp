#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <thread>

#include "engine/FrontEndIo.h"
#include "engine/SimFrontEnds.h"

namespace tavrix::sim {

struct PtyFrontEnd::Impl {
    SimEngine& engine;
    StopSignal stop;
    UniqueFd master;
    // Held open for the whole run: without it the master sees a hang-up each time the program
    // closes the port, and bytes written meanwhile would be lost.
    UniqueFd slave;
    std::string slavePath;
    std::string error;
    std::thread worker;

    explicit Impl(SimEngine& e) : engine(e) {}

    void Serve() {
        std::string pending;
        char buf[1024];
        for (;;) {
            WaitResult w = WaitFd(master.Get(), POLLIN, stop, -1);
            if (w == WaitResult::Stop || w == WaitResult::Error) return;
            ssize_t n = ::read(master.Get(), buf, sizeof buf);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) {
                // EIO while no slave is open; wait a little rather than spin.
                if (!PauseMs(20, stop)) return;
                continue;
            }
            pending.append(buf, static_cast<size_t>(n));
            std::string line;
            while (TakeLine(pending, line)) {
                if (line.empty()) continue;  // the program frames each line with LF before it
                SimResponse r = engine.Execute(line);
                // A serial line cannot be dropped: a cut table just stops.
                if (SendResponse(master.Get(), r, engine, "\r\n", stop, false) ==
                    SendOutcome::Failed) {
                    if (stop.Signalled()) return;
                }
            }
            if (pending.size() > 64 * 1024) pending.clear();
        }
    }
};

PtyFrontEnd::PtyFrontEnd(SimEngine& engine) : impl_(std::make_unique<Impl>(engine)) {
    Impl& im = *impl_;
    UniqueFd m(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!m.Valid() || ::grantpt(m.Get()) != 0 || ::unlockpt(m.Get()) != 0) {
        im.error = std::string("cannot create a pseudo-terminal: ") + strerror(errno);
        return;
    }
    char name[128];
    if (::ptsname_r(m.Get(), name, sizeof name) != 0) {
        im.error = std::string("ptsname: ") + strerror(errno);
        return;
    }
    UniqueFd s(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!s.Valid()) {
        im.error = std::string("cannot open ") + name + ": " + strerror(errno);
        return;
    }
    termios tio{};
    if (::tcgetattr(s.Get(), &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(s.Get(), TCSANOW, &tio);
    }
    ::fcntl(m.Get(), F_SETFL, ::fcntl(m.Get(), F_GETFL) | O_NONBLOCK);
    im.master = std::move(m);
    im.slave = std::move(s);
    im.slavePath = name;
    if (!im.stop.Ok()) {
        im.error = "cannot create a pipe";
        im.master.Reset();
        return;
    }
    im.worker = std::thread([&im] { im.Serve(); });
}

PtyFrontEnd::~PtyFrontEnd() {
    impl_->stop.Signal();
    if (impl_->worker.joinable()) impl_->worker.join();
}

bool PtyFrontEnd::Ok() const {
    return impl_->master.Valid();
}
std::string PtyFrontEnd::SlavePath() const {
    return impl_->slavePath;
}
std::string PtyFrontEnd::Error() const {
    return impl_->error;
}

}  // namespace tavrix::sim
