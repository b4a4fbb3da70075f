#pragma once

#include "support/Sysex.h"
#include "support/TempDir.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace testsupport {

// The messages one after the other, as a receiver that keeps every byte saves them.
inline Bytes joined(const std::vector<Bytes>& messages)
{
    Bytes all;
    for (const Bytes& message : messages)
        all.insert(all.end(), message.begin(), message.end());
    return all;
}

// The file's bytes after the first from; none when it cannot be read.
inline Bytes readBytes(const std::filesystem::path& file, std::size_t from = 0)
{
    const std::string text = readText(file);
    return { text.begin() + static_cast<std::ptrdiff_t>(std::min(from, text.size())), text.end() };
}

// Where the bytes differ, rather than thousands of them.
inline ::testing::AssertionResult same(const Bytes& got, const Bytes& sent)
{
    if (got == sent)
        return ::testing::AssertionSuccess();
    const auto differ = std::mismatch(got.begin(), got.end(), sent.begin(), sent.end());
    return ::testing::AssertionFailure()
        << got.size() << " of " << sent.size() << " bytes arrived, the first "
        << (differ.first - got.begin()) << " as sent";
}

} // namespace testsupport
