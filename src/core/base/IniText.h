#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tavrix {

// The text of an INI file, kept byte for byte. Values are read from "key=value" lines under
// "[section]" headers (names compared without regard to case, blanks around names and values
// ignored) and written in place; every other line — comments, lines this program does not
// understand, NUL bytes — stays exactly as it was. Lines after a header that has no closing
// "]" belong to no section: they are neither read nor changed.
class IniText {
public:
    explicit IniText(std::string text = {}) : text_(std::move(text)) {}

    // The first value of the key in any section of that name.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    // Replaces the first value of the key, else adds the key to the first section of that
    // name, else adds the section at the end.
    void Set(std::string_view section, std::string_view key, std::string_view value);

    const std::string& Text() const { return text_; }

private:
    struct Found {
        size_t valueBegin = std::string::npos, valueEnd = 0;  // the value, trimmed
        size_t sectionEnd = std::string::npos;                // where a new key of the section goes
        bool crlf = false;                                    // line end used by the section
    };
    Found Find(std::string_view section, std::string_view key) const;

    std::string text_;
};

}  // namespace tavrix
