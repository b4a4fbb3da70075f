// Delays: each delta time converted by itself, truncated, with the tempo in force when it is read,
// and summed in 32 bits until a message is recorded.
#include "Scanned.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

struct DelayCase {
    const char* name;
    std::uint16_t division;
    std::string track; // End of Track is added
    std::vector<std::uint32_t> delays;
};

void PrintTo(const DelayCase& c, std::ostream* out)
{
    *out << c.name << ": " << c.track;
}

std::string repeated(const std::string& text, int times)
{
    std::string all;
    for (int i = 0; i < times; ++i)
        all += text;
    return all;
}

class SmfDelays : public testing::TestWithParam<DelayCase> { };

TEST_P(SmfDelays, AreTheSumOfTheConvertedDeltaTimesSinceTheLastRecord)
{
    const DelayCase& c = GetParam();
    const Scanned s = scan(smfFile(0, 1, c.division, concat({ hex(c.track), hex("00 FF 2F 00") })));
    EXPECT_EQ(endingName(s.ending), "EndOfTrack");
    EXPECT_EQ(s.delays(), c.delays);
}

INSTANTIATE_TEST_SUITE_P(SmfReader, SmfDelays,
    testing::Values(DelayCase { "QuarterNote", 48, "00 F0 01 F7 60 F0 01 F7", { 0, 1000000 } },
        DelayCase { "EachDeltaIsTruncatedByItself", 48, "01 F0 01 F7 01 F0 01 F7 01 F7 00",
            { 10416, 10416, 10416 } },
        // (500000 x 8590) mod 2^32 = 32704, and 32704 / 48 = 681.
        DelayCase { "ProductKeeps32Bits", 48, "C3 0E F7 00", { 681 } },
        // Twice 16 x 268435455 = 8589934560, which is 4294967264 modulo 2^32.
        DelayCase { "SumWraps", 1, "00 FF 51 03 00 00 10 FF FF FF 7F FF 01 00 FF FF FF 7F F7 00",
            { 4294967264 } },
        DelayCase { "MetaEventDeltaCounts", 48, "30 FF 01 02 41 42 30 F0 01 F7", { 1000000 } },
        DelayCase { "PassedOverBytesDeltasCount", 48, "00 90 3C 40 00 F0 01 F7", { 625000 } },
        DelayCase { "DeltaBeforeSetTempoUsesTheOldTempo", 48, "30 FF 51 03 0F 42 40 30 F7 00",
            { 1500000 } },
        // The fourth byte of this Set Tempo (0x30) is read as the next delta time.
        DelayCase { "SetTempoTakesThreeBytesWhateverItsLength", 48, "00 FF 51 04 0F 42 40 30 F7 00",
            { 1000000 } },
        DelayCase { "EmptyEscapeStillResetsTheDelay", 48, "30 F7 00 30 F7 00", { 500000, 500000 } },
        // Its body is all F0: one byte read as a status would make a record.
        DelayCase { "MetaOf200BytesIsSkippedWhole", 48,
            "00 FF 01 81 48 " + repeated("F0 ", 200) + "30 F7 00", { 500000 } }),
    [](const auto& info) { return std::string(info.param.name); });

// Variable-length quantities, read as delta times at one microsecond per tick: the value becomes
// the delay, and the escape event after it shows how many bytes the quantity took.
class SmfQuantities : public testing::TestWithParam<std::pair<const char*, std::uint32_t>> { };

TEST_P(SmfQuantities, TakeAtMostFourBytes)
{
    const auto& [bytes, value] = GetParam();
    const Scanned s = scan(smfFile(
        0, 1, 1, concat({ hex("00 FF 51 03 00 00 01"), hex(bytes), hex("F7 01 55 00 FF 2F 00") })));
    EXPECT_EQ(endingName(s.ending), "EndOfTrack");
    ASSERT_EQ(s.events.size(), 1u);
    EXPECT_EQ(s.events[0].time(), value);
    EXPECT_EQ(s.bytesOf(s.events[0]), hex("55"));
}

INSTANTIATE_TEST_SUITE_P(SmfReader, SmfQuantities,
    testing::Values(std::pair { "00", 0u }, std::pair { "7F", 127u }, std::pair { "81 00", 128u },
        std::pair { "FF 7F", 16383u }, std::pair { "FF FF FF 7F", 268435455u },
        std::pair { "81 80 80 80", 268435456u }, std::pair { "FF FF FF FF", 4294967168u }),
    [](const auto& info) { return "Value" + std::to_string(info.param.second); });

} // namespace
