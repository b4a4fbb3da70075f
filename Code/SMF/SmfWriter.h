#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace smf {

using Bytes = std::vector<std::uint8_t>;

// Builds a format-0, one-track Standard MIDI File event by event; file() closes the track with
// End of Track and puts header and track chunk around it.
class SmfWriter {
public:
    explicit SmfWriter(std::uint16_t division = 48);

    // A SysEx event whose body (the bytes after F0, its closing F7 included) is given.
    SmfWriter& sysex(std::uint32_t delta, std::span<const std::uint8_t> body);
    SmfWriter& tempo(std::uint32_t delta, std::uint32_t microsecondsPerQuarter);

    Bytes track() const; // the track data, End of Track included
    Bytes file() const;

protected:
    Bytes mTrack; // tests add bytes of their own (tests/support/SmfBuilder.h)

private:
    std::uint16_t mDivision;
};

// A header chunk with the given fields and a track chunk around trackData.
Bytes smfFile(std::uint16_t format, std::uint16_t tracks, std::uint16_t division,
    std::span<const std::uint8_t> trackData);
Bytes chunk(std::string_view type, std::span<const std::uint8_t> data);

} // namespace smf
