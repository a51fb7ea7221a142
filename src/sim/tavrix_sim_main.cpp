// tavrix-sim: the simulated temperature controller on TCP and/or a pseudo-terminal.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "engine/SimEngine.h"
#include "engine/SimFrontEnds.h"

namespace {

constexpr int kDefaultTcpPort = 5000;

void Usage(FILE* out) {
    std::fprintf(out,
                 "Usage: tavrix-sim [options]\n"
                 "  --model CODE          model code to simulate (27..32; others answer as an\n"
                 "                        unknown model), default 28\n"
                 "  --inputs N            N inputs (1..8) instead of the model's own\n"
                 "  --loops N             N loops (1..4) instead of the model's own (a bench\n"
                 "                        instrument: --inputs 8 --loops 4 has every source)\n"
                 "  --tcp PORT            listen on TCP PORT of 127.0.0.1 (0 picks a free port)\n"
                 "  --any                 listen on every interface instead of 127.0.0.1\n"
                 "  --pty                 serve a pseudo-terminal\n"
                 "                        (neither --tcp nor --pty: TCP %d and a pseudo-terminal)\n"
                 "  --seed N              seed of the simulated noise, default 1\n"
                 "  --silent              never answer\n"
                 "  --delay MS            wait MS before each reply (and acknowledgement)\n"
                 "  --trickle MS          wait MS between the bytes of each reply\n"
                 "  --garbage             answer with random bytes\n"
                 "  --drop-table-after N  cut tables after N lines\n"
                 "  --refuse              refuse every command line\n"
                 "  --noisy               input readings never settle (calibration captures\n"
                 "                        then run to their tick limit)\n"
                 "  --ack                 TCP: answer each command line with 0x06 (taken) or\n"
                 "                        0x15 (refused) so that a client can see refusals\n"
                 "  --max-clients N       TCP: at most N connections at once (1..1000, default\n"
                 "                        %d); one more is accepted and closed at once\n"
                 "  --idle-timeout S      TCP: close a connection that sends nothing for S\n"
                 "                        seconds (0: never; default %d)\n"
                 "  --control-from-any    TCP: take the simulator's control lines (SIM:FAULT,\n"
                 "                        SIM:APPLY) from any client, not only from 127.0.0.1\n"
                 "  --help                show this text\n"
                 "The first lines printed say where it listens: \"tcp: <port>\" and "
                 "\"pty: <path>\".\n"
                 "Runs until SIGINT or SIGTERM.\n",
                 kDefaultTcpPort, tavrix::sim::TcpServiceLimits{}.maxClients,
                 tavrix::sim::TcpServiceLimits{}.idleSeconds);
}

bool ToLong(const char* text, long low, long high, long& out) {
    if (!text || !*text) return false;
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (*end != '\0' || v < low || v > high) return false;
    out = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    tavrix::sim::SimOptions options;
    long tcpPort = -1;
    bool pty = false, bindAny = false;
    bool silent = false, garbage = false, refuse = false, ack = false, noisy = false;
    long delay = 0, trickle = 0, dropAfter = -1;
    tavrix::sim::TcpServiceLimits limits;

    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        long v = 0;
        auto needNumber = [&](long low, long high) {
            if (!ToLong(next, low, high, v)) {
                std::fprintf(stderr, "tavrix-sim: %s needs a number from %ld to %ld\n", a.c_str(),
                             low, high);
                std::exit(2);
            }
            ++i;
            return v;
        };
        if (a == "--help" || a == "-h") {
            Usage(stdout);
            return 0;
        } else if (a == "--model") {
            options.modelCode = static_cast<int>(needNumber(0, 999));
        } else if (a == "--inputs") {
            options.inputs = static_cast<int>(needNumber(1, 8));
        } else if (a == "--loops") {
            options.loops = static_cast<int>(needNumber(1, 4));
        } else if (a == "--tcp") {
            tcpPort = needNumber(0, 65535);
        } else if (a == "--pty") {
            pty = true;
        } else if (a == "--any") {
            bindAny = true;
        } else if (a == "--seed") {
            options.seed = static_cast<uint32_t>(needNumber(0, 4294967295L));
        } else if (a == "--silent") {
            silent = true;
        } else if (a == "--delay") {
            delay = needNumber(0, 600000);
        } else if (a == "--trickle") {
            trickle = needNumber(0, 60000);
        } else if (a == "--garbage") {
            garbage = true;
        } else if (a == "--drop-table-after") {
            dropAfter = needNumber(0, 1000000);
        } else if (a == "--refuse") {
            refuse = true;
        } else if (a == "--noisy") {
            noisy = true;
        } else if (a == "--ack") {
            ack = true;
        } else if (a == "--max-clients") {
            limits.maxClients = static_cast<int>(needNumber(1, 1000));
        } else if (a == "--idle-timeout") {
            limits.idleSeconds = static_cast<int>(needNumber(0, 1000000));
        } else if (a == "--control-from-any") {
            limits.controlFromAnyHost = true;
        } else {
            std::fprintf(stderr, "tavrix-sim: unknown option %s (try --help)\n", a.c_str());
            return 2;
        }
    }
    if (tcpPort < 0 && !pty) {
        tcpPort = kDefaultTcpPort;
        pty = true;
    }

    // Block the stop signals before any thread starts, so that only sigwait below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    tavrix::sim::SimEngine engine(options);
    tavrix::sim::SimFaults& f = engine.Faults();
    f.silent = silent;
    f.delayMs = static_cast<int>(delay);
    f.trickleMs = static_cast<int>(trickle);
    f.garbage = garbage;
    f.dropTableAfter = static_cast<int>(dropAfter);
    f.refuseLines = refuse;
    f.noisy = noisy;

    std::unique_ptr<tavrix::sim::TcpFrontEnd> tcp;
    std::unique_ptr<tavrix::sim::PtyFrontEnd> term;
    if (tcpPort >= 0) {
        tcp = std::make_unique<tavrix::sim::TcpFrontEnd>(engine, static_cast<int>(tcpPort), bindAny,
                                                         limits);
        tcp->SetLineAcknowledgement(ack);
        if (!tcp->Ok()) {
            std::fprintf(stderr, "tavrix-sim: %s\n", tcp->Error().c_str());
            return 1;
        }
        std::printf("tcp: %d\n", tcp->Port());
        std::fflush(stdout);
    }
    if (pty) {
        term = std::make_unique<tavrix::sim::PtyFrontEnd>(engine);
        if (!term->Ok()) {
            std::fprintf(stderr, "tavrix-sim: %s\n", term->Error().c_str());
            return 1;
        }
        std::printf("pty: %s\n", term->SlavePath().c_str());
        std::fflush(stdout);
    }
    std::printf("model %d ready\n", engine.ModelCode());
    std::fflush(stdout);

    int sig = 0;
    sigwait(&stopSignals, &sig);
    term.reset();
    tcp.reset();
    return 0;
}
