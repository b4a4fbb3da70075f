// Which chunks the reader reads, which it skips, and which headers end the scan.
#include "Scanned.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

struct ChunkCase {
    const char* name;
    Bytes file;
    std::uint32_t total;
    _SMF::Ending ending;
    std::vector<std::uint32_t> delays;
};

void PrintTo(const ChunkCase& c, std::ostream* out)
{
    *out << c.name;
}

// One SysEx of 2 bytes after a delta time of 48 ticks: its delay tells the division in force.
const Bytes quarter = hex("30 F0 01 F7 00 FF 2F 00");
const Bytes header = hex("00 00 00 01 00 30");

class SmfChunks : public testing::TestWithParam<ChunkCase> { };

TEST_P(SmfChunks, ReadsTheFirstTrackUnderTheLastAcceptedHeader)
{
    const ChunkCase& c = GetParam();
    const Scanned s = scan(c.file);
    EXPECT_EQ(s.total, c.total);
    EXPECT_EQ(endingName(s.ending), endingName(c.ending));
    EXPECT_EQ(s.delays(), c.delays);
}

using E = _SMF::Ending;

INSTANTIATE_TEST_SUITE_P(SmfReader, SmfChunks,
    testing::Values(ChunkCase { "TrackWithoutHeaderIsTimedAs48TicksAt120Bpm",
                        chunk("MTrk", quarter), 2, E::EndOfTrack, { 500000 } },
        ChunkCase { "Format1IsRejected", smfFile(1, 1, 48, quarter), 0, E::RejectedHeader, {} },
        ChunkCase { "TwoTracksAreRejected", smfFile(0, 2, 48, quarter), 0, E::RejectedHeader, {} },
        ChunkCase { "HeaderOf5BytesIsRejected",
            concat({ chunk("MThd", hex("00 00 00 01 00")), chunk("MTrk", quarter) }), 0,
            E::RejectedHeader, {} },
        ChunkCase { "ExtraHeaderBytesAreSkipped",
            concat({ chunk("MThd", hex("00 00 00 01 00 60 F0 01 F7 00")), chunk("MTrk", quarter) }),
            2, E::EndOfTrack, { 250000 } },
        ChunkCase { "OtherChunksAreSkippedByTheirLength",
            concat({ chunk("XFIH", chunk("MTrk", hex("00 F0 01 F7 00 FF 2F 00"))),
                chunk("MThd", header), chunk("MTrk", quarter) }),
            2, E::EndOfTrack, { 500000 } },
        ChunkCase { "ChunkBetweenHeaderAndTrackIsSkipped",
            concat({ chunk("MThd", header), chunk("XFIH", hex("00 F0 01 F7 4D 54")),
                chunk("MTrk", quarter) }),
            2, E::EndOfTrack, { 500000 } },
        ChunkCase { "SecondTrackIsNeverRead",
            concat({ smfFile(0, 1, 48, quarter), chunk("MTrk", hex("00 F0 03 01 02 F7")) }), 2,
            E::EndOfTrack, { 500000 } },
        ChunkCase { "BytesAfterEndOfTrackAreNotRead",
            chunk("MTrk", hex("00 FF 2F 00 00 F0 01 F7 00 FF 2F 00")), 0, E::EndOfTrack, {} },
        // A division of 0 names no tick length; the reader times such a file as one without a
        // header rather than divide by zero.
        ChunkCase {
            "Division0IsTimedAs48", smfFile(0, 1, 0, quarter), 2, E::EndOfTrack, { 500000 } },
        ChunkCase { "TimeCodeDivisionIsTakenAsTicks",
            smfFile(0, 1, 0xE728, concat({ vlq(7397), hex("F0 01 F7 00 FF 2F 00") })), 2,
            E::EndOfTrack, { 62500 } },
        ChunkCase {
            "HeaderWithoutTrackEndsWithTheImage", chunk("MThd", header), 0, E::EndOfImage, {} },
        ChunkCase { "EmptyImageEndsAtOnce", {}, 0, E::EndOfImage, {} }),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
