#include "support/Smf.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string>

namespace testsupport {

Bytes hex(std::string_view text)
{
    std::string digits(text);
    std::erase_if(digits, [](unsigned char c) { return std::isspace(c); });
    const auto hexDigit = [](unsigned char c) { return std::isxdigit(c) != 0; };
    if (digits.size() % 2 != 0 || !std::all_of(digits.begin(), digits.end(), hexDigit))
        throw std::invalid_argument("not whole hex bytes in fixture: " + std::string(text));
    Bytes bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

} // namespace testsupport
