// The Windows console window waits for Enter only when it was opened for
// the program alone and nobody else will read what it shows.
#include <gtest/gtest.h>

#include "orbset.h"

TEST(ConsoleWindow, TheWindowWaitsOnlyAfterADoubleClick)
{
    EXPECT_TRUE(pauseatexit(1, true, true));
    // Started from a console: the console's shell is attached as well.
    EXPECT_FALSE(pauseatexit(2, true, true));
    EXPECT_FALSE(pauseatexit(3, true, true));
    // Input or output redirected: a script or a pipe, not a person.
    EXPECT_FALSE(pauseatexit(1, false, true));
    EXPECT_FALSE(pauseatexit(1, true, false));
    // No console at all.
    EXPECT_FALSE(pauseatexit(0, false, false));
}
