#pragma once

#include "SMF/SmfWriter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sample {

// What a generated update holds. The defaults give the sample update the build lays out: an
// update shaped like a real one, to rehearse with and to try a device's limits.
struct UpdateShape {
    std::uint32_t blocks = 300; // firmware messages in the first file; 0 leaves the file out
    std::uint32_t blockSize = 256; // bytes of each, F0 and F7 included
    std::uint32_t minGap = 20; // milliseconds before each block, drawn from [minGap, maxGap]
    std::uint32_t maxGap = 100;
    std::uint32_t bankSize = 32'000; // the second file's one message; 0 leaves the file out
    bool tempoFile = true; // the third file, whose tempo halves its delays halfway through
};

struct UpdateFile {
    std::string name; // sorts before the names of the files sent after it
    smf::Bytes bytes;
};

// Why shape cannot be made, as a sentence for a person; empty when it can.
[[nodiscard]] std::string problemWith(const UpdateShape& shape);

// The files of the update, in sending order. shape must have no problem.
[[nodiscard]] std::vector<UpdateFile> makeUpdate(const UpdateShape& shape);

// The tempo-change file's shape, for whoever checks it: Settings messages of SettingSize bytes,
// SettingTicks apart; the first half at 1 ms per tick, the second at 0.5 ms per tick.
inline constexpr std::uint32_t Settings = 16;
inline constexpr std::uint32_t SettingSize = 64;
inline constexpr std::uint32_t SettingTicks = 40;

} // namespace sample
