#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace midi {

// Joins what a MIDI service delivers in pieces into whole messages: a SysEx runs from its F0 to
// its F7 across any number of pieces; a status byte before its F7 ends it cut short, as it stands.
// Anything else is taken to come whole in its piece. Real-time bytes (F8 to FF) may come between
// any two bytes, inside a SysEx too: they are counted and left out.
class Rejoiner {
public:
    // Appends to out each message that this piece completes.
    void feed(std::span<const std::uint8_t> piece, std::vector<std::vector<std::uint8_t>>& out);
    std::uint64_t realTimeBytes() const { return mRealTime; }

private:
    std::vector<std::uint8_t> mSysex; // a SysEx begun and not yet ended; empty when none
    std::uint64_t mRealTime = 0;
};

} // namespace midi
