// The .pid file check and the PID table download, against the simulated controller in this
// process (over GPIB). A file the check passes must go out whole, each line as it stands in
// the file; a file it refuses must not reach the instrument at all.

#include "FuzzSupport.h"
#include "curves/CurveTexts.h"
#include "engine/SimEngine.h"

using namespace tavrix;
using fuzz::Check;

namespace {

// The lines a download of a checked file sends: the table command, the title, every entry
// line (blank and one- or two-character lines after the title are skipped), ";", and the
// query of the table's entry count.
std::vector<std::string> ExpectedLines(std::string_view file, int table) {
    std::vector<std::string> out = {"*IDN?", "PIDT " + std::to_string(table) + ":table"};
    bool title = true, ended = false;
    fuzz::ForEachLine(file, [&](std::string_view raw) {
        if (ended) return;
        std::string line(raw);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == ';') {
            ended = true;
            return;
        }
        if (!title && line.size() < 3) return;
        title = false;
        out.push_back(line);
    });
    out.push_back(";");
    out.push_back("PIDT " + std::to_string(table) + ":NENT?");  // the count read back
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::WriteScratchFile("table.pid", fuzz::Text(data, size));
    const PidFileCheck check = CheckPidFile(path);
    Check(check.status != PidFileCheck::kOk ||
              (check.entries >= 1 && check.entries <= kPidMaxEntries),
          "a checked table with an entry count out of range");
    Check((check.status == PidFileCheck::kUnsendable) == (check.fault != nullptr),
          "a refusal without its reason");

    constexpr int kTable = 3;
    fuzz::GpibLinkBench b;
    b.op.openFileAnswers.push_back(DialogResult<std::string>::Accept(path));
    b.op.pidTableAnswers.push_back(DialogResult<int>::Accept(kTable));
    DownloadPidTable(b.ctx);

    const std::vector<std::string> received = fuzz::SimGpib::Get().Engine().ReceivedLines();
    const std::vector<std::string> texts = b.op.MessageTexts();
    const bool complete =
        std::find(texts.begin(), texts.end(), curve_texts::kDownloadComplete) != texts.end();
    if (check.status != PidFileCheck::kOk) {
        Check(!complete, "a refused file reported as downloaded");
        Check(received.empty(), "a refused file that reached the instrument");
        return 0;
    }
    Check(complete, "a checked file not downloaded");
    Check(received == ExpectedLines(fuzz::Text(data, size), kTable),
          "a download that did not send the file's lines as they stand");
    return 0;
}
