// The library's console output, for the tests that check it. The tests run
// with the quiet switch on (main.cpp); these turn it off while f runs, with
// FFmpeg's own log still off.
#pragma once

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "flatav.h"

namespace flatav_test {

// What f prints to standard output (err false) or standard error (err true).
template <typename F>
std::string printed_by(F &&f, bool err)
{
    LogSettings on{0, 1}, off{1, 1};
    ff_init(&on);
    std::fflush(stdout);
    err ? testing::internal::CaptureStderr() : testing::internal::CaptureStdout();
    f();
    std::fflush(stdout);
    const std::string text = err ? testing::internal::GetCapturedStderr() : testing::internal::GetCapturedStdout();
    ff_init(&off);
    return text;
}

template <typename F>
std::string stdout_of(F &&f) { return printed_by(f, false); }

template <typename F>
std::string stderr_of(F &&f) { return printed_by(f, true); }

}  // namespace flatav_test
