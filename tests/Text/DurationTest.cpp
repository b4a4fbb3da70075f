// Times as a person reads them. The rounded styles round up, so that a wait still ahead never
// shows as nothing; the exact one is what a dry run is held against.
#include "Text/Duration.h"

#include <gtest/gtest.h>
#include <tuple>

using text::DurationStyle;

TEST(Duration, RoundedStylesNeverShowAWaitAsNothingAndTheExactOneKeepsMilliseconds)
{
    const std::tuple<std::uint64_t, const char*, const char*> rounded[]
        = { { 1, "1 s", "0:01" }, { 59000001, "1 min 0 s", "1:00" },
              { 3599000001, "1 h 0 min", "1:00:00" }, { 7260000000, "2 h 1 min", "2:01:00" } };
    for (const auto& [microseconds, words, clock] : rounded) {
        EXPECT_EQ(text::duration(microseconds, DurationStyle::Words), words) << microseconds;
        EXPECT_EQ(text::duration(microseconds, DurationStyle::Clock), clock) << microseconds;
    }
    EXPECT_EQ(text::duration(6340499, DurationStyle::Exact), "6.340 s");
}
