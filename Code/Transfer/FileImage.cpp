#include "FileImage.h"

#include "Process/FileDescriptor.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace transfer {
namespace {

// A size as a person reads it: "1.0 TiB", "512.0 KiB", "300 bytes".
std::string sizeText(std::uint64_t bytes)
{
    static const char* const Units[] = { "KiB", "MiB", "GiB", "TiB", "PiB", "EiB" };
    if (bytes < 1024)
        return std::to_string(bytes) + " bytes";
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(Units)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, Units[unit]);
    return text;
}

// The machine's memory: a file larger than this cannot be held, and trying would only push the
// rest of the desktop out to swap first.
std::uint64_t physicalMemory()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? static_cast<std::uint64_t>(pages) * pageSize : UINT64_MAX;
}

FileImage failed(const std::string& why)
{
    return { {}, "could not be read: " + why };
}

FileImage tooLarge(std::uint64_t size)
{
    return { {}, "is too large to read: " + sizeText(size) };
}

} // namespace

FileImage readFileImage(const std::string& path)
{
    // O_NONBLOCK keeps a pipe that bears a listed name from blocking the open; it changes nothing
    // for a regular file.
    const process::FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file.valid())
        return failed(std::strerror(errno));
    struct stat status { };
    if (::fstat(file.get(), &status) != 0)
        return failed(std::strerror(errno));
    if (S_ISDIR(status.st_mode))
        return failed("it is a folder");
    if (!S_ISREG(status.st_mode))
        return failed("it is not a regular file");
    const auto size = static_cast<std::uint64_t>(status.st_size);
    if (size >= physicalMemory())
        return tooLarge(size);
    try {
        // One byte more than the size found, so that the end is seen without growing the buffer;
        // a file that grows meanwhile is still read whole.
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size) + 1);
        std::size_t used = 0;
        for (;;) {
            if (used == bytes.size())
                bytes.resize(bytes.size() * 2);
            const ssize_t count = ::read(file.get(), bytes.data() + used, bytes.size() - used);
            if (count == 0)
                break;
            if (count < 0 && errno != EINTR)
                return failed(std::strerror(errno));
            if (count > 0)
                used += static_cast<std::size_t>(count);
        }
        bytes.resize(used);
        return { std::move(bytes), {} };
    } catch (const std::bad_alloc&) {
        return tooLarge(size);
    } catch (const std::length_error&) {
        return tooLarge(size);
    }
}

} // namespace transfer
