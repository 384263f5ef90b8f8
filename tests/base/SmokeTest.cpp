#include <doctest.h>

TEST_CASE("smoke") { CHECK(1 + 1 == 2); }
