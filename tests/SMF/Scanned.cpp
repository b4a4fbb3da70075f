#include "Scanned.h"

#include <gtest/gtest.h>

void PrintTo(_SMF::Ending ending, std::ostream* out)
{
    const char* const names[] = { "EndOfTrack", "RejectedHeader", "CutShort", "NoEndOfTrack" };
    *out << names[static_cast<int>(ending)];
}

namespace testsupport {

std::vector<std::uint32_t> Scanned::delays() const
{
    std::vector<std::uint32_t> times;
    for (const _Event& event : events)
        times.push_back(event.time());
    return times;
}

std::vector<Record> Scanned::records() const
{
    std::vector<Record> all;
    for (const _Event& event : events)
        all.emplace_back(
            static_cast<std::size_t>(event.ptr() - reinterpret_cast<const char*>(image.data())),
            event.time(), bytesOf(event));
    return all;
}

Scanned scan(std::span<const std::uint8_t> file)
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
