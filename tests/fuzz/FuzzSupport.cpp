#include "FuzzSupport.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/SimEngine.h"

namespace tavrix::fuzz {

namespace fs = std::filesystem;

void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

namespace {
struct Scratch {
    Scratch() {
        std::error_code ec;
        const bool shm = ::access("/dev/shm", W_OK) == 0;
        std::string tmpl =
            ((shm ? fs::path("/dev/shm") : fs::temp_directory_path(ec)) / "tavrix-fuzz-XXXXXX")
                .string();
        const char* made = ::mkdtemp(tmpl.data());
        Check(made != nullptr, "cannot create the scratch folder");
        path = made;
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string path;
};
}  // namespace

const std::string& ScratchFolder() {
    static Scratch scratch;
    return scratch.path;
}

std::string WriteScratchFile(const std::string& name, std::string_view bytes) {
    const std::string path = ScratchFolder() + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    Check(f != nullptr, "cannot create a scratch file");
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    Check(std::fclose(f) == 0 && written, "cannot write a scratch file");
    return path;
}

std::string ReadWholeFile(const std::string& path, bool* ok) {
    std::ifstream in(path, std::ios::binary);
    if (ok) *ok = in.is_open();
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

SimGpib::SimGpib() {
    // Before any link is made: the link chooses its driver library when it is constructed.
    ::setenv("TAVRIX_GPIB_LIBRARY", TAVRIX_GPIB_SIM_PATH, 1);
    ::setenv("TAVRIX_SIM_GPIB_TIMEOUT_MS", "1", 1);
    // Kept loaded for the whole run: the links' own loads and unloads only count references.
    handle_ = ::dlopen(TAVRIX_GPIB_SIM_PATH, RTLD_NOW | RTLD_LOCAL);
    Check(handle_ != nullptr, "cannot load the simulated GPIB driver");
    set_ = reinterpret_cast<void (*)(const char*, long)>(::dlsym(handle_, "tavrix_gpib_sim_set"));
    engine_ = reinterpret_cast<void* (*)()>(::dlsym(handle_, "tavrix_gpib_sim_engine"));
    Check(set_ != nullptr && engine_ != nullptr, "the simulated GPIB driver lacks its hooks");
}

SimGpib& SimGpib::Get() {
    static SimGpib sim;
    return sim;
}

void SimGpib::Reset() {
    set_("reset", 0);
}

sim::SimEngine& SimGpib::Engine() {
    return *static_cast<sim::SimEngine*>(engine_());
}

GpibLinkBench::GpibLinkBench()
    : simReady((SimGpib::Get().Reset(), true)), settings(ScratchFolder() + "/settings") {
    link.SetPortType(kPortGpib);
    // The simulated device marks the end of each reply: no read has to time out.
    link.SetGpibEndOnEoi(true);
    ctx.sleep = [](std::chrono::milliseconds) {};
}

}  // namespace tavrix::fuzz
