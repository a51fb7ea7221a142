#include "engine/SimParser.h"

#include <cctype>

namespace tavrix::sim {

namespace {

bool IsKeywordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '*' || c == '_';
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (IsBlank(s[b]) || s[b] == '\r' || s[b] == '\n')) ++b;
    while (e > b && (IsBlank(s[e - 1]) || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
    return std::string(s.substr(b, e - b));
}

std::string CanonicalKeyword(std::string_view word) {
    std::string k = Upper(word);
    struct Alias {
        const char* from;
        const char* to;
    };
    static constexpr Alias kAliases[] = {
        {"INPUT", "INP"},    {"INST", "INST"},     {"INSTRUMENT", "INST"}, {"NENTRY", "NENT"},
        {"UNITS", "UNIT"},   {"OUTPUT", "OUTP"},   {"SETPOINT", "SETPT"},  {"SYSTEM", "SYST"},
        {"DATALOG", "DLOG"}, {"PIDTABLE", "PIDT"}, {"SENSOR", "ISENIX"},   {"PASSWORD", "PSWD"},
        {"SENIX", "ISENIX"}, {"CALCURVE", "CALC"}, {"STAT", "STATE"},      {"COUN", "COUNT"},
    };
    for (const Alias& a : kAliases) {
        if (k == a.from) return a.to;
    }
    return k;
}

bool IsRootNode(const std::string& k) {
    return k == "INP" || k == "LOOP" || k == "INST" || k == "PIDT" || k == "SENSORIX" ||
           k == "DLOG" || k == "SYST" || k == "SIM" || k == "CALC" || (!k.empty() && k[0] == '*');
}

bool IsQueryLine(std::string_view line) {
    size_t q = line.find('?');
    return q != std::string_view::npos && q != 0;
}

std::vector<SimCommand> ParseLine(std::string_view line) {
    std::vector<SimCommand> out;
    std::vector<SimNode> current;  // node the next ";"-separated command continues at
    size_t start = 0;
    while (start <= line.size()) {
        size_t end = line.find(';', start);
        if (end == std::string_view::npos) end = line.size();
        std::string seg = Trim(line.substr(start, end - start));
        start = end + 1;
        if (seg.empty()) continue;

        std::vector<SimNode> path = current;
        size_t pos = 0;
        if (seg[0] == ':') {
            path.clear();
            pos = 1;
        }
        bool first = true;
        const size_t n = seg.size();
        while (pos < n) {
            while (pos < n && IsBlank(seg[pos])) ++pos;
            size_t kb = pos;
            while (pos < n && IsKeywordChar(seg[pos])) ++pos;
            if (pos == kb) break;  // stray character: the rest of the segment means nothing
            std::string key = CanonicalKeyword(std::string_view(seg).substr(kb, pos - kb));
            if (first && IsRootNode(key)) path.clear();
            first = false;

            if (pos >= n) {
                out.push_back({path, key, false, false, {}});
                break;
            }
            char c = seg[pos];
            if (c == '?') {
                ++pos;
                if (pos < n && IsBlank(seg[pos])) {
                    out.push_back({path, key, true, true, Trim(seg.substr(pos))});
                    break;
                }
                out.push_back({path, key, true, false, {}});
                if (pos < n && seg[pos] == ':') ++pos;
                continue;  // another query may follow at once
            }
            if (c == ':') {
                path.push_back({key, {}});
                ++pos;
                continue;
            }
            if (IsBlank(c)) {
                if (IsRootNode(key) && key[0] != '*') {
                    size_t colon = seg.find(':', pos);
                    if (colon != std::string::npos) {
                        path.push_back({key, Trim(seg.substr(pos, colon - pos))});
                        pos = colon + 1;
                        continue;
                    }
                }
                out.push_back({path, key, false, true, Trim(seg.substr(pos))});
                break;
            }
            out.push_back({path, key, false, false, {}});
            break;
        }
        if (!out.empty()) current = out.back().path;
        if (end == line.size()) break;
    }
    return out;
}

}  // namespace tavrix::sim
