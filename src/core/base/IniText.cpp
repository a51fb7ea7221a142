#include "base/IniText.h"

#include <cctype>

namespace tavrix {

namespace {

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool Blank(char c) {
    return c == ' ' || c == '\t';
}

// [b, e) without blanks at either end.
void Trim(std::string_view s, size_t& b, size_t& e) {
    while (b < e && Blank(s[b])) ++b;
    while (e > b && Blank(s[e - 1])) --e;
}

}  // namespace

IniText::Found IniText::Find(std::string_view section, std::string_view key) const {
    const std::string_view t = text_;
    Found f;
    // 1: in a section of that name, 0: in another one, -1: after a broken header.
    int inSection = 0;
    bool sectionSeen = false, inFirst = false;
    for (size_t pos = 0; pos < t.size();) {
        size_t lf = t.find('\n', pos);
        const size_t next = lf == std::string_view::npos ? t.size() : lf + 1;
        size_t end = lf == std::string_view::npos ? t.size() : lf;
        const bool crlf = end > pos && t[end - 1] == '\r';
        if (crlf) --end;
        size_t b = pos, e = end;
        Trim(t, b, e);
        if (b < e && t[b] == '[') {
            const size_t close = t.find(']', b);
            inFirst = false;
            if (close == std::string_view::npos || close >= e) {
                inSection = -1;
            } else {
                size_t nb = b + 1, ne = close;
                Trim(t, nb, ne);
                const bool match = SameName(t.substr(nb, ne - nb), section);
                inSection = match ? 1 : 0;
                if (match && !sectionSeen) {
                    sectionSeen = inFirst = true;
                    f.sectionEnd = next;
                    f.crlf = crlf;
                }
            }
        } else if (inSection == 1 && b < e && t[b] != ';' && t[b] != '#') {
            const size_t eq = t.find('=', b);
            if (eq != std::string_view::npos && eq < e) {
                size_t kb = b, ke = eq;
                Trim(t, kb, ke);
                if (SameName(t.substr(kb, ke - kb), key)) {
                    size_t vb = eq + 1, ve = e;
                    Trim(t, vb, ve);
                    f.valueBegin = vb;
                    f.valueEnd = ve;
                    return f;
                }
                // A new key of the first such section goes after its last key line.
                if (inFirst) f.sectionEnd = next;
            }
        }
        pos = next;
    }
    return f;
}

std::optional<std::string> IniText::Get(std::string_view section, std::string_view key) const {
    const Found f = Find(section, key);
    if (f.valueBegin == std::string::npos) return std::nullopt;
    return text_.substr(f.valueBegin, f.valueEnd - f.valueBegin);
}

void IniText::Set(std::string_view section, std::string_view key, std::string_view value) {
    const Found f = Find(section, key);
    if (f.valueBegin != std::string::npos) {
        text_.replace(f.valueBegin, f.valueEnd - f.valueBegin, value);
        return;
    }
    const std::string line = std::string(key) + "=" + std::string(value);
    if (f.sectionEnd != std::string::npos) {
        std::string add = line + (f.crlf ? "\r\n" : "\n");
        // A section that ends the file without a line end gets one first; after a CR only the
        // LF is missing (a second CR would become part of that line's value).
        if (f.sectionEnd == text_.size() && !text_.empty() && text_.back() != '\n')
            add.insert(0, text_.back() == '\r' ? "\n" : (f.crlf ? "\r\n" : "\n"));
        text_.insert(f.sectionEnd, add);
        return;
    }
    if (!text_.empty() && text_.back() != '\n') text_ += '\n';
    text_ += "[" + std::string(section) + "]\n" + line + "\n";
}

}  // namespace tavrix
