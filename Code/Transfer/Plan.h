#pragma once

#include "SMF/_SMF.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace transfer {

// Before every file but the first listed one: time for the device to take in what the previous
// file gave it (a firmware block written to flash) before the next file starts.
inline constexpr std::uint32_t Time_FilePause = 2000000;

// How many times slower than its files say an update goes, chosen for one update: every delay, the
// pause between files and any wait limit last that many times longer, and a hardware wire takes
// bytes that many times more slowly. For a device or a route that needs it; never below 1, so that
// it makes nothing faster.
inline constexpr double Factor_LeastSlower = 1.0;
inline constexpr double Factor_MostSlower = 10.0;

// microseconds made slower times longer, rounded up: a stretched wait is never shorter.
std::uint64_t stretched(std::uint64_t microseconds, double slower);

// What one reading of a file in counting mode finds: what the size pass learns, and what the send
// pass must find again for the file to count as unchanged.
struct FileSize {
    std::uint32_t total = 0; // message bytes, as the reader totals them
    std::uint32_t messages = 0;
    std::uint64_t delays = 0; // microseconds, all its messages' delays
    _SMF::Ending ending = _SMF::Ending::EndOfTrack;
    std::size_t stopOffset = 0; // where the reader stopped, in bytes
    bool operator==(const FileSize&) const = default;
};

struct FileReading {
    std::optional<FileSize> size; // empty when the file could not be read
    // Why not, as the end of a sentence that starts with the file's name ("could not be read:
    // Permission denied", "is too large to read: 1.0 TiB").
    std::string error;
};

// Reads path whole and scans it in counting mode. Never throws.
FileReading sizeFile(const std::string& path);

// How a reading leaves a file for an update, as a sentence that names it: damaged (it could not
// be read, is not a format-0 file with one track, or ends inside an event or before its track),
// or whole but without its End of Track. Empty when the file was read as it was meant to be.
std::string judgeReading(const std::string& name, const FileReading& reading);
// Whether that judgement is damage: a file whose messages cannot all be sent whole.
bool isDamaged(const FileReading& reading);

// An update's files as one reading of each finds them, in sending order, and how long sending them
// takes: what the dry run prints, the window sums up before Send, and the transfer counts down.
class Plan {
public:
    struct File {
        std::string name;
        FileReading reading;
    };

    Plan() = default;
    explicit Plan(std::vector<File> files);
    // Reads each of names inside folder.
    static Plan read(const std::string& folder, const std::vector<std::string>& names);

    const std::vector<File>& files() const { return mFiles; }
    std::uint64_t messages() const;
    std::uint64_t bytes() const;

    // How long file index takes to send: the pause before it (by its place in the list, when it
    // can be read), its delays, and its bytes' time on a wire of bytesPerSecond (0 for none), all
    // of it slower times longer.
    std::uint64_t microseconds(std::size_t index, double bytesPerSecond, double slower = 1) const;
    // The same for every file from index on.
    std::uint64_t microsecondsFrom(
        std::size_t index, double bytesPerSecond, double slower = 1) const;

    // The sentences of judgeReading, for the files that have one, in list order.
    std::vector<std::string> remarks() const;
    bool anyDamaged() const;

private:
    std::vector<File> mFiles;
};

// The time bytes take on a wire of bytesPerSecond, in microseconds; 0 when there is no wire.
std::uint64_t wireMicroseconds(std::uint64_t bytes, double bytesPerSecond);

} // namespace transfer
