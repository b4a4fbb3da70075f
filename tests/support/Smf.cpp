#include "support/Smf.h"

#include <cctype>
#include <stdexcept>
#include <string>

namespace testsupport {

Bytes hex(std::string_view text)
{
    Bytes bytes;
    std::string digits;
    for (const char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)))
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            throw std::invalid_argument("not a hex digit in fixture: " + std::string(text));
        digits += c;
        if (digits.size() == 2) {
            bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits, nullptr, 16)));
            digits.clear();
        }
    }
    if (!digits.empty())
        throw std::invalid_argument("odd number of hex digits in fixture: " + std::string(text));
    return bytes;
}

} // namespace testsupport
