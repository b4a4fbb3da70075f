#pragma once

// Header only, without GoogleTest or Morvex's libraries, so that every test, the benchmarks and
// the fuzz target's corpus make their messages alike.

#include <cstdint>
#include <vector>

namespace testsupport {

using Bytes = std::vector<std::uint8_t>;

// size bytes from F0 to F7, a pattern seeded by seed between.
inline Bytes sysex(std::size_t size, unsigned seed = 0)
{
    Bytes bytes(size, 0xF7);
    for (std::size_t i = 0; i + 1 < size; ++i)
        bytes[i] = i == 0 ? 0xF0 : static_cast<std::uint8_t>((i * 7 + seed) & 0x7F);
    return bytes;
}

} // namespace testsupport
