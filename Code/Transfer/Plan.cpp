#include "Transfer/Plan.h"

#include "FileImage.h"
#include "Text/Printable.h"

#include <algorithm>
#include <cmath>

namespace transfer {

FileReading sizeFile(const std::string& path)
{
    FileImage image = readFileImage(path);
    if (!image.read())
        return { std::nullopt, image.error };
    _SMF reader(image.bytes.data(), image.bytes.size(), nullptr);
    const std::uint32_t total = reader.Scan();
    return { FileSize {
                 total, reader.count(), reader.delays(), reader.ending(), reader.stopOffset() },
        {} };
}

std::string judgeReading(const std::string& name, const FileReading& reading)
{
    const std::string shown = text::printable(name);
    if (!reading.size)
        return shown + " " + reading.error + ".";
    const std::string at = std::to_string(reading.size->stopOffset);
    switch (reading.size->ending) {
    case _SMF::Ending::EndOfTrack:
        return {};
    case _SMF::Ending::RejectedHeader:
        return shown + " is not a format-0 MIDI file with one track.";
    case _SMF::Ending::CutShort:
        return shown + " ends before its end of track: it is cut off at byte " + at + ".";
    case _SMF::Ending::NoEndOfTrack:
        return shown + " has no end of track after its last message (byte " + at
            + "); its messages are whole.";
    }
    return {};
}

bool isDamaged(const FileReading& reading)
{
    return !reading.size
        || (reading.size->ending != _SMF::Ending::EndOfTrack
            && reading.size->ending != _SMF::Ending::NoEndOfTrack);
}

Plan::Plan(std::vector<File> files)
    : mFiles(std::move(files))
{
}

Plan Plan::read(const std::string& folder, const std::vector<std::string>& names)
{
    std::vector<File> files;
    files.reserve(names.size());
    for (const std::string& name : names)
        files.push_back({ name, sizeFile(folder + "/" + name) });
    return Plan(std::move(files));
}

std::uint64_t Plan::messages() const
{
    std::uint64_t sum = 0;
    for (const File& file : mFiles)
        sum += file.reading.size ? file.reading.size->messages : 0;
    return sum;
}

std::uint64_t Plan::bytes() const
{
    std::uint64_t sum = 0;
    for (const File& file : mFiles)
        sum += file.reading.size ? file.reading.size->total : 0;
    return sum;
}

std::uint64_t stretched(std::uint64_t microseconds, double slower)
{
    if (slower <= 1)
        return microseconds;
    return static_cast<std::uint64_t>(std::ceil(static_cast<double>(microseconds) * slower));
}

std::uint64_t Plan::microseconds(std::size_t index, double bytesPerSecond, double slower) const
{
    const std::optional<FileSize>& size = mFiles[index].reading.size;
    if (!size)
        return 0;
    return stretched((index != 0 ? Time_FilePause : 0) + size->delays, slower)
        + wireMicroseconds(size->total, bytesPerSecond / std::max(slower, 1.0));
}

std::uint64_t Plan::microsecondsFrom(std::size_t index, double bytesPerSecond, double slower) const
{
    std::uint64_t sum = 0;
    for (std::size_t i = index; i < mFiles.size(); ++i)
        sum += microseconds(i, bytesPerSecond, slower);
    return sum;
}

std::vector<std::string> Plan::remarks() const
{
    std::vector<std::string> remarks;
    for (const File& file : mFiles)
        if (std::string remark = judgeReading(file.name, file.reading); !remark.empty())
            remarks.push_back(std::move(remark));
    return remarks;
}

bool Plan::anyDamaged() const
{
    for (const File& file : mFiles)
        if (isDamaged(file.reading))
            return true;
    return false;
}

std::uint64_t wireMicroseconds(std::uint64_t bytes, double bytesPerSecond)
{
    if (bytesPerSecond <= 0)
        return 0;
    return static_cast<std::uint64_t>(std::ceil(static_cast<double>(bytes) * 1e6 / bytesPerSecond));
}

} // namespace transfer
