#pragma once

#include "SMF/SmfWriter.h"
#include "SMF/_SMF.h"

#include <ostream>
#include <span>
#include <tuple>
#include <vector>

// Lets failure messages name an ending rather than give its number.
void PrintTo(_SMF::Ending ending, std::ostream* out);

namespace testsupport {

using smf::Bytes;

// A record as a test compares it: offset in the image, delay, bytes.
using Record = std::tuple<std::size_t, std::uint32_t, Bytes>;

// What one scan of a file left behind. The image is the scanned copy: the events point into it
// and stay valid as long as this object lives, moves included.
struct Scanned {
    std::uint32_t total = 0;
    _SMF::Ending ending = _SMF::Ending::CutShort;
    std::size_t stop = 0;
    std::vector<_Event> events;
    Bytes image;

    std::vector<std::uint32_t> delays() const;
    Bytes bytesOf(const _Event& e) const { return Bytes(e.ptr(), e.ptr() + e.size()); }
    std::vector<Record> records() const;
};

// Scans a copy of file with an events list and another copy in counting mode, each copy exactly
// as large as the file so that AddressSanitizer sees any access past it. Every scan so checks
// counting mode: a test failure is added if it disagrees with the listing scan on the total, the
// ending, the stop offset or the resulting image. The invariants that hold on any input (records
// inside the image, total equal to their sum) are the fuzz target's to check.
Scanned scan(std::span<const std::uint8_t> file);

} // namespace testsupport
