// Delays: each delta time converted by itself, truncated, with the tempo in force when it is read,
// and summed in 32 bits until a message is recorded.
#include "Scanned.h"

#include <gtest/gtest.h>

using namespace testsupport;

TEST(SmfDelays, AreTheSumOfTheConvertedDeltaTimesSinceTheLastRecord)
{
    const std::string perTick = "00 FF 51 03 00 00 01";
    expectScans({
        // A tick is 10416.67 microseconds: two of them truncated each make 20832, not 20833.
        { "each delta is truncated by itself, a meta event's too",
            oneTrack(48, "01 FF 01 00 01 F7 00 60 F7 00"), { 20832, 1000000 } },
        // (500000 x 8590) mod 2^32 = 32704, and 32704 / 48 = 681.
        { "the product keeps 32 bits", oneTrack(48, "C3 0E F7 00"), { 681 } },
        // Twice 16777215 x 256 = 8589934080, which is 4294966784 modulo 2^32.
        { "the sum wraps", oneTrack(1, "00 FF 51 03 FF FF FF 82 00 FF 01 00 82 00 F7 00"),
            { 4294966784 } },
        // 90 is a status by itself, 3C the next delta time (60 ticks), 40 another status.
        { "channel bytes pass one at a time", oneTrack(48, "00 90 3C 40 00 F7 00"), { 625000 } },
        { "the delta before a Set Tempo is at the old tempo",
            oneTrack(48, "30 FF 51 03 0F 42 40 30 F7 00"), { 1500000 } },
        // The fourth byte of this Set Tempo (0x30) is read as the next delta time.
        { "Set Tempo takes three bytes whatever its length",
            oneTrack(48, "00 FF 51 04 0F 42 40 30 F7 00"), { 1000000 } },
        { "an empty escape takes its delay", oneTrack(48, "30 F7 00 30 F7 00"),
            { 500000, 500000 } },
        // Its body is 200 bytes FF: one of them read as a status would start another meta event.
        { "a meta event of 200 bytes is skipped whole",
            oneTrack(48, "00 FF 01 81 48" + std::string(400, 'F') + "30 F7 00"), { 500000 } },
        // Variable-length quantities at one microsecond a tick: the value becomes the delay, and
        // one that took a byte too many or too few would not end right before its escape event.
        { "00", oneTrack(1, perTick + "00 F7 01 55"), { 0 } },
        { "7F", oneTrack(1, perTick + "7F F7 01 55"), { 127 } },
        { "81 00", oneTrack(1, perTick + "81 00 F7 01 55"), { 128 } },
        { "FF 7F", oneTrack(1, perTick + "FF 7F F7 01 55"), { 16383 } },
        { "FF FF FF 7F", oneTrack(1, perTick + "FF FF FF 7F F7 01 55"), { 268435455 } },
        { "81 80 80 80", oneTrack(1, perTick + "81 80 80 80 F7 01 55"), { 268435456 } },
        { "FF FF FF FF", oneTrack(1, perTick + "FF FF FF FF F7 01 55"), { 4294967168 } },
    });
}
