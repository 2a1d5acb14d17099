/* Fault injection replaces an FFmpeg function in the test program and calls
 * the real one through dlsym(RTLD_NEXT, name). On Windows the real one is
 * the export of whichever loaded DLL has it. */
#pragma once
#include <windows.h>
#include <psapi.h>

#define RTLD_NEXT ((void *)-1)

static inline void *dlsym(void *, const char *name)
{
    HMODULE modules[256];
    DWORD bytes = 0;
    if (!K32EnumProcessModules(GetCurrentProcess(), modules, sizeof modules, &bytes))
        return nullptr;
    const HMODULE self = GetModuleHandleW(nullptr);
    for (DWORD i = 0; i < bytes / sizeof *modules && i < 256; i++)
        if (modules[i] != self)
            if (FARPROC found = GetProcAddress(modules[i], name))
                return reinterpret_cast<void *>(found);
    return nullptr;
}
