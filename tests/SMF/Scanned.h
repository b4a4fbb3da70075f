#pragma once

#include "SMF/_SMF.h"
#include "support/Smf.h"

#include <span>
#include <string>
#include <vector>

namespace testsupport {

// What one scan of a file left behind. The image is the scanned copy: the events point into it
// and stay valid as long as this object lives, moves included.
struct Scanned {
    std::uint32_t total = 0;
    _SMF::Ending ending = _SMF::Ending::EndOfImage;
    std::vector<_Event> events;
    Bytes image;

    std::vector<std::uint32_t> delays() const;
    Bytes bytesOf(const _Event& event) const;
    std::size_t offsetOf(const _Event& event) const;
};

// Scans a copy of file with an events list and another copy in counting mode, each copy exactly
// as large as the file so that AddressSanitizer sees any access past it. Adds a test failure if
// the two modes disagree on the total, the ending or the resulting image, or if a record lies
// outside the image.
Scanned scan(std::span<const std::uint8_t> file);

Bytes concat(std::initializer_list<Bytes> parts);

std::string endingName(_SMF::Ending ending);

} // namespace testsupport
