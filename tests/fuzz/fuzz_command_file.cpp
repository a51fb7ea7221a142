// The XML command-file reader and runner, against the simulated controller in this process
// (over GPIB; the runner's pauses return at once). Whatever the file holds, the run ends, and
// every line that reaches the instrument is one line within the link's length.

#include <cctype>

#include "FuzzSupport.h"
#include "consoles/CommandFileRunner.h"
#include "engine/SimEngine.h"

using namespace tavrix;
using fuzz::Check;

namespace {
// "SIM:" lines switch the simulator's faults (silence, delays): they are no part of a
// controller's language, and would only make runs slow.
bool HoldsSimulatorControl(std::string_view text) {
    for (size_t i = 0; i + 4 <= text.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) == 'S' &&
            std::toupper(static_cast<unsigned char>(text[i + 1])) == 'I' &&
            std::toupper(static_cast<unsigned char>(text[i + 2])) == 'M' && text[i + 3] == ':')
            return true;
    return false;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text = fuzz::Text(data, size);
    if (HoldsSimulatorControl(text)) return -1;
    const std::string path = fuzz::WriteScratchFile("commands.xml", text);

    fuzz::GpibLinkBench b;
    CommandFileOptions options;
    options.errorLogPath = fuzz::ScratchFolder() + "/ErrorLog.txt";
    b.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(path));
    const CommandFileRun run = RunCommandFile(b.ctx, options);

    Check(run.outcome == CommandFileRun::Outcome::Completed ||
              run.outcome == CommandFileRun::Outcome::Aborted,
          "a run that neither completed nor aborted");
    Check(!run.errorLogIncomplete, "an error log that lost records");
    for (const std::string& line : fuzz::SimGpib::Get().Engine().ReceivedLines()) {
        Check(line.find_first_of("\r\n") == std::string::npos,
              "a line break inside a line sent to the instrument");
        Check(line.size() <= CInstrumentLink::kMaxCommandLength,
              "a line longer than the link sends");
    }
    return 0;
}
