#include "Scanned.h"

#include <cstdint>
#include <gtest/gtest.h>

namespace testsupport {

std::vector<std::uint32_t> Scanned::delays() const
{
    std::vector<std::uint32_t> times;
    for (const _Event& event : events)
        times.push_back(event.time());
    return times;
}

Bytes Scanned::bytesOf(const _Event& event) const
{
    const auto* first = reinterpret_cast<const std::uint8_t*>(event.ptr());
    return Bytes(first, first + event.size());
}

std::size_t Scanned::offsetOf(const _Event& event) const
{
    return static_cast<std::size_t>(
        reinterpret_cast<const std::uint8_t*>(event.ptr()) - image.data());
}

Scanned scan(std::span<const std::uint8_t> file)
{
    Scanned listed;
    listed.image.assign(file.begin(), file.end());
    _SMF reader(listed.image.data(), listed.image.size(), &listed.events);
    listed.total = reader.Scan();
    listed.ending = reader.ending();

    Bytes counted(file.begin(), file.end());
    _SMF counter(counted.data(), counted.size(), nullptr);
    EXPECT_EQ(counter.Scan(), listed.total) << "counting mode gives another total";
    EXPECT_EQ(counter.ending(), listed.ending) << "counting mode ends another way";
    EXPECT_EQ(counted, listed.image) << "counting mode leaves another image";

    std::uint32_t sum = 0;
    for (const _Event& event : listed.events) {
        const auto first = reinterpret_cast<std::uintptr_t>(event.ptr());
        const auto begin = reinterpret_cast<std::uintptr_t>(listed.image.data());
        EXPECT_TRUE(first >= begin && first - begin <= listed.image.size()
            && event.size() <= listed.image.size() - (first - begin))
            << "record outside the image";
        sum += event.size();
    }
    EXPECT_EQ(sum, listed.total) << "the total is not the sum of the record sizes";
    return listed;
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::string endingName(_SMF::Ending ending)
{
    switch (ending) {
    case _SMF::Ending::EndOfTrack:
        return "EndOfTrack";
    case _SMF::Ending::RejectedHeader:
        return "RejectedHeader";
    case _SMF::Ending::EndOfImage:
        return "EndOfImage";
    }
    return "unknown ending";
}

} // namespace testsupport
