#pragma once

// Header only, without GoogleTest, so that the benchmarks and the fuzz target's corpus use it too.

#include "SMF/SmfWriter.h"
#include "support/Sysex.h"

#include <cctype>
#include <string>

namespace testsupport {

using smf::Bytes;

// Bytes written as text, for files spelled out in code: "F0 05 7E 7F". White space is ignored;
// the rest is whole hex bytes.
inline Bytes hex(std::string_view text)
{
    std::string digits(text);
    std::erase_if(digits, [](unsigned char c) { return std::isspace(c); });
    Bytes bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

inline Bytes operator+(Bytes front, const Bytes& back)
{
    front.insert(front.end(), back.begin(), back.end());
    return front;
}

// The writer with what files made for tests need besides: messages of a given size, track bytes
// as they stand, and the messages a reader should record.
class SmfBuilder : public smf::SmfWriter {
public:
    using SmfWriter::SmfWriter;

    SmfBuilder& sysex(std::uint32_t delta, std::span<const std::uint8_t> body)
    {
        SmfWriter::sysex(delta, body);
        mMessages.push_back(Bytes { 0xF0 } + Bytes(body.begin(), body.end()));
        return *this;
    }
    // A SysEx event of size bytes in all (F0 ... F7), at least 2, its data a pattern seeded by
    // seed.
    SmfBuilder& sysexOfSize(std::uint32_t delta, std::uint32_t size, std::uint8_t seed = 0)
    {
        const Bytes message = testsupport::sysex(size, seed);
        return sysex(delta, std::span(message).subspan(1));
    }
    SmfBuilder& tempo(std::uint32_t delta, std::uint32_t microsecondsPerQuarter)
    {
        SmfWriter::tempo(delta, microsecondsPerQuarter);
        return *this;
    }
    // Track bytes as they stand, delta times included.
    SmfBuilder& raw(std::span<const std::uint8_t> bytes)
    {
        mTrack.insert(mTrack.end(), bytes.begin(), bytes.end());
        return *this;
    }

    // The whole messages (F0 included) in file order.
    const std::vector<Bytes>& messages() const { return mMessages; }

private:
    std::vector<Bytes> mMessages;
};

} // namespace testsupport
