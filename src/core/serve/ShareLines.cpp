#include "serve/ShareLines.h"

#include <arpa/inet.h>

#include <cctype>
#include <charconv>
#include <vector>

namespace tavrix::share {

namespace {

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> Split(std::string_view s, char sep) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = s.find(sep, start);
        parts.push_back(s.substr(start, at == std::string_view::npos ? s.npos : at - start));
        if (at == std::string_view::npos) return parts;
        start = at + 1;
    }
}

// The command of one ";"-piece: what follows its last ":" (paths before it are nodes).
std::string_view CommandOf(std::string_view piece) {
    piece = Trim(piece);
    const size_t colon = piece.rfind(':');
    return Trim(colon == std::string_view::npos ? piece : piece.substr(colon + 1));
}

bool IsQueryCommand(std::string_view command) {
    const size_t q = command.find('?');
    if (q == std::string_view::npos || q == 0) return false;
    // Queries jammed together ("HTRR?NAME?") hold no blank between their question marks.
    const size_t last = command.rfind('?');
    if (command.substr(0, last).find(' ') != std::string_view::npos) return false;
    const std::string_view rest = command.substr(last + 1);
    return rest.empty() || rest.front() == ' ' || rest.front() == '\t';
}

// The keyword of a command, without its argument or "?".
std::string Keyword(std::string_view command) {
    size_t end = 0;
    while (end < command.size() && (std::isalnum(static_cast<unsigned char>(command[end])) ||
                                    command[end] == '*'))
        ++end;
    return Upper(command.substr(0, end));
}

bool ParseInt(std::string_view s, int& out) {
    s = Trim(s);
    const auto r = std::from_chars(s.data(), s.data() + s.size(), out);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

}  // namespace

bool IsQueryOnly(std::string_view line) {
    bool any = false;
    for (std::string_view piece : Split(line, ';')) {
        if (Trim(piece).empty()) continue;
        if (!IsQueryCommand(CommandOf(piece))) return false;
        any = true;
    }
    return any;
}

bool TouchesCalibration(std::string_view line) {
    const std::string up = Upper(line);
    if (up.find("PSWD") != std::string::npos) return true;
    // Calibration lives under the "INST" node; reading its values is harmless, changing the
    // mode, a type, a gain or offset, or saving them is the calibration dialog's alone.
    if (up.find("INST") == std::string::npos) return false;
    for (std::string_view piece : Split(up, ';')) {
        const std::string_view command = CommandOf(piece);
        if (command.empty() || IsQueryCommand(command)) continue;
        const std::string k = Keyword(command);
        if (k == "MODE" || k == "GAIN" || k == "OFFSET" || k == "SAVE" || k == "TYPE") return true;
    }
    return up.find("MODE ON") != std::string::npos;
}

TableQuery TableQueryOf(std::string_view line) {
    const std::string up = Upper(Trim(line));
    if (up.rfind("CALC?", 0) == 0) return TableQuery::Curve;
    if (up == "DLOG:READ?") return TableQuery::DataLog;
    if (up.rfind("PIDT", 0) == 0) {
        const size_t colon = up.find(':');
        if (colon != std::string::npos && Trim(std::string_view(up).substr(colon + 1)) == "TABLE?")
            return TableQuery::PidTable;
    }
    return TableQuery::None;
}

int ExpectedTableLines(TableQuery kind) {
    switch (kind) {
        case TableQuery::Curve:
            return 205;  // 200 points and the header lines
        case TableQuery::PidTable:
            return 17;
        case TableQuery::DataLog:
            return 100000;
        case TableQuery::None:
            break;
    }
    return 0;
}

bool StartsTableInput(std::string_view line) {
    const std::string up = Upper(Trim(line));
    int n = 0;
    if (up.rfind("CALC ", 0) == 0) return ParseInt(std::string_view(up).substr(5), n);
    if (up.rfind("PIDT ", 0) == 0) {
        const size_t colon = up.find(':');
        return colon != std::string::npos &&
               ParseInt(std::string_view(up).substr(5, colon - 5), n) &&
               Trim(std::string_view(up).substr(colon + 1)) == "TABLE";
    }
    return false;
}

bool EndsTableInput(std::string_view line) {
    return Trim(line) == ";";
}

bool ParseIpv4(std::string_view text, uint32_t& out) {
    const std::string s(Trim(text));
    in_addr a{};
    if (s.empty() || ::inet_pton(AF_INET, s.c_str(), &a) != 1) return false;
    out = ntohl(a.s_addr);
    return true;
}

std::string Ipv4Text(uint32_t address) {
    in_addr a{};
    a.s_addr = htonl(address);
    char buf[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, buf, sizeof buf);
    return buf;
}

bool ParseIpv4Net(std::string_view text, Ipv4Net& out) {
    text = Trim(text);
    const size_t slash = text.find('/');
    int bits = 32;
    if (slash != std::string_view::npos &&
        (!ParseInt(text.substr(slash + 1), bits) || bits < 0 || bits > 32))
        return false;
    uint32_t a = 0;
    if (!ParseIpv4(text.substr(0, slash), a)) return false;
    out.mask = bits == 0 ? 0 : 0xFFFFFFFFu << (32 - bits);
    out.address = a & out.mask;
    return true;
}

bool ParseListenAddress(std::string_view text, uint32_t& address, int& port, std::string& error) {
    text = Trim(text);
    const size_t colon = text.rfind(':');
    const std::string_view portText = colon == std::string_view::npos ? text : text.substr(colon + 1);
    if (colon != std::string_view::npos && !ParseIpv4(text.substr(0, colon), address)) {
        error = "\"" + std::string(text.substr(0, colon)) + "\" is not an IPv4 address";
        return false;
    }
    if (!ParseInt(portText, port) || port < 0 || port > 65535) {
        error = "\"" + std::string(portText) + "\" is not a TCP port (0..65535)";
        return false;
    }
    return true;
}

}  // namespace tavrix::share
