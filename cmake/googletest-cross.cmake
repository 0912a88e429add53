# GoogleTest built from Debian's sources with the cross compiler, under the
# names find_package(GTest) gives on the build machine.
set(AGG_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for a cross-build")
if(NOT EXISTS ${AGG_GTEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "no GoogleTest sources at ${AGG_GTEST_SOURCE} (apt-get install googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${AGG_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# GoogleTest's own code is not held to the project's warnings.
target_compile_options(gtest PRIVATE -w)
target_compile_options(gtest_main PRIVATE -w)
# Recent GoogleTest releases make the namespaced names themselves.
if(NOT TARGET GTest::gtest)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()
