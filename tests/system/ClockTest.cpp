#include <doctest.h>

#include "system/Clock.h"

TEST_CASE("clock differences")
{
    CHECK(ClockDifference(100, 350) == 250);
    // Across the 32-bit wrap the difference stays small.
    CHECK(ClockDifference(0xFFFFFFF0, 0x10) == 0x20);
}
