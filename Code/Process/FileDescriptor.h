#pragma once

#include <utility>

namespace process {

// Owns one file descriptor and closes it when it goes; -1 owns nothing.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int descriptor)
        : mDescriptor(descriptor)
    {
    }
    FileDescriptor(FileDescriptor&& other) noexcept
        : mDescriptor(std::exchange(other.mDescriptor, -1))
    {
    }
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        std::swap(mDescriptor, other.mDescriptor);
        return *this;
    }
    ~FileDescriptor();

    int get() const { return mDescriptor; }
    bool valid() const { return mDescriptor >= 0; }

private:
    int mDescriptor = -1;
};

} // namespace process
