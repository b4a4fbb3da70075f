// Which chunks the reader reads, which it skips, and which headers end the scan.
#include "Scanned.h"

#include <gtest/gtest.h>

using namespace testsupport;

TEST(SmfChunks, FirstTrackIsReadUnderTheLastAcceptedHeader)
{
    // One SysEx after 48 ticks: its delay tells the division in force.
    const Bytes quarter = hex("30 F0 01 F7 00 FF 2F 00");
    const Bytes track = chunk("MTrk", quarter);
    const Bytes other = chunk("MTrk", hex("00 F0 03 01 02 F7 00 FF 2F 00"));
    using E = _SMF::Ending;
    const Expected table[] = {
        { "a track alone is timed as 48 ticks at 120 bpm", track, E::EndOfTrack, { 500000 } },
        { "format 1", smfFile(1, 1, 48, quarter), E::RejectedHeader, {} },
        { "two tracks", smfFile(0, 2, 48, quarter), E::RejectedHeader, {} },
        { "header of 5 bytes", concat({ chunk("MThd", hex("0000 0001 00")), track }),
            E::RejectedHeader, {} },
        { "the header's bytes after the sixth, and other chunks, are skipped by their length",
            concat(
                { chunk("MThd", hex("0000 0001 0060 F0 01 F7 00")), chunk("XFIH", other), track }),
            E::EndOfTrack, { 250000 } },
        { "a second track is never read", concat({ smfFile(0, 1, 48, quarter), other }),
            E::EndOfTrack, { 500000 } },
        // A division of 0 names no tick length: such a file is timed as one without a header.
        { "division 0", smfFile(0, 1, 0, quarter), E::EndOfTrack, { 500000 } },
        { "a time-code division is taken as ticks", oneTrack(0xE728, "B9 65 F0 01 F7"),
            E::EndOfTrack, { 62500 } }, // 7397 ticks of 500000 / 59176
        { "a header without a track", chunk("MThd", hex("0000 0001 0030")), E::EndOfImage, {} },
    };
    expectScans(table);
}
