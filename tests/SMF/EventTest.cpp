// What becomes a record: SysEx events with the F0 written in front of their body, escape events
// as they stand. Counting mode is checked by scan() on every file of every test.
#include "Scanned.h"

#include <gtest/gtest.h>

using namespace testsupport;

TEST(SmfEvents, SysExGetsF0OverItsLastLengthByteAndEscapesStandAsTheyAre)
{
    SmfBuilder builder;
    builder.raw(hex("00 F0 05 7E 7F 09 01 F7 00 F7 03 F8 F8 F8 00 F7 00")).sysexOfSize(0, 201, 3);
    const Bytes file = builder.file();
    const Scanned s = scan(file);
    // The track's data start at 22: 00 F0 [05] 7E 7F 09 01 F7, 00 F7 03 [F8 F8 F8], 00 F7 00, then
    // [00] F0 81 [48] and 200 bytes of data. The empty record points after its length, at [00].
    const std::vector<Record> records = { { 24, 0, hex("F0 7E 7F 09 01 F7") },
        { 33, 0, hex("F8 F8 F8") }, { 39, 0, {} }, { 42, 0, builder.messages()[0] } };
    EXPECT_EQ(s.records(), records);
    EXPECT_EQ(s.total, 6u + 3 + 201);
    Bytes expected = file;
    expected[24] = expected[42] = 0xF0;
    EXPECT_EQ(s.image, expected) << "only the last length byte of each SysEx changes";
}
