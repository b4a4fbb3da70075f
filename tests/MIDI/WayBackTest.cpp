// The device's way back: how its pieces are joined, and which port pairs with a destination. On a
// private JACK server the way back is morvex-send's (SendHeard in tests/Send): which destination
// can answer, and a long answer from morvex-monitor counted as one among the ACKs.

#include "MIDI/JackPairing.h"
#include "MIDI/Rejoiner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using Message = std::vector<std::uint8_t>;
using midi::jack::pairedCapture;
using midi::jack::PortFacts;
using testing::ElementsAre;

// A SysEx across pieces, real-time bytes between any two bytes, a status byte that cuts a SysEx
// short, and a message that is no SysEx.
TEST(Rejoiner, JoinsSysexPiecesWholeCountsRealTimeBytesAndKeepsWhatWasCutShort)
{
    midi::Rejoiner rejoiner;
    std::vector<Message> out;
    for (const Message& piece : std::vector<Message> { { 0xF0, 0x7D, 0x01 }, { 0xF8, 0x02, 0x03 },
             { 0x04, 0xFE, 0xF7, 0x90, 0x3C, 0x40 }, { 0xF0, 0x7E, 0x05 }, { 0xB0, 0x07, 0x64 },
             { 0xF0, 0x01 }, { 0xF0, 0x7E, 0x10, 0x7F, 0x00, 0xF7 } })
        rejoiner.feed(piece, out);
    EXPECT_THAT(out,
        ElementsAre(Message { 0xF0, 0x7D, 0x01, 0x02, 0x03, 0x04, 0xF7 },
            Message { 0x90, 0x3C, 0x40 }, Message { 0xF0, 0x7E, 0x05 },
            Message { 0xB0, 0x07, 0x64 }, Message { 0xF0, 0x01 },
            Message { 0xF0, 0x7E, 0x10, 0x7F, 0x00, 0xF7 }));
    EXPECT_EQ(rejoiner.realTimeBytes(), 2u);
}

// A program's input pairs with its client's one MIDI output; a device's with its capture twin,
// by JACK's name or the card's alias. Two candidates give no way back.
TEST(JackPairing, OnlyACertainTwinIsTheWayBack)
{
    const PortFacts synth { "synth:in", {}, false };
    const PortFacts synthOut { "synth:out", {}, false };
    const PortFacts otherOut { "other:out", {}, false };
    const PortFacts playback { "system:midi_playback_2", { "alsa_pcm:Keys/midi_playback_1" },
        true };
    const PortFacts capture1 { "system:midi_capture_1", { "alsa_pcm:Pads/midi_capture_1" }, true };
    const PortFacts capture2 { "system:midi_capture_2", { "alsa_pcm:Keys/midi_capture_1" }, true };
    const PortFacts a2jIn { "a2j:Keys [20] (playback): Keys MIDI 1",
        { "alsa_pcm:Keys/midi_playback_1" }, true };
    const PortFacts a2jOut { "a2j:Keys [20] (capture): Keys MIDI 1",
        { "alsa_pcm:Keys/midi_capture_1" }, true };

    EXPECT_EQ(pairedCapture(synth, { otherOut, synthOut, capture1 }), "synth:out");
    EXPECT_EQ(pairedCapture(playback, { capture1, capture2, synthOut }), "system:midi_capture_2");
    EXPECT_EQ(pairedCapture(a2jIn, { capture1, a2jOut }), "a2j:Keys [20] (capture): Keys MIDI 1");
    EXPECT_EQ(pairedCapture(playback, { capture2, a2jOut }), "") << "twins by alias and by name";
}

} // namespace
