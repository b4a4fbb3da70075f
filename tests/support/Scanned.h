#pragma once

#include "SMF/SmfWriter.h"
#include "SMF/_SMF.h"

#include <span>
#include <tuple>
#include <vector>

namespace testsupport {

using smf::Bytes;

// A record as a test compares it: offset in the image, delay, bytes.
using Record = std::tuple<std::size_t, std::uint32_t, Bytes>;

// What one scan of a file left behind. The image is the scanned copy: the events point into it
// and stay valid as long as this object lives, moves included.
struct Scanned {
    _SMF::Ending ending = _SMF::Ending::CutShort;
    std::size_t stop = 0;
    std::vector<_Event> events;
    Bytes image;

    // Of every record in order: &_Event::time for the delays, &_Event::size for the sizes.
    std::vector<std::uint32_t> each(std::uint32_t (_Event::*field)() const) const
    {
        std::vector<std::uint32_t> values;
        for (const _Event& event : events)
            values.push_back((event.*field)());
        return values;
    }
    Bytes bytesOf(const _Event& e) const { return Bytes(e.ptr(), e.ptr() + e.size()); }
    std::vector<Record> records() const
    {
        std::vector<Record> all;
        for (const _Event& e : events)
            all.emplace_back(
                e.ptr() - reinterpret_cast<const char*>(image.data()), e.time(), bytesOf(e));
        return all;
    }
};

// Scans a copy of file exactly as large as the file, so that AddressSanitizer sees any access
// past it. Counting mode differs from this scan only in keeping no records: the fuzz target checks
// that the two agree on every input, and the transfer's plan, which counts, is checked by its own
// tests.
inline Scanned scan(std::span<const std::uint8_t> file)
{
    Scanned listed;
    listed.image.assign(file.begin(), file.end());
    _SMF reader(listed.image.data(), listed.image.size(), &listed.events);
    reader.Scan();
    listed.ending = reader.ending();
    listed.stop = reader.stopOffset();
    return listed;
}

} // namespace testsupport
