// The reader never leaves its image: a file cut anywhere keeps the messages that stand whole
// before the cut and ends as EndOfImage; a length that reaches past the end records nothing.
// scan() gives each image a buffer of exactly its size, so AddressSanitizer sees any stray access.
#include "Scanned.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace testsupport;

TEST(SmfBounds, FileCutAtEveryByteKeepsTheMessagesBeforeTheCut)
{
    // Every kind of item the reader meets, so that some cut falls inside each of them.
    SmfBuilder builder;
    builder.raw(hex("00 F0 05 7E 7F 09 01 F7"))
        .tempo(48, 1000000)
        .raw(hex("81 00 F7 03 F8 F8 F8 00 FF 01 03 41 42 43 00 90 3C 40"))
        .sysexOfSize(96, 201)
        .raw(hex("00 F7 00 00 FF 51 04 07 A1 20 00 F7 01 55")); // a tempo of length 4
    const Bytes file = concat({ chunk("XFIH", hex("01 02 03")), builder.file() });
    const Scanned whole = scan(file);
    ASSERT_EQ(whole.events.size(), 5u);

    for (std::size_t cut = 0; cut < file.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(file.size()));
        const Scanned part = scan(std::span(file).first(cut));
        EXPECT_EQ(part.ending, _SMF::Ending::EndOfImage);
        std::vector<Record> kept = whole.records();
        std::erase_if(kept, [cut](const Record& r) { return get<0>(r) + get<2>(r).size() > cut; });
        EXPECT_EQ(part.records(), kept);
    }
}

TEST(SmfBounds, TheLargestLengthsRecordNothingMore)
{
    // So large that no position arithmetic may wrap. The track's own length is never used.
    const auto end = _SMF::Ending::EndOfImage;
    expectScans({
        { "header", hex("4D546864 FFFFFFFF 0000 0001 0030 4D54726B"), {}, end },
        { "other chunk", hex("58464948 FFFFFFFF 00 F0 01 F7"), {}, end },
        { "SysEx", chunk("MTrk", hex("00 F0 01 F7 00 F0 FF FF FF 7F 01 02")), { 0 }, end },
        { "escape", chunk("MTrk", hex("00 F7 01 55 00 F7 FF FF FF FF")), { 0 }, end },
        { "meta", chunk("MTrk", hex("00 F7 00 00 FF 01 FF FF FF 7F 41")), { 0 }, end },
    });
}
