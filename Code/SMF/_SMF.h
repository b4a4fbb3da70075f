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
    // How the scan ended. EndOfTrack is a file read as it was meant to be; after NoEndOfTrack
    // every message read is whole, but the track lacks the event that closes it; the other two
    // are a file that must not be taken for an update.
    enum class Ending {
        EndOfTrack, // the first track's End of Track
        RejectedHeader, // a header that is not format 0 with one track, or shorter than 6 bytes
        // The image ended inside a chunk header or an event: a cut file. An image that ends
        // before its track's first event (only a header, or a track chunk with no events) counts
        // here too: nothing was read that could be sent, so it is no update file either.
        CutShort,
        // The image ended right after a whole event, where the next event's delta time would
        // begin, and no End of Track came before.
        NoEndOfTrack,
    };

    _SMF(void* image, std::size_t length, std::vector<_Event>* events);
    // Virtual although nothing overrides a function here: the reader is a base class by design,
    // and one derived from it must be deletable through it.
    virtual ~_SMF();

    _SMF(const _SMF&) = delete;
    _SMF& operator=(const _SMF&) = delete;

    // Reads chunks until a header is rejected, the first track has ended or the image ends, and
    // returns the total bytes of the recorded messages (modulo 2^32).
    std::uint32_t Scan();

    // Meaningful after Scan.
    Ending ending() const;
    // Where the scan stopped, in bytes from the start of the image: the first byte of the item it
    // ended on, so that a message can point a person at it. That item is the End of Track event
    // (its delta time included), the rejected header chunk, or the chunk or event that the image
    // cut short; when the image ended between two items (after a whole event, or before the
    // track's first one) it is the image's length, where the next item would have begun.
    // Meaningful after Scan.
    std::size_t stopOffset() const;

    // What the recorded messages add up to, in both modes, so that counting mode alone tells how
    // long a file takes: their number, and the sum of their delays in microseconds (without the
    // wrap a single delay has). Meaningful after Scan.
    std::uint32_t count() const { return mCount; }
    std::uint64_t delays() const { return mDelays; }

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

    const std::uint8_t* mBegin; // the image's first byte
    std::uint8_t* mRead;
    std::uint8_t* mEnd; // one past the image's last byte
    const std::uint8_t* mItem; // first byte of the chunk or event being read
    std::vector<_Event>* mEvents; // null: counting mode
    std::uint32_t mBase; // division: ticks per quarter note
    std::uint32_t mTempo; // microseconds per quarter note
    std::uint32_t mDelay; // microseconds since the last recorded message
    std::uint32_t mTotal; // bytes of all recorded messages
    std::uint32_t mCount = 0; // recorded messages
    std::uint64_t mDelays = 0; // microseconds, the sum of the recorded messages' delays
    bool mShort = false; // a read would have passed the end of the image
    Ending mEnding = Ending::CutShort;
};
