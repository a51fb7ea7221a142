// The number fields of every dialog read their text back the same way.
#include <gtest/gtest.h>

#include <string>

#include "base/CNumeric.h"

using namespace tavrix;

TEST(NumberField, TakesOneFiniteNumberWithBlanksAroundAndNothingElse) {
    struct Case {
        std::string text;
        bool ok;
        double value;
    } cases[] = {
        {"1", true, 1.0},
        {" \t-2.5e3\r\n", true, -2500.0},
        {"+.5", true, 0.5},
        {"1.", true, 1.0},
        {"1e-400", true, 0.0},  // underflows to zero: still a number
        {"", false, 0},
        {" \v\f ", false, 0},
        {"1x", false, 0},
        {"1 2", false, 0},
        {"1,5", false, 0},  // a decimal comma is not the C conventions' point
        {"-", false, 0},
        {"nan", false, 0},
        {"-inf", false, 0},
        {"infinity", false, 0},
        {"1e400", false, 0},                 // overflows
        {std::string("1\0x", 3), false, 0},  // the text goes on past a NUL
    };
    for (const Case& c : cases) {
        double out = -7.0;
        EXPECT_EQ(ParseNumberField(c.text, out), c.ok) << c.text;
        EXPECT_EQ(out, c.ok ? c.value : -7.0) << c.text;
    }
}
