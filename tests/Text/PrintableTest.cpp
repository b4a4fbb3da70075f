// How a name from outside is shown: escaped so that it can neither act on a terminal or a label
// nor pass for another name.

#include "Text/Printable.h"

#include "support/OutsideNames.h"

#include <gtest/gtest.h>

TEST(Printable, ControlsBrokenUtf8AndMarksThatMoveTextAreWrittenOutAndNothingElse)
{
    const std::pair<std::string, std::string> cases[] = {
        // Printable text stays as it is, however far from ASCII.
        { "Été 2 ♪ 日本語 Ελληνικά.mid", "Été 2 ♪ 日本語 Ελληνικά.mid" },
        { testsupport::HostileName, testsupport::HostileShown },
        // Among others a C1 byte alone, as an 8-bit terminal reads it, and a byte never in UTF-8.
        { testsupport::LongName, testsupport::LongShown },
        { "\b\v\f\x01\x1f", "\\b\\v\\f\\x01\\x1F" },
        { "\xc2\x80\xc2\x9b[2J\xc2\x9f",
            "\\xC2\\x80\\xC2\\x9B[2J\\xC2\\x9F" }, // C1 as UTF-8 reads it
        { "caf\\xE9.mid", "caf\\\\xE9.mid" }, // the text of an escape is not the escape
        { "\xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80", // overlong, surrogate, past U+10FFFF
            "\\xC0\\xAF \\xED\\xA0\\x80 \\xF4\\x90\\x80\\x80" },
        { "cut \xe2\x82", "cut \\xE2\\x82" }, // a character cut off by the end
        { "\xe2\x80\xaegpj.mid", "\\u202Egpj.mid" },
        { "one\xe2\x80\xa8two", "one\\u2028two" },
    };
    for (const auto& [bytes, shown] : cases)
        EXPECT_EQ(text::printable(bytes), shown);
    EXPECT_EQ(text::quoted("USB\nSynth"), "\"USB\\nSynth\"");
}
