#pragma once

#include <cstdint>

// One message to send: how long to wait before it, and where its bytes stand in the file image.
// A record does not own its bytes; the image it points into must outlive it. Records are values:
// the events list that holds them owns them.
class _Event {
public:
    std::uint32_t time() const;
    void setTime(std::uint32_t time);

    const char* ptr() const;
    void setPtr(const char* ptr);

    std::uint32_t size() const;
    void setSize(std::uint32_t size);

private:
    std::uint32_t mTime = 0; // microseconds to wait before sending
    const char* mPtr = nullptr; // first byte of the message inside the file image
    std::uint32_t mSize = 0; // bytes from mPtr on
};
