#include "base/FileDialogRequest.h"

namespace tavrix {

std::vector<FileDialogRequest::FilterEntry> FileDialogRequest::FilterEntries() const {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t bar = filter.find('|', start);
        if (bar == std::string::npos) {
            if (start < filter.size()) parts.push_back(filter.substr(start));
            break;
        }
        parts.push_back(filter.substr(start, bar - start));
        start = bar + 1;
    }
    std::vector<FilterEntry> out;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].empty() && parts[i + 1].empty()) break;  // the closing "||"
        FilterEntry e;
        e.label = parts[i];
        const std::string& pats = parts[i + 1];
        size_t p = 0;
        while (p <= pats.size()) {
            size_t semi = pats.find(';', p);
            if (semi == std::string::npos) semi = pats.size();
            if (semi > p) e.patterns.push_back(pats.substr(p, semi - p));
            p = semi + 1;
        }
        out.push_back(std::move(e));
    }
    return out;
}

}  // namespace tavrix
