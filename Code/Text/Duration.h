#pragma once

#include <cstdint>
#include <string>

namespace text {

// How a time is shown to a person.
enum class DurationStyle {
    // Rounded up to the second, so that it never says 0 while a wait is ahead: "27 s",
    // "4 min 5 s", "1 h 2 min". The window's estimate and time left.
    Words,
    // Rounded up likewise, as a clock shows it: "0:27", "4:05", "1:02:00". A terminal line that
    // changes in place, where the width should not jump.
    Clock,
    // To the millisecond: "6.340 s". What a dry run figures, to be held against a real run.
    Exact,
};

std::string duration(std::uint64_t microseconds, DurationStyle style);

} // namespace text
