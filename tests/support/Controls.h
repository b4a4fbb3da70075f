#pragma once

#include <cstdio>
#include <string>

namespace testsupport {

// What in text would act on a terminal or break a label's line rather than be read: C0 controls
// other than those allowed, DEL, C1 controls as UTF-8 writes them, and bytes that are not part of
// well-formed UTF-8, each as \xHH in order. Empty when there is none. Written apart from Morvex's
// own escaping, so that it checks it rather than repeats it.
inline std::string controlsIn(const std::string& text, const std::string& allowed = {})
{
    std::string found;
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = static_cast<unsigned char>(text[at]);
        const std::size_t size = byte < 0x80 ? 1
            : byte >= 0xC2 && byte <= 0xDF   ? 2
            : byte >= 0xE0 && byte <= 0xEF   ? 3
            : byte >= 0xF0 && byte <= 0xF4   ? 4
                                             : 0;
        bool whole = size > 0 && at + size <= text.size();
        for (std::size_t i = 1; whole && i < size; ++i)
            whole = (static_cast<unsigned char>(text[at + i]) & 0xC0) == 0x80;
        const bool control
            = (byte < 0x20 && allowed.find(static_cast<char>(byte)) == std::string::npos)
            || byte == 0x7F
            || (whole && byte == 0xC2 && static_cast<unsigned char>(text[at + 1]) <= 0x9F);
        if (whole && !control) {
            at += size;
            continue;
        }
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", byte);
        found += hex;
        ++at;
    }
    return found;
}

} // namespace testsupport
