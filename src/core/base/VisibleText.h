#pragma once

#include <string>
#include <string_view>

namespace tavrix {

// Text that came from the instrument or from a file, made safe to show: every control
// character (0x00-0x1F, 0x7F and the 8-bit controls 0x80-0x9F) becomes "\xHH" with two
// lower-case hex digits, so a reply can never move the cursor, retitle or clear a terminal,
// or split a line of a log. Everything else, Latin-1 letters (0xA0-0xFF) and the backslash
// included, is kept as it is.
std::string VisibleText(std::string_view text);

// The same for a message of several lines: line ends (LF, CR LF) and tabs stay as they are.
std::string VisibleLines(std::string_view text);

// True when VisibleText would change the text.
bool HasControlCharacter(std::string_view text);

}  // namespace tavrix
