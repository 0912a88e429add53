# Cross-build for another Linux processor with Debian's cross compiler and
# multiarch libraries (apt-get install libpng-dev:ARCH); the toolchain file
# that includes this sets AGG_CROSS_TRIPLET and AGG_CROSS_PROCESSOR first.
# AGG_CROSS_ROOT names a private root of unpacked packages for a library the
# archive cannot install beside the build machine's own (dpkg -x).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${AGG_CROSS_PROCESSOR})
set(CMAKE_LIBRARY_ARCHITECTURE ${AGG_CROSS_TRIPLET})
find_program(CMAKE_CXX_COMPILER NAMES ${AGG_CROSS_TRIPLET}-g++-12 ${AGG_CROSS_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${AGG_CROSS_TRIPLET}-gcc-12 ${AGG_CROSS_TRIPLET}-gcc REQUIRED)
# The variables reach the try-compile projects too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES AGG_CROSS_TRIPLET AGG_CROSS_PROCESSOR AGG_CROSS_ROOT)
set(CMAKE_FIND_ROOT_PATH / /usr/${AGG_CROSS_TRIPLET})
if(AGG_CROSS_ROOT)
  list(PREPEND CMAKE_FIND_ROOT_PATH ${AGG_CROSS_ROOT})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The test executables are listed when ctest runs, under the emulator, never
# while building.  Tests that start processes of their own need the kernel
# to hand foreign executables to qemu (binfmt_misc); the test script sees to
# that, and the emulator named here serves the test executables themselves.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
find_program(AGG_QEMU NAMES qemu-${AGG_CROSS_QEMU}-static qemu-${AGG_CROSS_QEMU})
if(AGG_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${AGG_QEMU})
endif()
