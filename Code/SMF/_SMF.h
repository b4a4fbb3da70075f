#pragma once

#include "Event/_Event.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Reads one Standard MIDI File held whole in memory and turns the SysEx content of its first
// track into _Event records, each with its delay in microseconds. Without an events list it only
// counts the bytes those records would hold.
//
// The reader works in place: it writes a 0xF0 in front of each SysEx body (in both modes) so that
// a record can be sent straight from the image. It never reads or writes outside
// [image, image + length). One reader serves one scan of one image; the caller owns the image and
// the list and keeps the image alive as long as any record points into it.
class _SMF {
public:
    // How the scan ended. Only EndOfTrack means the file was read as it was meant to be.
    enum class Ending {
        EndOfTrack, // the first track's End of Track
        RejectedHeader, // a header that is not format 0 with one track, or shorter than 6 bytes
        EndOfImage, // the image ended first: a truncated file, or one without a track
    };

    _SMF(void* image, std::size_t length, std::vector<_Event>* events);
    virtual ~_SMF();

    _SMF(const _SMF&) = delete;
    _SMF& operator=(const _SMF&) = delete;

    // Reads chunks until a header is rejected, the first track has ended or the image ends, and
    // returns the total bytes of the recorded messages (modulo 2^32).
    std::uint32_t Scan();

    // Meaningful after Scan.
    Ending ending() const;

private:
    void Chunk(std::uint32_t& type, std::uint32_t& length);
    bool MThd(std::uint32_t length);
    bool MTrk(std::uint32_t length);
    void F0();
    void F7();
    bool FF();
    void Add(const std::uint8_t* ptr, std::uint32_t size);

    std::uint8_t Byte();
    std::uint16_t _UInt16();
    std::uint32_t _UInt24();
    std::uint32_t _UInt32();
    std::uint32_t _UInt();

    bool Fits(std::size_t count);
    bool Skip(std::size_t count);

    std::uint8_t* mRead;
    std::uint8_t* mEnd; // one past the image's last byte
    std::vector<_Event>* mEvents; // null: counting mode
    std::uint32_t mBase; // division: ticks per quarter note
    std::uint32_t mTempo; // microseconds per quarter note
    std::uint32_t mDelay; // microseconds since the last recorded message
    std::uint32_t mTotal; // bytes of all recorded messages
    bool mShort = false; // a read would have passed the end of the image
    Ending mEnding = Ending::EndOfImage;
};
