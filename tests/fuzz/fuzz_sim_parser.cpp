// The simulated controller's command parser and engine: the input is what arrives on its line
// (the first byte picks the model). Lines are cut as the simulator's front ends cut them, each
// is parsed and executed, and each answer must keep to the line framing of the language.

#include "FuzzSupport.h"
#include "engine/FrontEndIo.h"
#include "engine/SimEngine.h"
#include "engine/SimParser.h"

using namespace tavrix;
using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    sim::SimOptions options;
    options.modelCode = 26 + data[0] % 8;  // 27..32 and two unknown codes
    sim::SimEngine engine(options);

    std::string buffer(fuzz::Text(data + 1, size - 1));
    std::string line;
    while (sim::TakeLine(buffer, line)) {
        for (const sim::SimCommand& c : sim::ParseLine(line))
            Check(!c.keyword.empty(), "a command without a keyword");

        const std::string trimmed = sim::Trim(line);
        const bool control = sim::Upper(trimmed.substr(0, 4)) == "SIM:";
        const bool dataLine = engine.InInputMode();
        const sim::SimResponse r = engine.Execute(line);
        for (const std::string& l : r.lines)
            Check(l.find('\n') == std::string::npos, "an answer line holding a line end");
        if (r.isTable) {
            Check(!r.lines.empty() && r.lines.back() == ";", "a table without its \";\" line");
            for (size_t i = 0; i + 1 < r.lines.size(); ++i)
                Check(r.lines[i].find(';') == std::string::npos,
                      "a table line holding \";\": the table would end there");
        } else if (!r.refused && !control && !dataLine && sim::IsQueryLine(trimmed)) {
            Check(r.lines.size() == 1, "a query not answered with exactly one line");
        }
    }
    return 0;
}
