// Test main: the library's console trace stays off unless a test turns it
// on, so that test output shows failures only.
#include <gtest/gtest.h>

#include "flatav.h"

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    LogSettings settings{1, 1};
    ff_init(&settings);
    return RUN_ALL_TESTS();
}
