#include "MIDI/Rejoiner.h"

namespace midi {

void Rejoiner::feed(
    std::span<const std::uint8_t> piece, std::vector<std::vector<std::uint8_t>>& out)
{
    std::vector<std::uint8_t> other; // the piece's message that is no SysEx, if any
    const auto endOther = [&] {
        if (!other.empty())
            out.push_back(std::move(other));
        other.clear();
    };
    for (const std::uint8_t byte : piece) {
        if (byte >= 0xF8) {
            ++mRealTime;
        } else if (byte == 0xF0) {
            endOther();
            if (!mSysex.empty())
                out.push_back(std::move(mSysex));
            mSysex.assign(1, byte);
        } else if (!mSysex.empty() && (byte < 0x80 || byte == 0xF7)) {
            mSysex.push_back(byte);
            if (byte == 0xF7) {
                out.push_back(std::move(mSysex));
                mSysex.clear();
            }
        } else {
            if (!mSysex.empty()) {
                out.push_back(std::move(mSysex));
                mSysex.clear();
            }
            other.push_back(byte);
        }
    }
    endOther();
}

} // namespace midi
