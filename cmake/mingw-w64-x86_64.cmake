# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 compilers.
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# with PKG_CONFIG_LIBDIR naming the lib/pkgconfig folder of an FFmpeg built
# for Windows (scripts/windows-ffmpeg.sh makes one).
#
# FLATAV_MINGW_THREADS picks the compilers' thread model: "win32" (the
# default) needs no runtime DLL beside the library; "posix" gives
# std::thread, which the test suite uses, at the cost of libwinpthread-1.dll.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(FLATAV_MINGW_THREADS win32 CACHE STRING "MinGW-w64 thread model: win32 or posix")
set(FLATAV_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${FLATAV_MINGW}-gcc-${FLATAV_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${FLATAV_MINGW}-g++-${FLATAV_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${FLATAV_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${FLATAV_MINGW})
# The FFmpeg that pkg-config describes is searched too.
if(DEFINED ENV{PKG_CONFIG_LIBDIR})
  get_filename_component(FLATAV_FFMPEG_PREFIX "$ENV{PKG_CONFIG_LIBDIR}/../.." ABSOLUTE)
  list(APPEND CMAKE_FIND_ROOT_PATH ${FLATAV_FFMPEG_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
# Programs built here run under Wine in the tests.
find_program(FLATAV_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(FLATAV_WINE NAMES wine64 wine)
if(FLATAV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${FLATAV_WINE})
endif()
