#include <gtest/gtest.h>

#include "run_vardex.h"

TEST(Switches, NoArgumentsListsTheDefaultFile) {
    DebugFile file = debug_file().global(3, "score").end();
    RunResult result = run_vardex({}, file);
    EXPECT_EQ(result.out, banner + version_line + "Global 3 \"score\"\n");
    EXPECT_EQ(result.status, 1);
}
