// The library's console output, for the tests that check it. The tests run
// with the quiet switch on (main.cpp); these turn it off while f runs.
#pragma once

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "flatav.h"

namespace flatav_test {

// The console trace on, FFmpeg's own log still off, for the object's life.
struct ConsoleOn {
    ConsoleOn()
    {
        LogSettings on{0, 1};
        ff_init(&on);
    }
    ~ConsoleOn()
    {
        LogSettings off{1, 1};
        ff_init(&off);
    }
};

// What f prints to standard output.
template <typename F>
std::string stdout_of(F &&f)
{
    ConsoleOn on;
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    f();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// What f prints to standard error.
template <typename F>
std::string stderr_of(F &&f)
{
    ConsoleOn on;
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}

}  // namespace flatav_test
