// libgpib-sim.so: a GPIB driver library with the linux-gpib calls, whose only device is the
// simulated controller, run in-process.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/SimEngine.h"

#define GPIB_SIM_EXPORT extern "C" __attribute__((visibility("default")))

extern "C" {
__attribute__((visibility("default"))) volatile int ibsta = 0;
__attribute__((visibility("default"))) volatile int iberr = 0;
__attribute__((visibility("default"))) volatile int ibcnt = 0;
__attribute__((visibility("default"))) volatile long ibcntl = 0;
}

namespace {

using Clock = std::chrono::steady_clock;
using tavrix::sim::SimEngine;

constexpr int ERR = 0x8000;
constexpr int TIMO = 0x4000;
constexpr int END = 0x2000;
constexpr int CMPL = 0x0100;

constexpr int EDVR = 0;   // bad descriptor
constexpr int ENOL = 2;   // no listener at the address
constexpr int EARG = 4;   // bad argument
constexpr int EABO = 6;   // read timed out
constexpr int EBUS = 14;  // bus error: the talker went away mid-transfer

// linux-gpib time-out codes T10us..T1000s in milliseconds (0 means wait for ever).
constexpr long kTimeoutMs[] = {0,   1,   1,    1,    1,     1,     3,      10,     30,
                               100, 300, 1000, 3000, 10000, 30000, 100000, 300000, 1000000};

struct Message {
    std::string bytes;
    bool busError = false;  // reading it fails: the rest of the table never comes
};

struct Device {
    int pad = 0;
    long timeoutMs = 1000;
};

struct Bus {
    std::mutex mutex;
    std::unique_ptr<SimEngine> engine;
    int address = 12;
    bool zeroDescriptor = false;
    long timeoutOverrideMs = -1;
    bool eoi = true;  // END with the last byte of each reply, as the instrument does
    int model = 28;
    uint32_t seed = 1;
    std::map<int, Device> devices;
    int nextUd = 1;
    std::deque<Message> queue;
    size_t offset = 0;        // bytes of the front message already read
    Clock::time_point due{};  // when the queued reply may be read (the delay fault)
    long trickleMs = 0;       // then one byte every so often (the trickle fault)
    long sent = 0;            // bytes of the queued reply handed out so far
    std::map<std::string, long> calls;

    Bus() { Defaults(); }

    void Defaults() {
        address = EnvInt("TAVRIX_SIM_GPIB_ADDRESS", 12);
        model = EnvInt("TAVRIX_SIM_MODEL", 28);
        seed = static_cast<uint32_t>(EnvInt("TAVRIX_SIM_SEED", 1));
        zeroDescriptor = false;
        // Test suites that do not measure time-outs may shorten the device's own.
        timeoutOverrideMs = EnvInt("TAVRIX_SIM_GPIB_TIMEOUT_MS", -1);
        eoi = true;
    }

    static int EnvInt(const char* name, int fallback) {
        const char* v = std::getenv(name);
        if (!v || !*v) return fallback;
        char* end = nullptr;
        long n = std::strtol(v, &end, 10);
        return *end == '\0' ? static_cast<int>(n) : fallback;
    }

    SimEngine& Engine() {
        if (!engine) {
            tavrix::sim::SimOptions o;
            o.modelCode = model;
            o.seed = seed;
            engine = std::make_unique<SimEngine>(o);
        }
        return *engine;
    }

    void Drop() {
        queue.clear();
        offset = 0;
        sent = 0;
    }

    // When the next unread byte of the reply is there to be read.
    Clock::time_point NextByteAt() const {
        return due + std::chrono::milliseconds(trickleMs * sent);
    }
};

Bus& TheBus() {
    static Bus bus;
    return bus;
}

int Status(int sta, int err, long count) {
    ibsta = sta;
    iberr = err;
    ibcnt = static_cast<int>(count);
    ibcntl = count;
    return sta;
}

// The device behind a descriptor, or an error status already set.
Device* Find(Bus& bus, int ud) {
    auto it = bus.devices.find(ud);
    if (it == bus.devices.end()) {
        Status(ERR, EDVR, 0);
        return nullptr;
    }
    if (it->second.pad != bus.address) {
        Status(ERR, ENOL, 0);
        return nullptr;
    }
    return &it->second;
}

}  // namespace

GPIB_SIM_EXPORT int ibdev(int board_index, int pad, int sad, int timo, int send_eoi, int eosmode) {
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mutex);
    ++bus.calls["ibdev"];
    if (board_index != 0 || pad < 0 || pad > 30 || timo < 0 || timo > 17) {
        Status(ERR, EARG, 0);
        return -1;
    }
    bus.Engine();
    int ud = bus.zeroDescriptor ? 0 : bus.nextUd++;
    bus.devices[ud] = Device{pad, kTimeoutMs[timo]};
    Status(CMPL, 0, 0);
    return ud;
}

GPIB_SIM_EXPORT int ibclr(int ud) {
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mutex);
    ++bus.calls["ibclr"];
    if (!Find(bus, ud)) return ibsta;
    bus.Drop();  // a device clear empties the output buffer
    return Status(CMPL, 0, 0);
}

GPIB_SIM_EXPORT int ibonl(int ud, int onl) {
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mutex);
    ++bus.calls["ibonl"];
    auto it = bus.devices.find(ud);
    if (it == bus.devices.end()) return Status(ERR, EDVR, 0);
    if (onl == 0) {
        bus.devices.erase(it);
        bus.Drop();
    }
    return Status(CMPL, 0, 0);
}

GPIB_SIM_EXPORT int ibwrt(int ud, const void* buf, long count) {
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mutex);
    ++bus.calls["ibwrt"];
    if (!Find(bus, ud)) return ibsta;
    if (!buf || count < 0) return Status(ERR, EARG, 0);
    SimEngine& engine = bus.Engine();
    tavrix::sim::SimResponse r =
        engine.Execute(std::string_view(static_cast<const char*>(buf), static_cast<size_t>(count)));
    bus.Drop();  // a new command discards an unread reply
    tavrix::sim::SimFaults& f = engine.Faults();
    if (!r.refused && !r.lines.empty() && !f.silent) {
        if (f.garbage) {
            bus.queue.push_back({engine.RandomBytes(32), false});
        } else {
            const int dropAfter = f.dropTableAfter;
            for (size_t i = 0; i < r.lines.size(); ++i) {
                if (r.isTable && dropAfter >= 0 && static_cast<int>(i) >= dropAfter) {
                    bus.queue.push_back({{}, true});
                    break;
                }
                bus.queue.push_back({r.lines[i], false});
            }
        }
        bus.due = Clock::now() + std::chrono::milliseconds(f.delayMs.load());
        bus.trickleMs = f.trickleMs.load();
    }
    return Status(CMPL, 0, count);
}

GPIB_SIM_EXPORT int ibrd(int ud, void* buf, long count) {
    Bus& bus = TheBus();
    std::unique_lock lock(bus.mutex);
    ++bus.calls["ibrd"];
    Device* dev = Find(bus, ud);
    if (!dev) return ibsta;
    if (!buf || count < 0) return Status(ERR, EARG, 0);

    long limit = bus.timeoutOverrideMs >= 0 ? bus.timeoutOverrideMs : dev->timeoutMs;
    const auto deadline =
        limit > 0 ? Clock::now() + std::chrono::milliseconds(limit) : Clock::time_point::max();
    // Like a real read: up to `count` bytes or the end of the message, whatever has arrived
    // when the time-out ends is handed out with TIMO.
    size_t n = 0;
    for (;;) {
        if (bus.queue.empty()) {
            // Nothing to read: as on a real bus, the read ends only when the time-out has
            // passed, which is what a reply that ends by time-out costs.
            if (Clock::now() >= deadline) return Status(ERR | TIMO, EABO, static_cast<long>(n));
            lock.unlock();
            std::this_thread::sleep_until(deadline);
            lock.lock();
            if (!Find(bus, ud)) return ibsta;
            continue;
        }
        Message& m = bus.queue.front();
        if (m.busError) {
            bus.Drop();
            return Status(ERR, EBUS, 0);
        }
        while (bus.offset < m.bytes.size() && n < static_cast<size_t>(count) &&
               Clock::now() >= bus.NextByteAt()) {
            static_cast<char*>(buf)[n++] = m.bytes[bus.offset++];
            ++bus.sent;
            if (bus.trickleMs <= 0) {
                // No trickle: the rest of the message is there at once.
                const size_t more =
                    std::min(m.bytes.size() - bus.offset, static_cast<size_t>(count) - n);
                std::memcpy(static_cast<char*>(buf) + n, m.bytes.data() + bus.offset, more);
                n += more;
                bus.offset += more;
                bus.sent += static_cast<long>(more);
            }
        }
        if (bus.offset >= m.bytes.size() && Clock::now() >= bus.NextByteAt()) {
            bus.queue.pop_front();
            bus.offset = 0;
            return Status(bus.eoi ? CMPL | END : CMPL, 0, static_cast<long>(n));
        }
        if (n >= static_cast<size_t>(count)) return Status(CMPL, 0, static_cast<long>(n));
        const auto wakeAt = std::min(bus.NextByteAt(), deadline);
        if (Clock::now() >= deadline) return Status(ERR | TIMO, EABO, static_cast<long>(n));
        lock.unlock();
        std::this_thread::sleep_until(wakeAt);
        lock.lock();
        if (!Find(bus, ud)) return ibsta;
    }
}

GPIB_SIM_EXPORT void* tavrix_gpib_sim_engine(void) {
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mutex);
    return &bus.Engine();
}

// Knobs for tests: "address", "zero_descriptor", "timeout_ms" (negative: the device's own),
// "eoi" (0: a device that never asserts EOI),
// "model" and "seed" (a fresh engine), "reset" (everything back to its start state).
GPIB_SIM_EXPORT void tavrix_gpib_sim_set(const char* name, long value) {
    if (!name) return;
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mutex);
    const std::string k = name;
    if (k == "address") {
        bus.address = static_cast<int>(value);
    } else if (k == "zero_descriptor") {
        bus.zeroDescriptor = value != 0;
    } else if (k == "timeout_ms") {
        bus.timeoutOverrideMs = value;
    } else if (k == "eoi") {
        bus.eoi = value != 0;
    } else if (k == "model" || k == "seed") {
        if (k == "model") bus.model = static_cast<int>(value);
        if (k == "seed") bus.seed = static_cast<uint32_t>(value);
        bus.engine.reset();
        bus.Drop();
    } else if (k == "reset") {
        bus.Defaults();
        bus.engine.reset();
        bus.devices.clear();
        bus.nextUd = 1;
        bus.Drop();
        bus.calls.clear();
        Status(0, 0, 0);
    }
}

GPIB_SIM_EXPORT long tavrix_gpib_sim_calls(const char* function) {
    if (!function) return 0;
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mutex);
    auto it = bus.calls.find(function);
    return it == bus.calls.end() ? 0 : it->second;
}
