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
    const Bytes header10 = chunk("MThd", hex("0000 0001 0060 F0 01 F7 00"));
    const auto rejected = _SMF::Ending::RejectedHeader;
    expectScans({
        { "a track alone is timed as 48 ticks at 120 bpm", track, { 500000 } },
        { "format 1", smfFile(1, 1, 48, quarter), {}, rejected },
        { "two tracks", smfFile(0, 2, 48, quarter), {}, rejected },
        { "5 header bytes", concat({ chunk("MThd", hex("0000 0001 00")), track }), {}, rejected },
        // The header's bytes after the sixth, and chunks of other types, are skipped by length.
        { "long header, other chunk", concat({ header10, chunk("XFIH", other), track }),
            { 250000 } },
        { "a second track is never read", concat({ track, other }), { 500000 } },
        // A division of 0 names no tick length: such a file is timed as one without a header.
        { "division 0", smfFile(0, 1, 0, quarter), { 500000 } },
        // 7397 ticks at 500000 / 59176 microseconds each.
        { "a time-code division is ticks", oneTrack(0xE728, "B9 65 F0 01 F7"), { 62500 } },
        { "no track", chunk("MThd", hex("0000 0001 0030")), {}, _SMF::Ending::EndOfImage },
    });
}
