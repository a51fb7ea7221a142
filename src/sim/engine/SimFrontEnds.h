#pragma once

#include <memory>
#include <string>

#include "engine/SimEngine.h"

namespace tavrix::sim {

// Serves the engine on a TCP port of the loopback or any interface. Lines arrive ending in LF
// (a CR before it is dropped); every reply line is sent ending in LF.
//
// With line acknowledgement on, every received line that is not a query is answered with one
// line: 0x06 when the instrument took it, 0x15 when it refused it (a bad table line, a line
// over 100 characters, the refuse fault). The program's LAN link reads these to report a
// refused line; the silent fault sends no acknowledgement either.
// The bounds of the TCP service: at most maxClients connections at once (one more is accepted
// and closed at once), a connection that sends nothing for idleSeconds is closed (0: never),
// and the simulator's own control lines ("SIM:FAULT ...", "SIM:APPLY ...") are taken only from
// clients on the loopback interface unless controlFromAnyHost is set; from anyone else they
// are refused.
struct TcpServiceLimits {
    int maxClients = 16;
    int idleSeconds = 3600;
    bool controlFromAnyHost = false;
};

class TcpFrontEnd {
public:
    // port 0 picks a free port. bindAny listens on every interface instead of 127.0.0.1.
    TcpFrontEnd(SimEngine& engine, int port, bool bindAny = false, TcpServiceLimits limits = {});
    ~TcpFrontEnd();  // stops the thread, closes every socket
    bool Ok() const;
    int Port() const;
    std::string Error() const;
    void SetLineAcknowledgement(bool on);
    // Connections closed at once because the cap was reached or descriptors ran out, and
    // connections closed for being idle, since the start.
    long RefusedConnections() const;
    long IdleClosedConnections() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Serves the engine on a pseudo-terminal: the program opens SlavePath() as its COM port.
// Lines arrive framed by LF (empty lines are ignored); every reply line ends in CR LF.
class PtyFrontEnd {
public:
    explicit PtyFrontEnd(SimEngine& engine);
    ~PtyFrontEnd();
    bool Ok() const;
    std::string SlavePath() const;
    std::string Error() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tavrix::sim
