// Test main: the library's console trace stays off unless a test turns it
// on, so that test output shows failures only. Run with "--quiet-jobs", the
// program is instead the silent child of the quiet test.
#include <cstring>

#include <gtest/gtest.h>

#include "flatav.h"

// Defined by quiet_test.cpp.
int run_quiet_jobs();

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--quiet-jobs") == 0)
        return run_quiet_jobs();
    testing::InitGoogleTest(&argc, argv);
    LogSettings settings{1, 1};
    ff_init(&settings);
    return RUN_ALL_TESTS();
}
