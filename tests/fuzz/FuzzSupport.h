#pragma once

// What the fuzz targets share: the check that stops a run on a broken rule, a scratch folder
// for the files the readers open, and the simulated controller behind the GPIB driver library,
// run in this process, as the instrument of the commands that talk to one.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "TestSupport.h"
#include "base/SettingsStore.h"
#include "base/ShortcutBar.h"
#include "base/SyncPrimitives.h"
#include "curves/CurveCommands.h"
#include "link/CInstrumentLink.h"
#include "link/FeatureManager.h"

namespace tavrix::sim {
class SimEngine;
}

namespace tavrix::fuzz {

// Aborts with `what` when `ok` is false: libFuzzer and the replay test both report it as a
// crash, with the input that caused it.
void Check(bool ok, const char* what);

inline std::string_view Text(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// A folder of this process for the files of one input, removed at exit; in /dev/shm when
// possible, so that an input costs no disk write.
const std::string& ScratchFolder();
// Writes the bytes to `name` in the scratch folder and returns its path.
std::string WriteScratchFile(const std::string& name, std::string_view bytes);
// The whole file; `ok` (when given) tells whether it could be opened.
std::string ReadWholeFile(const std::string& path, bool* ok = nullptr);

// Splits the input at LF; a last piece without LF counts as a line too.
template <typename Each>
void ForEachLine(std::string_view text, Each each) {
    size_t start = 0;
    while (start < text.size()) {
        size_t lf = text.find('\n', start);
        if (lf == std::string_view::npos) lf = text.size();
        each(text.substr(start, lf - start));
        start = lf + 1;
    }
}

// The simulated controller of libgpib-sim.so, loaded once for the process. A read that finds
// no reply ends after 1 ms instead of the device's second.
class SimGpib {
public:
    static SimGpib& Get();
    // Everything back to the start state: a fresh controller, no device open.
    void Reset();
    sim::SimEngine& Engine();

private:
    SimGpib();
    void* handle_ = nullptr;
    void (*set_)(const char*, long) = nullptr;
    void* (*engine_)() = nullptr;
};

// The view's objects around a link whose GPIB device is that simulated controller, reset for
// each bench. Waits of the commands (ctx.sleep) return at once.
struct GpibLinkBench {
    GpibLinkBench();
    bool simReady;
    SettingsStore settings;
    test::ScriptedOperator op;
    test::CollectingLog log;
    CInstrumentLink link{op, settings};
    SessionMutex mutex;
    ShortcutBarModel bar;
    FeatureManager features{&bar};
    CurveContext ctx{{link, mutex, features, bar, op, log}, op};
};

}  // namespace tavrix::fuzz
