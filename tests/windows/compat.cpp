#include <windows.h>

#include <sys/types.h>

ssize_t readlink(const char *, char *buffer, size_t size)
{
    return (ssize_t)GetModuleFileNameA(nullptr, buffer, (DWORD)size);
}
