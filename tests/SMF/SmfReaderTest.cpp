// The SMF reader, concern by concern: chunks and header, delta times, what becomes a record, and
// bounds. Counting mode, which keeps no records, is the fuzz target's to compare with this scan.
// Lengths far past the end of the file, which no position arithmetic may wrap, are the fuzz
// target's: its seed corpus holds one of each kind (header, other chunk, SysEx, escape, meta).
#include "support/Scanned.h"
#include "support/SmfBuilder.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>

using namespace smf;
using namespace testsupport;

// A format 0 file of one track: the track bytes given as hex text, then End of Track.
static Bytes oneTrack(std::uint16_t division, const std::string& track)
{
    return SmfBuilder(division).raw(hex(track)).file();
}

// What each file's scan gives: the delays of its records, and how it ends.
TEST(SmfScan, HeaderDeltaTimesAndChannelMessagesGiveTheDelaysOfTheRecords)
{
    // One SysEx after 48 ticks: its delay tells the division in force.
    const Bytes quarter = hex("30 F0 01 F7 00 FF 2F 00");
    const Bytes track = chunk("MTrk", quarter);
    const Bytes other = chunk("MTrk", hex("00 F0 03 01 02 F7 00 FF 2F 00"));
    const Bytes header10 = chunk("MThd", hex("0000 0001 0060 F0 01 F7 00"));
    const std::string perTick = "00 FF 51 03 00 00 01";
    using enum _SMF::Ending;
    struct Row {
        const char* name;
        Bytes file;
        std::vector<std::uint32_t> delays;
        _SMF::Ending ending = EndOfTrack;
    };
    const Row rows[] = {
        { "format 1", smfFile(1, 1, 48, quarter), {}, RejectedHeader },
        { "two tracks", smfFile(0, 2, 48, quarter), {}, RejectedHeader },
        { "5 header bytes", chunk("MThd", hex("0000 0001 00")) + track, {}, RejectedHeader },
        // The header's bytes after the sixth, and chunks of other types, are skipped by length.
        { "skipped bytes", header10 + chunk("XFIH", other) + track, { 250000 } },
        // A track with no header before it is timed as 48 ticks at 120 beats a minute.
        { "a second track is never read", track + other, { 500000 } },
        // A division of 0 names no tick length: such a file is timed as one without a header.
        { "division 0", smfFile(0, 1, 0, quarter), { 500000 } },
        // 7397 ticks at 500000 / 59176 microseconds each.
        { "a time-code division is ticks", oneTrack(0xE728, "B9 65 F0 01 F7"), { 62500 } },

        // A tick is 10416.67 microseconds: two of them truncated each make 20832, not 20833.
        { "truncated each, meta too", oneTrack(48, "01 FF 01 00 01 F7 00 60 F7 00"),
            { 20832, 1000000 } },
        // A meta event of 200 bytes FF is skipped whole: any of them read as a status would start
        // another meta event.
        { "long meta event", oneTrack(48, "00 FF 01 81 48" + std::string(400, 'F') + "30 F7 00"),
            { 500000 } },
        // Variable-length quantities at one microsecond a tick: the value becomes the delay, and
        // one that took a byte too many or too few would not end right before its escape event.
        { "FF FF FF 7F", oneTrack(1, perTick + "FF FF FF 7F F7 01 55"), { 268435455 } },
        { "FF FF FF FF", oneTrack(1, perTick + "FF FF FF FF F7 01 55"), { 4294967168 } },

        // Channel messages are read whole and recorded as nothing; their delta times still count.
        { "bank select and program change before a SysEx",
            oneTrack(48, "30 B0 00 01 30 C0 05 30 F0 01 F7"), { 1500000 } },
        // A note on and another under its running status, a note off, then channel pressure and
        // another under its running status.
        { "running status between SysEx messages",
            oneTrack(48, "00 F0 01 F7 30 90 3C 64 30 3E 64 30 80 3C 00 30 D0 10 30 20 30 F0 01 F7"),
            { 0, 3000000 } },
        { "data bytes are read whatever they are", oneTrack(48, "30 E0 F0 01 30 F7 01 55"),
            { 1000000 } },
        { "cut by the end of the image", chunk("MTrk", hex("00 F0 01 F7 30 C0")), { 0 }, CutShort },
        // None at the start of the track, and a meta event clears it: each 3C stands alone, as
        // any stray byte does.
        { "a data byte with no running status",
            oneTrack(48, "30 3C 00 90 3C 40 00 FF 01 00 30 3C 30 F7 01 55"), { 1500000 } },
    };
    for (const auto& [name, file, delays, ending] : rows) {
        SCOPED_TRACE(name);
        const Scanned s = scan(file);
        EXPECT_EQ(s.ending, ending);
        EXPECT_EQ(s.each(&_Event::time), delays);
    }
}

// Every kind of item the reader meets. The track's data start at 22: 00 F0 [05] 7E 7F 09 01 F7,
// 00 F7 03 [F8 F8 F8], 30 F7 00 [] (an empty record points after its length), 00 F0 81 [48] and
// 200 bytes; then 48 ticks at the old tempo, a Set Tempo of length 4 whose fourth byte is 48 more
// ticks at the new tempo, a text event, a note on, another under running status 48 ticks later, and
// [55] at 267. Cut anywhere, the file keeps the messages that stand whole before the cut, and the
// scan stops at the first byte of the item the cut fell in. A cut between two events is no damage:
// the file only lacks its End of Track. scan() gives each image a buffer of exactly its size, so
// AddressSanitizer sees any stray access.
TEST(SmfEvents, SysExGetsF0OverItsLastLengthByteAndACutFileKeepsTheMessagesBeforeTheCut)
{
    SmfBuilder builder;
    builder.raw(hex("00 F0 05 7E 7F 09 01 F7 00 F7 03 F8 F8 F8 30 F7 00")).sysexOfSize(0, 201, 3);
    builder.raw(hex("30 FF 51 04 0F 42 40 30 FF 01 03 41 42 43 00 90 3C 40 30 3E 40 00 F7 01 55"));
    const Bytes file = builder.file();
    const Scanned s = scan(file);
    const std::vector<Record> whole
        = { { 24, 0, hex("F0 7E 7F 09 01 F7") }, { 33, 0, hex("F8 F8 F8") }, { 39, 500000, {} },
              { 42, 0, builder.messages()[0] }, { 267, 500000 + 2 * 1000000, hex("55") } };
    EXPECT_EQ(s.records(), whole);
    Bytes expected = file;
    expected[24] = expected[42] = 0xF0;
    EXPECT_EQ(s.image, expected) << "only the last length byte of each SysEx changes";

    // Where the header chunk, the track chunk and each of the track's events begin.
    const std::vector<std::size_t> items = { 0, 14, 22, 30, 36, 39, 243, 250, 257, 261, 264, 268 };
    for (std::size_t cut = 0; cut < file.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(file.size()));
        const Scanned part = scan(std::span(file).first(cut));
        const std::size_t item = *std::prev(std::upper_bound(items.begin(), items.end(), cut));
        EXPECT_EQ(part.stop, item);
        // Cut right after the track's chunk header, the file holds no event at all.
        const bool between = cut == item && cut > 22;
        EXPECT_EQ(part.ending, between ? _SMF::Ending::NoEndOfTrack : _SMF::Ending::CutShort);
        std::vector<Record> kept = whole;
        std::erase_if(kept, [cut](const Record& r) { return get<0>(r) + get<2>(r).size() > cut; });
        EXPECT_EQ(part.records(), kept);
    }
}
