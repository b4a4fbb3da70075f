#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace smf {

using Bytes = std::vector<std::uint8_t>;

// A variable-length quantity as a MIDI file writes it.
Bytes vlq(std::uint32_t value);

// Bytes written as text, for files spelled out in code: "F0 05 7E 7F". White space is ignored.
// Throws std::invalid_argument for anything but whole hex bytes: such a text is a typing error.
Bytes hex(std::string_view text);

// Builds a format-0, one-track Standard MIDI File event by event; file() closes the track with
// End of Track and puts header and track chunk around it.
class SmfWriter {
public:
    explicit SmfWriter(std::uint16_t division = 48);

    // A SysEx event whose body (the bytes after F0, its closing F7 included) is given.
    SmfWriter& sysex(std::uint32_t delta, std::span<const std::uint8_t> body);
    // A SysEx event of size bytes in all (F0 ... F7), its data a pattern seeded by seed.
    SmfWriter& sysexOfSize(std::uint32_t delta, std::uint32_t size, std::uint8_t seed = 0);
    SmfWriter& tempo(std::uint32_t delta, std::uint32_t microsecondsPerQuarter);
    // Track bytes as they stand, delta times included.
    SmfWriter& raw(std::span<const std::uint8_t> bytes);

    Bytes track() const; // the track data, End of Track included
    Bytes file() const;

    // The whole messages (F0 included) in file order, as a reader should record them.
    const std::vector<Bytes>& messages() const { return mMessages; }

private:
    std::uint16_t mDivision;
    Bytes mTrack;
    std::vector<Bytes> mMessages;
};

// A header chunk with the given fields and a track chunk around trackData.
Bytes smfFile(std::uint16_t format, std::uint16_t tracks, std::uint16_t division,
    std::span<const std::uint8_t> trackData);
Bytes chunk(std::string_view type, std::span<const std::uint8_t> data);

} // namespace smf
