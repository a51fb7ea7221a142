#include "engine/SimModels.h"

namespace tavrix::sim {

namespace {
struct Row {
    int code, family, inputs, loops;
    const char* name;
    const char* version;
};

constexpr Row kRows[] = {
    {27, 2, 4, 3, "Model 3027", "1.31"}, {28, 2, 4, 4, "Model 3028", "2.04"},
    {29, 1, 8, 0, "Model 2918", "1.12"}, {30, 1, 4, 0, "Model 2914", "1.08"},
    {31, 1, 2, 0, "Model 2912", "1.05"}, {32, 2, 2, 4, "Model 3022", "3.01"},
};
}  // namespace

ModelInfo LookupModel(int code) {
    ModelInfo m;
    m.code = code;
    m.serial = 12300ul + static_cast<unsigned long>(code < 0 ? 0 : code % 100);
    for (const Row& r : kRows) {
        if (r.code == code) {
            m.family = r.family;
            m.inputs = r.inputs;
            m.loops = r.loops;
            m.name = r.name;
            m.version = r.version;
            return m;
        }
    }
    m.family = 0;
    m.inputs = 4;
    m.loops = 0;
    m.name = "Model X" + std::to_string(code);
    m.version = "0.90";
    return m;
}

}  // namespace tavrix::sim
