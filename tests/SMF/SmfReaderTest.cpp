#include "SMF/_SMF.h"
#include "support/Smf.h"

#include <gtest/gtest.h>

using testsupport::Bytes;
using testsupport::hex;

TEST(SmfReader, RecordsOneSysExWithItsStatusByteWrittenIntoTheImage)
{
    Bytes file = testsupport::smfFile(0, 1, 48, hex("00 F0 05 7E 7F 09 01 F7 00 FF 2F 00"));
    std::vector<_Event> events;
    _SMF reader(file.data(), file.size(), &events);
    EXPECT_EQ(reader.Scan(), 6u);
    EXPECT_EQ(reader.ending(), _SMF::Ending::EndOfTrack);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].time(), 0u);
    const auto* first = reinterpret_cast<const std::uint8_t*>(events[0].ptr());
    EXPECT_EQ(Bytes(first, first + events[0].size()), hex("F0 7E 7F 09 01 F7"));
}
