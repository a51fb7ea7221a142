#pragma once

#include <string>

namespace tavrix::sim {

// What the simulator pretends to be for one model code.
struct ModelInfo {
    int code = 0;
    int family = 0;  // 1 monitor, 2 controller, 0 unknown
    int inputs = 4;
    int loops = 0;
    std::string name;     // "Model ..." text of the identity reply
    std::string version;  // firmware version, last field of the identity reply
    unsigned long serial = 0;
};

// The row of a known code (27..32); any other code gets a generic controller-less row that
// still names itself as a model, so the identity reply always parses.
ModelInfo LookupModel(int code);

}  // namespace tavrix::sim
