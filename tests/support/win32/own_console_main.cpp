// The entry of the Windows test programs that start console programs: a
// console of their own, shared with every program started from them, so
// that keys can be typed into it and what is drawn there can be read back.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  ::FreeConsole();
  if (!::AllocConsole()) {
    std::fprintf(stderr, "no console could be made\n");
    return 1;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
