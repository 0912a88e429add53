# Cross-build for 32-bit Windows with the MinGW-w64 i686 compiler (POSIX
# thread model, so std::thread and std::mutex work), producing console
# executables that need no DLL beyond the system's.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(AGG_MINGW_PREFIX i686-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES ${AGG_MINGW_PREFIX}-g++-posix REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${AGG_MINGW_PREFIX}-gcc-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${AGG_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${AGG_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The processor baseline is SSE2 (a Pentium 4, an Athlon 64 or later), the
# minimum of the 32-bit Windows 8 and later that the programs aim at; no
# instruction beyond it is used, which the Windows tests check in every
# built .exe.  float and double live in SSE registers, as on x86-64, so that
# only the programs' own extended arithmetic runs on the x87 unit with its
# unmasked faults.
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The test executables are listed when ctest runs, under Wine, never while
# building.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
find_program(AGG_WINE NAMES wine)
if(AGG_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${AGG_WINE})
endif()

# The programs' window and console: the Windows desktop backends.
set(AGG_DESKTOP_BACKEND win32 CACHE STRING "window/console backend of the programs")
