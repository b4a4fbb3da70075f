#pragma once

#include <cstdio>
#include <cuchar>
#include <locale.h>
#include <string>

namespace testsupport {

// What in text would act on a terminal or break a label's line rather than be read: C0 controls
// other than those allowed, DEL, C1 controls, and bytes that are not part of valid UTF-8, each as
// \xHH in order. Empty when there is none. Read by the C library's own UTF-8 decoder, on this
// thread only, so that it checks Morvex's escaping rather than repeats it.
inline std::string controlsIn(const std::string& text, const std::string& allowed = {})
{
    const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t {});
    if (!utf8)
        return "(no C.UTF-8 locale to read with)";
    const locale_t previous = ::uselocale(utf8);
    std::string found;
    std::mbstate_t state {};
    for (std::size_t at = 0; at < text.size();) {
        char32_t code = 0;
        const std::size_t size = std::mbrtoc32(&code, text.data() + at, text.size() - at, &state);
        const bool valid = size <= 4; // not (size_t)-1, invalid, nor -2, cut short
        const bool control
            = (code < 0x20 && allowed.find(static_cast<char>(code)) == std::string::npos)
            || (code >= 0x7F && code <= 0x9F);
        if (!valid || control) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(text[at]));
            found += hex;
            state = {};
        }
        at += valid && !control ? size : 1;
    }
    ::uselocale(previous);
    ::freelocale(utf8);
    return found;
}

// Names an update folder from the internet may hold, and how Morvex shows them: one that would set
// a terminal's title, colour its text and fake a line of its own, and the longest name Linux
// allows, with other controls, a C1 byte alone and a byte never in UTF-8.
inline const std::string HostileName
    = "a\033]0;PWNED\007\033[31mred\033[0m\nFAKE: Complete Update.mid";
inline const std::string HostileShown
    = "a\\e]0;PWNED\\a\\e[31mred\\e[0m\\nFAKE: Complete Update.mid";
// 255 bytes.
inline const std::string LongName = "\t\r\x7F\x9B\xFF " + std::string(245, 'x') + ".mid";
inline const std::string LongShown = "\\t\\r\\x7F\\x9B\\xFF " + std::string(245, 'x') + ".mid";

} // namespace testsupport
