// The reader never leaves its image: a file cut anywhere keeps the messages that stand whole
// before the cut and ends as EndOfImage; a length that reaches past the end records nothing.
// scan() gives each image a buffer of exactly its size, so AddressSanitizer sees any stray access.
#include "Scanned.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// Every kind of item the reader meets, so that some cut falls inside each of them.
Bytes everything()
{
    SmfBuilder builder;
    builder.raw(hex("00 F0 05 7E 7F 09 01 F7"))
        .tempo(48, 1000000)
        .raw(hex("81 00 F7 03 F8 F8 F8 00 FF 01 03 41 42 43 00 90 3C 40"))
        .sysexOfSize(96, 201)
        .raw(hex("00 F7 00 00 FF 51 04 07 A1 20 00 F7 01 55")); // a tempo of length 4
    return concat({ chunk("XFIH", hex("01 02 03")), builder.file() });
}

TEST(SmfReader, FileCutAtEveryByteKeepsTheMessagesBeforeTheCut)
{
    const Bytes file = everything();
    const Scanned whole = scan(file);
    ASSERT_EQ(endingName(whole.ending), "EndOfTrack");
    ASSERT_EQ(whole.events.size(), 5u);

    for (std::size_t cut = 0; cut < file.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(file.size()));
        const Scanned part = scan(std::span(file).first(cut));
        EXPECT_EQ(endingName(part.ending), "EndOfImage");
        std::size_t kept = 0;
        while (kept < whole.events.size()
            && whole.offsetOf(whole.events[kept]) + whole.events[kept].size() <= cut)
            ++kept;
        ASSERT_EQ(part.events.size(), kept);
        for (std::size_t i = 0; i < kept; ++i) {
            EXPECT_EQ(part.offsetOf(part.events[i]), whole.offsetOf(whole.events[i]));
            EXPECT_EQ(part.events[i].size(), whole.events[i].size());
            EXPECT_EQ(part.events[i].time(), whole.events[i].time());
        }
    }
}

struct BrokenCase {
    const char* name;
    Bytes file;
    std::size_t records;
};

void PrintTo(const BrokenCase& c, std::ostream* out)
{
    *out << c.name;
}

class SmfLengthsPastTheEnd : public testing::TestWithParam<BrokenCase> { };

TEST_P(SmfLengthsPastTheEnd, EndTheScanAndRecordNothingMore)
{
    const Scanned s = scan(GetParam().file);
    EXPECT_EQ(endingName(s.ending), "EndOfImage");
    EXPECT_EQ(s.events.size(), GetParam().records);
}

// The largest lengths a file can state, so that no position arithmetic may wrap.
INSTANTIATE_TEST_SUITE_P(SmfReader, SmfLengthsPastTheEnd,
    testing::Values(
        BrokenCase { "HeaderLength", hex("4D546864 FFFFFFFF 0000 0001 0030 4D54726B"), 0 },
        BrokenCase { "OtherChunkLength", hex("58464948 FFFFFFFF 00 F0 01 F7"), 0 },
        BrokenCase { "SysExLength", chunk("MTrk", hex("00 F0 01 F7 00 F0 FF FF FF 7F 01 02")), 1 },
        BrokenCase { "SysExLengthByOne", chunk("MTrk", hex("00 F0 03 01 02")), 0 },
        BrokenCase { "EscapeLength", chunk("MTrk", hex("00 F7 01 55 00 F7 FF FF FF FF")), 1 },
        BrokenCase { "MetaLength", chunk("MTrk", hex("00 F7 00 00 FF 01 FF FF FF 7F 41")), 1 },
        BrokenCase { "NoEndOfTrack", chunk("MTrk", hex("00 F7 01 55 00 90")), 1 },
        // The track chunk's own length is not used: the track runs to its End of Track.
        BrokenCase { "TrackLongerThanTheImage",
            concat({ hex("4D54726B FFFFFFFF"), hex("00 F7 01 55 00 F7 02 55") }), 1 }),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
