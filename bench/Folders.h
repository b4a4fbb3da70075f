#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// The generated folders the transfer benchmarks send. Every timed message carries its own
// requested delay, so whoever receives it (the transfer's port, a mido loop, a JACK receiver)
// can tell how late it came without knowing the schedule: F0 7D <delay in ms> <index, two 7-bit
// bytes> F7, 7D being the manufacturer ID kept for non-commercial use.
namespace bench {

// Delays are written in ticks of 1 ms: 500 ticks per quarter note at the default tempo of
// 500,000 µs per quarter note, so no Set Tempo event is needed and every reader agrees.
constexpr std::uint16_t TicksPerQuarter = 500;

// One file, "timing.mid": a first message at delay 0 that starts the measurement, then 2,000
// messages whose delays of 0, 1, 5, 20 and 100 ms are mixed in a fixed pseudo-random order,
// weighted towards the short ones so one playing lasts about 12.5 s (see Folders.cpp).
void writeTimingFolder(const std::filesystem::path& folder);

// One file, "waiting.mid": 100 messages each after 100 ms, a 10 s transfer that is nearly all
// waiting.
void writeWaitingFolder(const std::filesystem::path& folder);

// Two files, "pace-1.mid" and "pace-2.mid", of 20 messages 20 ms apart each: with the pause
// between them, 2.8 s at the files' own pace.
void writePaceFolder(const std::filesystem::path& folder);

// files files of about mebibytes MiB each, "big-N.mid", of 256-byte SysEx messages at delay 0:
// a firmware image without its pacing. Written in pieces, so the generator's own memory stays
// small whatever the size.
void writeLargeFolder(const std::filesystem::path& folder, unsigned files, unsigned mebibytes);

} // namespace bench
