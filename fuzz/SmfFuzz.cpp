// Runs the SMF reader on every input in both modes, each on its own exact-size copy, and stops
// the fuzzer when something that must always hold does not.
#include "SMF/_SMF.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

void require(bool holds, const char* what)
{
    if (holds)
        return;
    std::fprintf(stderr, "SMF reader broke its promise: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> listed(data, data + size);
    std::vector<_Event> events;
    _SMF reader(listed.data(), listed.size(), &events);
    const std::uint32_t total = reader.Scan();

    std::vector<std::uint8_t> counted(data, data + size);
    _SMF counter(counted.data(), counted.size(), nullptr);
    require(counter.Scan() == total, "counting mode gives another total");
    require(counter.ending() == reader.ending(), "counting mode ends another way");
    require(counter.stopOffset() == reader.stopOffset(), "counting mode stops elsewhere");
    require(reader.stopOffset() <= size, "the scan stops outside the image");
    require(reader.ending() != _SMF::Ending::NoEndOfTrack || reader.stopOffset() == size,
        "no End of Track, yet the scan stops before the image ends");
    require(counted == listed, "counting mode leaves another image");

    const auto begin = reinterpret_cast<std::uintptr_t>(listed.data());
    std::uint32_t sum = 0;
    std::vector<bool> starts(size, false);
    for (const _Event& event : events) {
        const auto first = reinterpret_cast<std::uintptr_t>(event.ptr());
        require(first >= begin && first - begin <= size, "a record starts outside the image");
        const std::size_t offset = first - begin;
        require(event.size() <= size - offset, "a record ends outside the image");
        if (event.size() > 0)
            starts[offset] = true;
        sum += event.size();
    }
    require(sum == total, "the total is not the sum of the record sizes");

    // The one change a scan makes: the F0 written in front of each SysEx body, where its record
    // starts.
    for (std::size_t i = 0; i < size; ++i)
        require(listed[i] == data[i] || (starts[i] && listed[i] == 0xF0),
            "a byte changed that is no record's F0");
    return 0;
}
