#pragma once

#include "SMF/SmfWriter.h"
#include "SMF/_SMF.h"

#include <gtest/gtest.h>
#include <ostream>
#include <span>
#include <tuple>
#include <vector>

// Lets failure messages name an ending rather than give its number.
inline void PrintTo(_SMF::Ending ending, std::ostream* out)
{
    const char* const names[] = { "EndOfTrack", "RejectedHeader", "CutShort", "NoEndOfTrack" };
    *out << names[static_cast<int>(ending)];
}

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

// Scans a copy of file with an events list and another copy in counting mode, each copy exactly
// as large as the file so that AddressSanitizer sees any access past it. Every scan so checks
// counting mode: a test failure is added if it disagrees with the listing scan on the total, the
// ending, the stop offset or the resulting image. The invariants that hold on any input (records
// inside the image, total equal to their sum) are the fuzz target's to check.
inline Scanned scan(std::span<const std::uint8_t> file)
{
    Scanned listed;
    listed.image.assign(file.begin(), file.end());
    _SMF reader(listed.image.data(), listed.image.size(), &listed.events);
    listed.total = reader.Scan();
    listed.ending = reader.ending();
    listed.stop = reader.stopOffset();

    Bytes counted(file.begin(), file.end());
    _SMF counter(counted.data(), counted.size(), nullptr);
    EXPECT_EQ(counter.Scan(), listed.total) << "counting mode gives another total";
    EXPECT_EQ(counter.ending(), listed.ending) << "counting mode ends another way";
    EXPECT_EQ(counter.stopOffset(), listed.stop) << "counting mode stops elsewhere";
    EXPECT_EQ(counted, listed.image) << "counting mode leaves another image";
    std::uint64_t delays = 0;
    for (const _Event& event : listed.events)
        delays += event.time();
    EXPECT_EQ(counter.count(), listed.events.size()) << "counting mode counts other messages";
    EXPECT_EQ(counter.delays(), delays) << "counting mode adds other delays";
    return listed;
}

} // namespace testsupport
