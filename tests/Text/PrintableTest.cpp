// How a name from outside is shown: escaped so that it can neither act on a terminal or a label
// nor pass for another name, and cut in the middle where room is short.

#include "Text/Printable.h"

#include "support/OutsideNames.h"

#include <gtest/gtest.h>

namespace {

TEST(Printable, ControlsBrokenUtf8AndMarksThatMoveTextAreWrittenOutAndNothingElse)
{
    const std::pair<std::string, std::string> cases[] = {
        { "Été 2 ♪ 日本語 Ελληνικά.mid", "Été 2 ♪ 日本語 Ελληνικά.mid" },
        { testsupport::HostileName, testsupport::HostileShown },
        // Among others a C1 byte alone, as an 8-bit terminal reads it, and a byte never in UTF-8.
        { testsupport::LongName, testsupport::LongShown },
        { "\b\v\f\x01\x1f", "\\b\\v\\f\\x01\\x1F" },
        { "\xc2\x80\xc2\x9b[2J\xc2\x9f",
            "\\xC2\\x80\\xC2\\x9B[2J\\xC2\\x9F" }, // C1 as UTF-8 reads it
        { "\xc2\xa0\xc2\xbf", "\xc2\xa0\xc2\xbf" }, // just past C1: printable
        { "caf\xe9.mid", "caf\\xE9.mid" },
        { "caf\\xE9.mid", "caf\\\\xE9.mid" }, // the text of an escape is not the escape
        { "\xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80", // overlong, surrogate, past U+10FFFF
            "\\xC0\\xAF \\xED\\xA0\\x80 \\xF4\\x90\\x80\\x80" },
        { "cut \xe2\x82", "cut \\xE2\\x82" },
        { "\xe2\x80\xaegpj.mid", "\\u202Egpj.mid" },
        { "one\xe2\x80\xa8two", "one\\u2028two" },
    };
    for (const auto& [bytes, shown] : cases)
        EXPECT_EQ(text::printable(bytes), shown);
    EXPECT_EQ(text::quoted("USB\nSynth"), "\"USB\\nSynth\"");
}

TEST(CutInTheMiddle, KeepsBothEndsWithinTheSizeAndSplitsNoCharacter)
{
    const std::string longName = std::string(200, 'x') + "-end.mid";
    const std::tuple<std::string, std::size_t, std::string> cases[] = {
        { "short.mid", 9, "short.mid" },
        { "abcdefghij", 7, "ab…ij" },
        { "abcdefghij", 8, "abc…ij" },
        { "éééééé", 8, "é…é" }, // 12 bytes; each é is two
        { "éééééé", 10, "éé…é" },
        { "abcdefghij", 3, "…" },
        { "abcdefghij", 2, "" },
        { longName, 20, "xxxxxxxxx…-end.mid" },
    };
    for (const auto& [shown, size, cut] : cases)
        EXPECT_EQ(text::cutInTheMiddle(shown, size), cut) << shown << " in " << size;
}

} // namespace
