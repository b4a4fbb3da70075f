#include "SMF/SmfWriter.h"

namespace smf {

namespace {

// A variable-length quantity as a MIDI file writes it.
Bytes vlq(std::uint32_t value)
{
    Bytes groups { static_cast<std::uint8_t>(value & 0x7F) };
    while (value >>= 7)
        groups.insert(groups.begin(), static_cast<std::uint8_t>(0x80 | (value & 0x7F)));
    return groups;
}

} // namespace

SmfWriter::SmfWriter(std::uint16_t division)
    : mDivision(division)
{
}

SmfWriter& SmfWriter::sysex(std::uint32_t delta, std::span<const std::uint8_t> body)
{
    const Bytes time = vlq(delta);
    const Bytes length = vlq(static_cast<std::uint32_t>(body.size()));
    mTrack.insert(mTrack.end(), time.begin(), time.end());
    mTrack.push_back(0xF0);
    mTrack.insert(mTrack.end(), length.begin(), length.end());
    mTrack.insert(mTrack.end(), body.begin(), body.end());
    return *this;
}

SmfWriter& SmfWriter::tempo(std::uint32_t delta, std::uint32_t microsecondsPerQuarter)
{
    const Bytes time = vlq(delta);
    mTrack.insert(mTrack.end(), time.begin(), time.end());
    const Bytes meta { 0xFF, 0x51, 0x03, static_cast<std::uint8_t>(microsecondsPerQuarter >> 16),
        static_cast<std::uint8_t>(microsecondsPerQuarter >> 8),
        static_cast<std::uint8_t>(microsecondsPerQuarter) };
    mTrack.insert(mTrack.end(), meta.begin(), meta.end());
    return *this;
}

Bytes SmfWriter::track() const
{
    Bytes data = mTrack;
    const Bytes end { 0x00, 0xFF, 0x2F, 0x00 };
    data.insert(data.end(), end.begin(), end.end());
    return data;
}

Bytes SmfWriter::file() const
{
    return smfFile(0, 1, mDivision, track());
}

Bytes chunk(std::string_view type, std::span<const std::uint8_t> data)
{
    Bytes bytes(type.begin(), type.end());
    const auto length = static_cast<std::uint32_t>(data.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<std::uint8_t>(length >> shift));
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

Bytes smfFile(std::uint16_t format, std::uint16_t tracks, std::uint16_t division,
    std::span<const std::uint8_t> trackData)
{
    const Bytes header { static_cast<std::uint8_t>(format >> 8), static_cast<std::uint8_t>(format),
        static_cast<std::uint8_t>(tracks >> 8), static_cast<std::uint8_t>(tracks),
        static_cast<std::uint8_t>(division >> 8), static_cast<std::uint8_t>(division) };
    Bytes file = chunk("MThd", header);
    const Bytes track = chunk("MTrk", trackData);
    file.insert(file.end(), track.begin(), track.end());
    return file;
}

} // namespace smf
