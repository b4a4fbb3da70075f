#include "SMF/_SMF.h"

namespace {

// What a file without a header is read with: the usual 48 ticks per quarter note at 120 beats
// a minute.
constexpr std::uint32_t UInt32_Base = 48;
constexpr std::uint32_t UInt32_Tempo = 500000;

// Bit masks, not times: a delta time (like every length in a track) is a variable-length
// quantity of seven payload bits a byte (Time_Mask), with the continuation bit (Time_Flag) set on
// every byte but the last.
constexpr std::uint32_t Time_Flag = 0x80;
constexpr std::uint32_t Time_Mask = 0x7F;

// Chunk types, the four characters read as one big-endian number.
constexpr std::uint32_t UInt32_MThd = 0x4D546864;
constexpr std::uint32_t UInt32_MTrk = 0x4D54726B;

// A status byte has its top bit set, a data byte has not. Channel messages are 0x80 to 0xEF;
// program change (0xCn) and channel pressure (0xDn) carry one data byte, the others two.
constexpr std::uint8_t UInt8_Status = 0x80;
constexpr std::uint8_t UInt8_ProgramChange = 0xC0;
constexpr std::uint8_t UInt8_PitchBend = 0xE0;

constexpr std::uint8_t UInt8_SysEx = 0xF0;
constexpr std::uint8_t UInt8_Escape = 0xF7;
constexpr std::uint8_t UInt8_Meta = 0xFF;
constexpr std::uint8_t UInt8_EndOfTrack = 0x2F;
constexpr std::uint8_t UInt8_SetTempo = 0x51;

std::size_t dataBytes(std::uint8_t channelStatus)
{
    return channelStatus >= UInt8_ProgramChange && channelStatus < UInt8_PitchBend ? 1 : 2;
}

} // namespace

_SMF::_SMF(void* image, std::size_t length, std::vector<_Event>* events)
    : mBegin(static_cast<std::uint8_t*>(image))
    , mRead(static_cast<std::uint8_t*>(image))
    , mEnd(mRead + length)
    , mItem(mRead)
    , mEvents(events)
    , mBase(UInt32_Base)
    , mTempo(UInt32_Tempo)
    , mDelay(0)
    , mTotal(0)
{
}

_SMF::~_SMF() = default;

std::uint32_t _SMF::Scan()
{
    bool more = true;
    while (more && !mShort) {
        std::uint32_t type = 0;
        std::uint32_t length = 0;
        mItem = mRead;
        Chunk(type, length);
        if (mShort)
            break;
        if (type == UInt32_MThd)
            more = MThd(length);
        else if (type == UInt32_MTrk)
            more = MTrk(length);
        else
            more = Skip(length);
    }
    return mTotal;
}

_SMF::Ending _SMF::ending() const
{
    return mEnding;
}

std::size_t _SMF::stopOffset() const
{
    return static_cast<std::size_t>(mItem - mBegin);
}

void _SMF::Chunk(std::uint32_t& type, std::uint32_t& length)
{
    type = _UInt32();
    length = _UInt32();
}

bool _SMF::MThd(std::uint32_t length)
{
    if (length < 6) {
        mEnding = Ending::RejectedHeader;
        return false;
    }
    const std::uint16_t format = _UInt16();
    const std::uint16_t tracks = _UInt16();
    const std::uint16_t division = _UInt16();
    if (mShort)
        return false;
    if (format != 0 || tracks != 1) {
        mEnding = Ending::RejectedHeader;
        return false;
    }
    // A division of 0 names no tick length at all; rather than divide by it, such a file is timed
    // as one without a header. A time-code division (top bit set) is taken as a tick count.
    mBase = division != 0 ? division : UInt32_Base;
    return Skip(length - 6);
}

bool _SMF::MTrk(std::uint32_t /*length: the track runs to its End of Track, not to its length*/)
{
    bool whole = false; // an event of this track has been read to its last byte
    std::uint8_t running = 0; // the status of the last channel message; 0 when none is in force
    while (!mShort) {
        mItem = mRead;
        if (whole && mRead == mEnd) {
            mEnding = Ending::NoEndOfTrack;
            break;
        }
        const std::uint32_t delta = _UInt();
        // Each delta time is converted by itself with the tempo in force, in 32-bit arithmetic:
        // the product wraps and the quotient is truncated, exactly as players of these files do.
        mDelay += (mTempo * delta) / mBase;
        const std::uint8_t status = Byte();
        if (mShort)
            break;
        // Channel messages hold nothing to send, but their data bytes must be passed over whole:
        // read as delta times and status bytes, they would put the reader out of step with the
        // file, losing SysEx messages and making others out of message bodies.
        if (status >= UInt8_Status && status < UInt8_SysEx) {
            running = status;
            Skip(dataBytes(status));
        } else if (status < UInt8_Status && running != 0) {
            // Running status: the byte just read is the first data byte of another such message.
            Skip(dataBytes(running) - 1);
        } else {
            running = 0;
            if (status == UInt8_SysEx) {
                F0();
            } else if (status == UInt8_Escape) {
                F7();
            } else if (status == UInt8_Meta) {
                if (!FF()) {
                    // FF also stops when the image ends inside the meta event: that is no End of
                    // Track, and the caller must not take the file as read whole.
                    if (!mShort)
                        mEnding = Ending::EndOfTrack;
                    break;
                }
            }
            // Any other byte (a system common or real-time status, which has no place in a file,
            // or a data byte with no running status) is consumed by itself.
        }
        whole = true; // unless the image cut it short, which ends the loop
    }
    return false;
}

void _SMF::F0()
{
    // A length cut off by the end of the image reads as 0 and must not become a record.
    const std::uint32_t length = _UInt();
    if (mShort || !Fits(length))
        return;
    // The last byte of the length becomes the status byte, so that status and body are one
    // contiguous message inside the image.
    mRead[-1] = UInt8_SysEx;
    Add(mRead - 1, length + 1);
    mRead += length;
}

void _SMF::F7()
{
    const std::uint32_t length = _UInt();
    if (mShort || !Fits(length))
        return;
    Add(mRead, length);
    mRead += length;
}

bool _SMF::FF()
{
    const std::uint8_t type = Byte();
    const std::uint32_t length = _UInt();
    if (mShort)
        return false;
    if (type == UInt8_EndOfTrack)
        return false;
    if (type == UInt8_SetTempo) {
        // Always three bytes, whatever the length says; reading goes on right after them.
        const std::uint32_t tempo = _UInt24();
        if (!mShort)
            mTempo = tempo;
        return !mShort;
    }
    return Skip(length);
}

void _SMF::Add(const std::uint8_t* ptr, std::uint32_t size)
{
    if (mEvents) {
        _Event event;
        event.setTime(mDelay);
        event.setPtr(reinterpret_cast<const char*>(ptr));
        event.setSize(size);
        mEvents->push_back(event);
    }
    mDelays += mDelay;
    ++mCount;
    mDelay = 0;
    mTotal += size;
}

// Reports whether count more bytes stand in the image; when they do not, the scan is over, and
// no later read succeeds, however small.
bool _SMF::Fits(std::size_t count)
{
    if (!mShort && count <= static_cast<std::size_t>(mEnd - mRead))
        return true;
    mShort = true;
    return false;
}

bool _SMF::Skip(std::size_t count)
{
    if (!Fits(count))
        return false;
    mRead += count;
    return true;
}

std::uint8_t _SMF::Byte()
{
    if (!Fits(1))
        return 0;
    return *mRead++;
}

std::uint16_t _SMF::_UInt16()
{
    if (!Fits(2))
        return 0;
    const std::uint16_t value = static_cast<std::uint16_t>(mRead[0] << 8 | mRead[1]);
    mRead += 2;
    return value;
}

std::uint32_t _SMF::_UInt24()
{
    if (!Fits(3))
        return 0;
    const std::uint32_t value = std::uint32_t { mRead[0] } << 16 | std::uint32_t { mRead[1] } << 8
        | std::uint32_t { mRead[2] };
    mRead += 3;
    return value;
}

std::uint32_t _SMF::_UInt32()
{
    if (!Fits(4))
        return 0;
    const std::uint32_t value = std::uint32_t { mRead[0] } << 24 | std::uint32_t { mRead[1] } << 16
        | std::uint32_t { mRead[2] } << 8 | std::uint32_t { mRead[3] };
    mRead += 4;
    return value;
}

// At most four bytes. After four bytes that all carry the continuation bit, the value reached so
// far is returned, shifted once more and cut to 32 bits; the fifth byte is not read.
std::uint32_t _SMF::_UInt()
{
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t byte = Byte();
        if (mShort)
            return 0;
        value |= byte & Time_Mask;
        if ((byte & Time_Flag) == 0)
            return value;
        value <<= 7;
    }
    return value;
}
