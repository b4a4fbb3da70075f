// What becomes a record: SysEx events with the F0 written in front of their body, escape events
// as they stand; and counting mode, which makes no record but totals and writes the same.
#include "Scanned.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

TEST(SmfReader, WritesF0OverTheLastLengthByteOfEachSysEx)
{
    const Bytes file = smfFile(0, 1, 48, hex("00 F0 05 7E 7F 09 01 F7 00 FF 2F 00"));
    const Scanned s = scan(file);
    EXPECT_EQ(s.total, 6u);
    ASSERT_EQ(s.events.size(), 1u);
    EXPECT_EQ(s.bytesOf(s.events[0]), hex("F0 7E 7F 09 01 F7"));

    Bytes expected = file;
    const std::size_t length = 14 + 8 + 2; // header chunk, track chunk's type and length, 00 F0
    expected[length] = 0xF0;
    EXPECT_EQ(s.image, expected) << "only the length byte changes";
    EXPECT_EQ(s.offsetOf(s.events[0]), length);
}

TEST(SmfReader, RecordsSysExWithTwoLengthBytesAsOneContiguousMessage)
{
    SmfBuilder builder;
    builder.sysexOfSize(0, 201, 3).sysexOfSize(0, 2).sysexOfSize(0, 300, 9);
    const Scanned s = scan(builder.file());
    ASSERT_EQ(s.events.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(s.bytesOf(s.events[i]), builder.messages()[i]) << "message " << i;
    EXPECT_EQ(Bytes(s.image.begin() + 22, s.image.begin() + 26), hex("00 F0 81 F0"));
    EXPECT_EQ(s.total, 503u);
}

TEST(SmfReader, RecordsEscapeEventsAsTheyStandEvenWhenEmpty)
{
    const Scanned s = scan(chunk("MTrk", hex("00 F7 03 F8 F8 F8 00 F7 00 00 FF 2F 00")));
    ASSERT_EQ(s.events.size(), 2u);
    EXPECT_EQ(s.bytesOf(s.events[0]), hex("F8 F8 F8"));
    EXPECT_EQ(s.events[1].size(), 0u);
    EXPECT_EQ(s.offsetOf(s.events[1]), 8 + 9u) << "an empty record points after its length";
    EXPECT_EQ(s.total, 3u);
}

TEST(SmfReader, PassesOverChannelBytesOneAtATime)
{
    // 90 is a status by itself, 3C the next delta time (60 ticks), 40 another status.
    const Scanned s = scan(chunk("MTrk", hex("00 90 3C 40 00 F7 01 55 00 FF 2F 00")));
    ASSERT_EQ(s.events.size(), 1u);
    EXPECT_EQ(s.events[0].time(), 625000u);
    EXPECT_EQ(s.bytesOf(s.events[0]), hex("55"));
}

TEST(SmfReader, CountingModeTotalsWhatTheRecordsHold)
{
    // scan() checks that counting mode agrees with the listing scan on total and image.
    SmfBuilder builder;
    builder.sysexOfSize(10, 256).tempo(0, 250000).raw(hex("05 F7 02 41 42")).sysexOfSize(96, 8);
    const Scanned s = scan(builder.file());
    EXPECT_EQ(s.total, 256u + 2 + 8);
    EXPECT_EQ(s.events.size(), 3u);

    Bytes image = builder.file();
    _SMF counter(image.data(), image.size(), nullptr);
    EXPECT_EQ(counter.Scan(), s.total);
}

TEST(EventRecord, StartsEmpty)
{
    const _Event event;
    EXPECT_EQ(event.time(), 0u);
    EXPECT_EQ(event.ptr(), nullptr);
    EXPECT_EQ(event.size(), 0u);
}

} // namespace
