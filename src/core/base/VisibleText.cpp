#include "base/VisibleText.h"

namespace tavrix {

namespace {

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0);
}

std::string Escape(std::string_view text, bool keepLineBreaks) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        const auto c = static_cast<unsigned char>(ch);
        const bool lineEnd = c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n');
        if (!IsControl(c) || (keepLineBreaks && (lineEnd || c == '\t'))) {
            out.push_back(ch);
            continue;
        }
        out += "\\x";
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 0x0F]);
    }
    return out;
}

}  // namespace

std::string VisibleText(std::string_view text) {
    return Escape(text, false);
}

std::string VisibleLines(std::string_view text) {
    return Escape(text, true);
}

bool HasControlCharacter(std::string_view text) {
    for (const char ch : text)
        if (IsControl(static_cast<unsigned char>(ch))) return true;
    return false;
}

}  // namespace tavrix
