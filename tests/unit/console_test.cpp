// The Windows console window waits for Enter only when it was opened for
// the program alone and nobody else will read what it shows.
#include <doctest/doctest.h>

#include "orbset.h"

TEST_CASE("the window waits only after a double-click")
{
    CHECK(pauseatexit(1, true, true));
    // Started from a console: the console's shell is attached as well.
    CHECK_FALSE(pauseatexit(2, true, true));
    CHECK_FALSE(pauseatexit(3, true, true));
    // Input or output redirected: a script or a pipe, not a person.
    CHECK_FALSE(pauseatexit(1, false, true));
    CHECK_FALSE(pauseatexit(1, true, false));
    // No console at all.
    CHECK_FALSE(pauseatexit(0, false, false));
}
