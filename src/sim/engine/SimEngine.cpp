#include "engine/SimEngine.h"

#include <cstdlib>
#include <mutex>

#include "engine/SimParser.h"
#include "engine/SimState.h"

namespace tavrix::sim {

struct SimEngine::State : InstrumentState {
    State(SimOptions o, SimFaults& f) : InstrumentState(o, f) {}
    mutable std::mutex mutex;
};

namespace {

constexpr size_t kMaxLine = 100;
// A simulator left running for days keeps only the recent lines.
constexpr size_t kMaxRecorded = 200000;

// "SIM:FAULT <name> <value>", "SIM:FAULT CLEAR", "SIM:APPLY <channel> <value>".
void SimControl(const std::string& line, SimFaults& f, InstrumentState& st) {
    std::vector<SimCommand> cmds = ParseLine(line);
    for (const SimCommand& c : cmds) {
        if (c.path.size() != 1 || c.path[0].keyword != "SIM") continue;
        std::string arg = Trim(c.arg);
        size_t sp = arg.find_first_of(" \t");
        std::string name = Upper(arg.substr(0, sp));
        std::string value = sp == std::string::npos ? "" : Trim(arg.substr(sp));
        long v = std::strtol(value.c_str(), nullptr, 10);
        if (c.keyword == "FAULT") {
            if (name == "CLEAR") {
                f.silent = false;
                f.delayMs = 0;
                f.trickleMs = 0;
                f.garbage = false;
                f.dropTableAfter = -1;
                f.refuseLines = false;
                f.refuseCommands = false;
                f.refuseTableLines = false;
                f.noisy = false;
            } else if (name == "SILENT") {
                f.silent = v != 0;
            } else if (name == "DELAY") {
                f.delayMs = static_cast<int>(v < 0 ? 0 : v);
            } else if (name == "TRICKLE") {
                f.trickleMs = static_cast<int>(v < 0 ? 0 : v);
            } else if (name == "GARBAGE") {
                f.garbage = v != 0;
            } else if (name == "DROPTABLE") {
                f.dropTableAfter = static_cast<int>(value.empty() ? -1 : v);
            } else if (name == "REFUSE") {
                f.refuseLines = v != 0;
            } else if (name == "NOISY") {
                f.noisy = v != 0;
            } else if (name == "REFUSECMD") {
                f.refuseCommands = v != 0;
            } else if (name == "REFUSETABLE") {
                f.refuseTableLines = v != 0;
            }
        } else if (c.keyword == "APPLY" && name.size() == 1) {
            st.ApplyStandard(name[0] - 'A', std::strtod(value.c_str(), nullptr));
        }
    }
}

bool IsSimControl(const std::string& trimmed) {
    return trimmed.size() >= 4 && Upper(trimmed.substr(0, 4)) == "SIM:";
}

}  // namespace

SimEngine::SimEngine(SimOptions options) : state_(std::make_unique<State>(options, faults_)) {}

SimEngine::~SimEngine() = default;

bool SimEngine::IsControlLine(std::string_view line) {
    return line.size() <= kMaxLine && IsSimControl(Trim(line));
}

int SimEngine::ModelCode() const {
    return state_->Model().code;
}

std::vector<std::string> SimEngine::ReceivedLines() const {
    std::lock_guard lock(state_->mutex);
    return state_->received;
}

void SimEngine::ClearReceivedLines() {
    std::lock_guard lock(state_->mutex);
    state_->received.clear();
}

std::string SimEngine::RandomBytes(size_t count) {
    std::lock_guard lock(state_->mutex);
    return state_->RandomBytes(count);
}

bool SimEngine::InInputMode() const {
    std::lock_guard lock(state_->mutex);
    return state_->InInputMode();
}

SimResponse SimEngine::Execute(std::string_view line) {
    std::lock_guard lock(state_->mutex);
    InstrumentState& st = *state_;
    SimResponse resp;
    if (st.received.size() >= kMaxRecorded) {
        st.received.erase(st.received.begin(), st.received.begin() + kMaxRecorded / 2);
    }
    st.received.emplace_back(line);
    if (line.size() > kMaxLine) {
        resp.refused = true;
        return resp;
    }
    std::string text = Trim(line);
    if (text.empty()) return resp;
    if (IsSimControl(text)) {
        SimControl(text, faults_, st);
        return resp;
    }
    if (faults_.refuseLines || (faults_.refuseCommands && !IsQueryLine(text))) {
        resp.refused = true;
        return resp;
    }
    st.AdvanceSeconds(1);
    if (st.InInputMode()) {
        if (faults_.refuseTableLines && text != ";") {
            resp.refused = true;
            return resp;
        }
        resp.refused = !st.InputLine(text);
        return resp;
    }

    std::vector<std::string> replies;
    bool table = false;
    std::vector<std::string> tableLines;
    for (const SimCommand& c : ParseLine(text)) {
        CommandResult r = st.Dispatch(c);
        if (r.hasReply) replies.push_back(std::move(r.reply));
        if (r.isTable && !table) {
            table = true;
            tableLines = std::move(r.table);
        }
        if (r.beginsInput) break;  // whatever follows on the line is not data
    }
    if (table) {
        resp.isTable = true;
        resp.lines = std::move(tableLines);
        resp.lines.emplace_back(";");
        return resp;
    }
    if (IsQueryLine(text)) {
        std::string joined;
        for (size_t i = 0; i < replies.size(); ++i) {
            if (i) joined += ';';
            joined += replies[i];
        }
        resp.lines.push_back(std::move(joined));
    }
    return resp;
}

}  // namespace tavrix::sim
