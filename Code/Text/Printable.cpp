#include "Text/Printable.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace text {
namespace {

struct Decoded {
    std::uint32_t code = 0;
    std::size_t size = 0; // 0 when the byte at the start begins no valid sequence
};

// The UTF-8 sequence that starts at at: none overlong, surrogate or past U+10FFFF.
Decoded decode(std::string_view bytes, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(bytes[at]);
    const std::size_t size = lead < 0x80 ? 1
        : lead >= 0xC2 && lead <= 0xDF   ? 2
        : lead >= 0xE0 && lead <= 0xEF   ? 3
        : lead >= 0xF0 && lead <= 0xF4   ? 4
                                         : 0;
    if (size == 0 || at + size > bytes.size())
        return {};
    std::uint32_t code = size == 1 ? lead : lead & (0x7F >> size);
    for (std::size_t i = 1; i < size; ++i) {
        const auto next = static_cast<unsigned char>(bytes[at + i]);
        if ((next & 0xC0) != 0x80)
            return {};
        code = code << 6 | (next & 0x3F);
    }
    static constexpr std::uint32_t Smallest[] = { 0, 0, 0x80, 0x800, 0x10000 };
    if (code < Smallest[size] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return {};
    return { code, size };
}

// The C0 controls that have a letter of their own in C, and the escape, as terminals know it.
char namedEscape(std::uint32_t code)
{
    switch (code) {
    case '\a':
        return 'a';
    case '\b':
        return 'b';
    case '\t':
        return 't';
    case '\n':
        return 'n';
    case '\v':
        return 'v';
    case '\f':
        return 'f';
    case '\r':
        return 'r';
    case 0x1B:
        return 'e';
    default:
        return 0;
    }
}

// Characters that print nothing but break the line (in the window's labels) or reorder what
// follows, so that "gpj.mid" can read as "dim.jpg": the line and paragraph separators, the
// left-to-right and right-to-left marks, and the bidirectional embeddings, overrides and isolates.
bool movesText(std::uint32_t code)
{
    return code == 0x061C || code == 0x200E || code == 0x200F || (code >= 0x2028 && code <= 0x202E)
        || (code >= 0x2066 && code <= 0x2069);
}

void appendHex(std::string& to, const char* format, unsigned value)
{
    // Room for a prefix of two and any unsigned in hex: the compiler cannot know that the values
    // given stay under 0x10000.
    char escaped[16];
    std::snprintf(escaped, sizeof escaped, format, value);
    to += escaped;
}

} // namespace

std::string printable(std::string_view bytes)
{
    std::string shown;
    shown.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        const Decoded decoded = decode(bytes, at);
        const std::uint32_t code = decoded.code;
        if (decoded.size == 0 || code < 0x20 || (code >= 0x7F && code <= 0x9F)) {
            // Not UTF-8, or a control: each of its bytes in hex, unless it has a letter.
            if (const char letter = decoded.size == 1 ? namedEscape(code) : '\0') {
                shown += '\\';
                shown += letter;
            } else {
                for (std::size_t i = 0; i < std::max<std::size_t>(decoded.size, 1); ++i)
                    appendHex(shown, "\\x%02X", static_cast<unsigned char>(bytes[at + i]));
            }
        } else if (code == '\\') {
            shown += "\\\\";
        } else if (movesText(code)) {
            appendHex(shown, "\\u%04X", code);
        } else {
            shown.append(bytes, at, decoded.size);
        }
        at += std::max<std::size_t>(decoded.size, 1);
    }
    return shown;
}

std::string quoted(std::string_view bytes)
{
    return '"' + printable(bytes) + '"';
}

std::string cutInTheMiddle(std::string_view shown, std::size_t size)
{
    if (shown.size() <= size)
        return std::string(shown);
    constexpr std::string_view Ellipsis = "…";
    if (size < Ellipsis.size())
        return {};
    const auto continues
        = [&](std::size_t at) { return (static_cast<unsigned char>(shown[at]) & 0xC0) == 0x80; };
    // The beginning gets the odd byte: it is what a person reads first.
    const std::size_t kept = size - Ellipsis.size();
    std::size_t headEnd = kept - kept / 2;
    while (headEnd > 0 && continues(headEnd))
        --headEnd;
    std::size_t tailStart = shown.size() - kept / 2;
    while (tailStart < shown.size() && continues(tailStart))
        ++tailStart;
    return std::string(shown.substr(0, headEnd)) + std::string(Ellipsis)
        + std::string(shown.substr(tailStart));
}

} // namespace text

namespace text {

std::string quotedList(const std::vector<std::string>& names)
{
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i)
        list += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + quoted(names[i]);
    return list;
}

} // namespace text
