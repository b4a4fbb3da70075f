#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace transfer {

// The whole content of one file, in a buffer of its own that the SMF reader may write into.
struct [[nodiscard]] FileImage {
    std::vector<std::uint8_t> bytes;
    // Why the file could not be read, for a person ("Permission denied", "it is a folder");
    // empty when it was read whole.
    std::string error;

    bool read() const { return error.empty(); }
};

// Reads path whole. Never throws: a file too large to hold in memory, or one that cannot be
// opened or read, comes back with its reason.
FileImage readFileImage(const std::string& path);

} // namespace transfer
