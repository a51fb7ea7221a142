#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tavrix::sim {

// One node of a command path, e.g. "INP A" or "DLOG" (keyword upper-cased, synonyms folded).
struct SimNode {
    std::string keyword;
    std::string arg;
};

// One command of a line: the node path it lives under, its keyword, whether it asks ("?"), and
// the text after the blank that follows the keyword (or the "?").
struct SimCommand {
    std::vector<SimNode> path;
    std::string keyword;
    bool query = false;
    bool hasArg = false;
    std::string arg;
};

// Upper-cases and folds long forms onto one name ("INPUT" -> "INP", "NENTRY" -> "NENT", ...).
std::string CanonicalKeyword(std::string_view word);

// True for keywords that open a node from the root wherever they appear.
bool IsRootNode(const std::string& canonical);

// Splits a line into commands. ";" separates commands, a command after ";" continues at the
// node of the previous one, a leading ":" starts from the root, and queries may follow each
// other without a separator ("HTRR?NAME?").
std::vector<SimCommand> ParseLine(std::string_view line);

// A line is a query when it holds "?" and the first one is not its first character.
bool IsQueryLine(std::string_view line);

std::string Trim(std::string_view s);
std::string Upper(std::string_view s);

}  // namespace tavrix::sim
