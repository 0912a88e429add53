// Seeded runs of the headless runner against traces kept from earlier
// builds: the particles, their order and colours must not change.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/files.h"

namespace {

using testsupport::Slurp;

TEST(Trace, SeededRunsGiveTheKeptTraces) {
  const struct {
    const char* file;
    const char* args;
  } runs[] = {
      {"white-1.csv", "--rule white --seed 1 --particles 400"},
      {"white-777.csv", "--rule white --seed 777 --particles 400"},
      {"radial-1.csv", "--rule radial --seed 1 --particles 400"},
      {"radial-777.csv", "--rule radial --seed 777 --particles 400"},
      {"order-1.csv", "--rule order --seed 1 --particles 400"},
      {"order-777.csv", "--rule order --seed 777 --particles 400"},
      // Walkers beyond the surface's edge, colours past the palette's end.
      {"order-5000000-800x600.csv", "--rule order --seed 5000000 --particles 2500 --screen 800x600"},
  };
  const std::string out = testing::TempDir() + "trace." + std::to_string(getpid()) + ".csv";
  for (const auto& r : runs) {
    const std::string cmd = std::string(AGGSIM) + " " + r.args + " --trace " + out + " >/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    EXPECT_EQ(Slurp(out), Slurp(std::string(TRACE_DATA) + "/" + r.file)) << r.file;
  }
  std::remove(out.c_str());
}

}  // namespace
