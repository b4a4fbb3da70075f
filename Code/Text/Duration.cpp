#include "Text/Duration.h"

#include <cstdio>

namespace text {

std::string duration(std::uint64_t microseconds, DurationStyle style)
{
    char text[48];
    if (style == DurationStyle::Exact) {
        std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(microseconds) / 1e6);
        return text;
    }
    const auto seconds = static_cast<unsigned long long>((microseconds + 999999) / 1000000);
    const unsigned long long hours = seconds / 3600, minutes = seconds / 60 % 60;
    if (style == DurationStyle::Clock) {
        if (hours > 0)
            std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", hours, minutes, seconds % 60);
        else
            std::snprintf(text, sizeof text, "%llu:%02llu", minutes, seconds % 60);
    } else if (seconds < 60) {
        std::snprintf(text, sizeof text, "%llu s", seconds);
    } else if (hours == 0) {
        std::snprintf(text, sizeof text, "%llu min %llu s", minutes, seconds % 60);
    } else {
        std::snprintf(text, sizeof text, "%llu h %llu min", hours, minutes);
    }
    return text;
}

} // namespace text
