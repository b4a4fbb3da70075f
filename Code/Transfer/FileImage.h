#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace transfer {

// The whole content of one file, in a buffer of its own that the SMF reader may write into.
struct [[nodiscard]] FileImage {
    std::vector<std::uint8_t> bytes;
    // Why the file could not be read, as the end of a sentence that starts with its name
    // ("could not be read: Permission denied", "is too large to read: 1.0 TiB"); empty when it
    // was read whole.
    std::string error;

    bool read() const { return error.empty(); }
};

// Reads path whole. Never throws: a file too large to hold in memory, or one that cannot be
// opened or read, comes back with its reason.
FileImage readFileImage(const std::string& path);

} // namespace transfer
