/* The test helpers read a child's exit status as POSIX gives it; _pclose on
 * Windows returns the exit code itself. */
#pragma once
#define WIFEXITED(status) ((status) != -1)
#define WEXITSTATUS(status) (status)
