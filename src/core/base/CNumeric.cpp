#include "base/CNumeric.h"

#include <locale.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace tavrix {

namespace {

// The "C" locale, made once and kept for the whole run.
locale_t CLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return c;
}

// Switches the calling thread to the "C" locale for a scope.
class CLocaleScope {
public:
    CLocaleScope() : previous_(CLocale() ? uselocale(CLocale()) : static_cast<locale_t>(0)) {}
    ~CLocaleScope() {
        if (previous_) uselocale(previous_);
    }
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    locale_t previous_;
};

}  // namespace

std::string FormatC(const char* format, ...) {
    CLocaleScope scope;
    char small[128];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    std::string out;
    if (n < 0) {
        va_end(again);
        return out;
    }
    if (static_cast<size_t>(n) < sizeof small) {
        out.assign(small, static_cast<size_t>(n));
    } else {
        std::vector<char> big(static_cast<size_t>(n) + 1);
        std::vsnprintf(big.data(), big.size(), format, again);
        out.assign(big.data(), static_cast<size_t>(n));
    }
    va_end(again);
    return out;
}

int ScanC(const char* text, const char* format, ...) {
    CLocaleScope scope;
    va_list args;
    va_start(args, format);
    const int n = std::vsscanf(text, format, args);
    va_end(args);
    return n;
}

bool ParseNumberField(const std::string& text, double& out) {
    // The blanks of the "C" locale's isspace, which is what scanf skips.
    static constexpr const char* kBlanks = " \t\n\v\f\r";
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) return false;
    const size_t last = text.find_last_not_of(kBlanks);
    const std::string core = text.substr(first, last - first + 1);
    double v = 0.0;
    int used = 0;
    // An embedded NUL is not part of the number: the count then falls short of the text.
    if (ScanC(core.c_str(), "%lf%n", &v, &used) != 1 || static_cast<size_t>(used) != core.size() ||
        !std::isfinite(v))
        return false;
    out = v;
    return true;
}

}  // namespace tavrix
