#include "base/VisibleText.h"

#include <gtest/gtest.h>

namespace tavrix {
namespace {

TEST(VisibleText, ControlCharactersBecomeVisibleAndOrdinaryTextStays) {
    struct Case {
        std::string in, text, lines;
    };
    const Case cases[] = {
        {"23.456", "23.456", "23.456"},
        {"\x1b]0;owned\x07", "\\x1b]0;owned\\x07", "\\x1b]0;owned\\x07"},
        {std::string("a\r\n\tb\0c", 7), "a\\x0d\\x0a\\x09b\\x00c", "a\r\n\tb\\x00c"},
        {"\x7f\x9b"
         "2J\x80",
         "\\x7f\\x9b"
         "2J\\x80",
         "\\x7f\\x9b"
         "2J\\x80"},
        // Latin-1 letters and signs, a backslash and the bytes of UTF-8 text are kept.
        {"Pt\xe9 \xb0K \\x1b \xc3\xa9", "Pt\xe9 \xb0K \\x1b \xc3\xa9",
         "Pt\xe9 \xb0K \\x1b \xc3\xa9"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VisibleText(c.in), c.text);
        EXPECT_EQ(VisibleLines(c.in), c.lines);
        EXPECT_EQ(HasControlCharacter(c.in), c.in != c.text);
    }
}

}  // namespace
}  // namespace tavrix
