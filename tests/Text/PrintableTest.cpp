// How a name from outside is shown: escaped so that it can neither act on a terminal or a label
// nor pass for another name, and cut in the middle where room is short.

#include "Text/Printable.h"

#include <gtest/gtest.h>
#include <random>

namespace {

// The bytes an escaped name stands for: the inverse a person applies when reading it.
std::string unescaped(const std::string& shown)
{
    static const std::string Letters = "abtnvfre";
    static const std::string Controls = "\a\b\t\n\v\f\r\x1b";
    std::string bytes;
    for (std::size_t at = 0; at < shown.size(); ++at) {
        if (shown[at] != '\\') {
            bytes += shown[at];
            continue;
        }
        const char kind = shown.at(++at);
        if (kind == 'x' || kind == 'u') {
            const std::size_t digits = kind == 'x' ? 2 : 4;
            const auto code = std::stoul(shown.substr(at + 1, digits), nullptr, 16);
            at += digits;
            if (kind == 'x')
                bytes += static_cast<char>(code);
            else // the marks that move text, all U+0800 and above: three bytes of UTF-8
                bytes += { static_cast<char>(0xE0 | code >> 12),
                    static_cast<char>(0x80 | (code >> 6 & 0x3F)),
                    static_cast<char>(0x80 | (code & 0x3F)) };
        } else {
            const std::size_t letter = Letters.find(kind);
            bytes += letter == std::string::npos ? kind : Controls[letter];
        }
    }
    return bytes;
}

TEST(Printable, ControlsBrokenUtf8AndMarksThatMoveTextAreWrittenOutAndNothingElse)
{
    const std::pair<std::string, std::string> cases[] = {
        { "Été 2 ♪ 日本語 Ελληνικά.mid", "Été 2 ♪ 日本語 Ελληνικά.mid" },
        { "a\033]0;PWNED\007\033[31mred\033[0m\nFAKE: Complete Update.mid",
            "a\\e]0;PWNED\\a\\e[31mred\\e[0m\\nFAKE: Complete Update.mid" },
        { "\t\r\b\v\f\x01\x1f\x7f", "\\t\\r\\b\\v\\f\\x01\\x1F\\x7F" },
        { "\x9b"
          "2J",
            "\\x9B2J" }, // a C1 byte alone, as an 8-bit terminal reads it
        { "\xc2\x9b"
          "2J",
            "\\xC2\\x9B2J" }, // the same control as UTF-8 reads it
        { "\xc2\xa0\xc2\xbf", "\xc2\xa0\xc2\xbf" }, // just past C1: printable
        { "caf\xe9.mid", "caf\\xE9.mid" },
        { "caf\\xE9.mid", "caf\\\\xE9.mid" }, // the text of an escape is not the escape
        { "\xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80", // overlong, surrogate, past U+10FFFF
            "\\xC0\\xAF \\xED\\xA0\\x80 \\xF4\\x90\\x80\\x80" },
        { "cut \xe2\x82", "cut \\xE2\\x82" },
        { "\xe2\x80\xaegpj.mid", "\\u202Egpj.mid" },
        { "one\xe2\x80\xa8two", "one\\u2028two" },
    };
    for (const auto& [bytes, shown] : cases) {
        EXPECT_EQ(text::printable(bytes), shown);
        EXPECT_EQ(unescaped(shown), bytes) << shown;
    }
    EXPECT_EQ(text::quoted("USB\nSynth"), "\"USB\\nSynth\"");
}

// Any bytes at all: the text shown reads back as exactly those bytes, so no two names look alike,
// and it holds nothing that printable would change again but backslashes: no control, no broken
// UTF-8, no mark that moves text.
TEST(Printable, AnyBytesReadBackExactlyAndShowNothingThatActs)
{
    std::mt19937 random(30);
    // Mostly the bytes that matter: controls, C1, lead and continuation bytes, the backslash.
    const std::string Alphabet
        = std::string("\x00\x1b\n\\a\x7f\x80\x9b\xc2\xe2\xed\xf0\xf4\xff", 14) + "\xe2\x80\xae";
    for (int round = 0; round < 20000; ++round) {
        std::string bytes(random() % 12, '\0');
        for (char& byte : bytes)
            byte = random() % 4 == 0 ? static_cast<char>(random())
                                     : Alphabet[random() % Alphabet.size()];
        const std::string shown = text::printable(bytes);
        ASSERT_EQ(unescaped(shown), bytes) << shown;
        std::string backslashesDoubled;
        for (const char c : shown)
            backslashesDoubled += c == '\\' ? std::string("\\\\") : std::string(1, c);
        ASSERT_EQ(text::printable(shown), backslashesDoubled) << shown;
    }
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
    for (const auto& [shown, size, cut] : cases) {
        EXPECT_EQ(text::cutInTheMiddle(shown, size), cut) << shown << " in " << size;
        EXPECT_LE(cut.size(), size);
    }
}

} // namespace
