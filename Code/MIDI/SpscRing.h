#pragma once

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <span>
#include <vector>

namespace midi {

// A byte queue between one producing and one consuming thread, without locks and without
// allocation after construction, so JACK's process callback may use either end. Used instead of
// jack_ringbuffer because its positions are acquire/release atomics: ordered on every processor
// and visible to ThreadSanitizer.
class SpscRing {
public:
    explicit SpscRing(std::size_t capacity); // rounded up to a power of two

    // Producer: appends the parts as one record, all or nothing; false when they do not fit.
    bool write(std::initializer_list<std::span<const std::byte>> parts) noexcept
    {
        const std::size_t head = mWritten.load(std::memory_order_relaxed);
        std::size_t size = 0;
        for (const auto& part : parts)
            size += part.size();
        if (size > mBytes.size() - (head - mRead.load(std::memory_order_acquire)))
            return false;
        std::size_t at = head;
        for (const auto& part : parts) {
            copy(part, at);
            at += part.size();
        }
        mWritten.store(at, std::memory_order_release);
        return true;
    }

    // Consumer: how many bytes can be read.
    std::size_t readable() const noexcept
    {
        return mWritten.load(std::memory_order_acquire) - mRead.load(std::memory_order_relaxed);
    }

    // Consumer: copies into.size() bytes starting offset bytes past the read end, leaving them.
    void peek(std::span<std::byte> into, std::size_t offset = 0) const noexcept
    {
        const std::size_t from = (mRead.load(std::memory_order_relaxed) + offset) & mMask;
        const std::size_t first = std::min(into.size(), mBytes.size() - from);
        std::memcpy(into.data(), mBytes.data() + from, first);
        std::memcpy(into.data() + first, mBytes.data(), into.size() - first);
    }

    // Consumer: drops count bytes, making room for the producer.
    void consume(std::size_t count) noexcept
    {
        mRead.store(mRead.load(std::memory_order_relaxed) + count, std::memory_order_release);
    }

private:
    void copy(std::span<const std::byte> part, std::size_t at) noexcept
    {
        const std::size_t to = at & mMask;
        const std::size_t first = std::min(part.size(), mBytes.size() - to);
        std::memcpy(mBytes.data() + to, part.data(), first);
        std::memcpy(mBytes.data(), part.data() + first, part.size() - first);
    }

    std::vector<std::byte> mBytes;
    std::size_t mMask;
    // Bytes written and read since the start; they only grow, and wrap together.
    std::atomic<std::size_t> mWritten { 0 };
    std::atomic<std::size_t> mRead { 0 };
};

inline SpscRing::SpscRing(std::size_t capacity)
    : mBytes(std::bit_ceil(capacity))
    , mMask(mBytes.size() - 1)
{
}

} // namespace midi
