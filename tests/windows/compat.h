/* Included ahead of every test source in the Windows build: the few POSIX
 * calls the tests make, in their Windows form. Commands run through cmd.exe
 * with the Windows ffmpeg and ffprobe. What ffmpeg writes in a format (-f)
 * is read in binary, text (ffprobe's, -h) in text mode, which turns the CR
 * LF that ends its lines there into LF. */
#pragma once
#define _USE_MATH_DEFINES /* M_PI, as glibc gives it */
#include <stdio.h>
#include <sys/types.h>

#include <string.h>

#include <string>

static inline FILE *flatav_test_popen(const char *command, const char *mode)
{
    const bool binary = strstr(command, " -f ") != nullptr;
    // cmd.exe /c drops the first and the last quote of a command that
    // starts with one: a pair around the whole keeps the command's own.
    const std::string quoted = std::string("\"") + command + "\"";
    return _popen(quoted.c_str(), mode[0] == 'r' ? (binary ? "rb" : "rt") : "wb");
}
#undef popen
#undef pclose
#define popen flatav_test_popen
#define pclose _pclose

/* The one link the tests read is the program's own (compat.cpp). */
ssize_t readlink(const char *path, char *buffer, size_t size);
