#include "Event/_Event.h"

std::uint32_t _Event::time() const
{
    return mTime;
}
void _Event::setTime(std::uint32_t time)
{
    mTime = time;
}

const char* _Event::ptr() const
{
    return mPtr;
}
void _Event::setPtr(const char* ptr)
{
    mPtr = ptr;
}

std::uint32_t _Event::size() const
{
    return mSize;
}
void _Event::setSize(std::uint32_t size)
{
    mSize = size;
}
