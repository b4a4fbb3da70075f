#pragma once

// Receiving, for the monitor and the tests: an input port that keeps every message it is sent.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace midi {

struct Received {
    std::uint64_t microseconds; // arrival, on the service's monotonic clock
    std::vector<std::uint8_t> bytes; // one whole message
    // Where it arrived on the service's frame counter (JACK: its cycle's first frame plus its
    // offset); 0 where the service counts no frames.
    std::uint32_t frame = 0;
};

class Input {
public:
    virtual ~Input() = default;
    // The name a sender connects to, as the service spells it.
    virtual std::string portName() const = 0;
    // Appends the messages that arrived since the last call to out, in arrival order. Called from
    // one thread.
    virtual void take(std::vector<Received>& out) = 0;
    // Messages that arrived but could not be kept (the queue to the reading thread was full).
    virtual std::uint64_t lost() const = 0;
    // Sends message out of the port that answers for this one, in pieces as the service carries
    // them; false when there is no such port or its queue is full. Called from the thread that
    // takes.
    virtual bool answer(std::span<const std::uint8_t> message) = 0;
};

// The standard CRC-32 (as zlib and .zip files compute it), to compare what arrived with what went.
std::uint32_t crc32(const std::vector<std::uint8_t>& bytes);

} // namespace midi
