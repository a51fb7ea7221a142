#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/LogSink.h"
#include "base/SyncPrimitives.h"
#include "link/CInstrumentLink.h"
#include "serve/ShareLines.h"

namespace tavrix {

// How a share listens and what it lets clients do.
struct ShareOptions {
    uint32_t address = 0x7F000001u;  // 127.0.0.1 (host byte order)
    int port = 0;                    // 0: any free port (see ShareServer::Port)
    // Clients allowed besides the loopback ones; required when listening beyond loopback.
    std::vector<share::Ipv4Net> allow;
    bool readOnly = false;      // relay only lines whose every command is a query
    bool acknowledge = false;   // answer every relayed command line with kAck
    std::string auditPath;      // every relayed or refused line, with time and client
    int maxClients = 8;
    std::chrono::seconds idleTimeout{1800};
    // A client's line waits at most this long for the instrument (logging and monitors hold
    // it for one batch at a time).
    std::chrono::milliseconds lockWait{3000};
    // Between two lines of a table a client sends into the instrument ("CALC n" ... ";").
    std::chrono::milliseconds tableLineWait{10000};
};

// The sharing port: other programs reach the instrument through the program that owns the
// link. Each client line is one exchange under SessionMutex, so it never splits a logging batch,
// a monitor poll or a table; a table a client sends into the instrument holds the lock from its
// first line to its ";".
//
// On the wire it speaks what the program's own LAN transport speaks: lines end in LF (a CR
// before it is dropped); a query gets one reply line, a table query its lines and the ";" line,
// a command nothing (or kAck with acknowledge on). A line that cannot be relayed gets one line
// beginning with kNak ("\x15share: " and the reason); a table query that fails gets that line
// and ";".
class ShareServer {
public:
    static constexpr size_t kMaxLine = CInstrumentLink::kMaxCommandLength;
    // Bytes without a line end after which a client is not speaking lines: it is disconnected.
    static constexpr size_t kMaxUnterminated = 4096;
    // A client's unread replies beyond this stop its further lines until it reads.
    static constexpr size_t kOutputHighWater = 64 * 1024;
    // A client that reads nothing of a pending reply for this long is disconnected.
    static constexpr std::chrono::seconds kStalledReader{60};
    // Lines a client may send into one table before the share ends it.
    static constexpr int kMaxTableInputLines = 300;
    static constexpr char kAck = '\x06';
    static constexpr char kNak = '\x15';

    struct Counters {
        uint64_t relayed = 0, refused = 0, failed = 0, connections = 0, rejectedConnections = 0;
    };

    ShareServer(CInstrumentLink& link, SessionMutex& mutex, LogSink& log);
    ~ShareServer();
    ShareServer(const ShareServer&) = delete;
    ShareServer& operator=(const ShareServer&) = delete;

    // Listens and starts serving; false with the reason in `error`.
    bool Start(const ShareOptions& options, std::string& error);
    void Stop();
    bool Running() const { return running_.load(); }
    int Port() const { return port_.load(); }
    // "ADDR:PORT" as clients reach it.
    std::string Address() const;
    int ClientCount() const { return clients_.load(); }
    Counters Count() const;

private:
    struct Impl;
    CInstrumentLink& link_;
    SessionMutex& mutex_;
    LogSink& log_;
    std::unique_ptr<Impl> impl_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<int> port_{0};
    std::atomic<int> clients_{0};
};

}  // namespace tavrix
