// aggbench's command line: help, each mistake named with its value, lines
// that fit a console; and where the live-window helper is found.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_args.h"

namespace {

namespace fs = std::filesystem;

std::string ErrorOf(std::vector<std::string> args) { return bench::ParseBenchArgs(args).error; }

TEST(BenchArgs, HelpIsAskedForAnyOfTheThreeWays) {
  for (const char* ask : {"--help", "-h", "/?"}) {
    const bench::BenchArgs a = bench::ParseBenchArgs({"--rounds", "2", ask, "--bogus"});
    EXPECT_TRUE(a.help) << ask;
    EXPECT_EQ(a.error, "") << ask << ": help wins over what follows";
  }
  EXPECT_FALSE(bench::ParseBenchArgs({}).help);
}

TEST(BenchArgs, EachMistakeNamesTheOptionAndTheValue) {
  EXPECT_EQ(ErrorOf({"--rounds", "0"}), "bad value for --rounds: 0");
  EXPECT_EQ(ErrorOf({"--particles", "0"}), "bad value for --particles: 0");
  EXPECT_EQ(ErrorOf({"--seed", "99999999999"}), "bad value for --seed: 99999999999");
  EXPECT_EQ(ErrorOf({"--seed", "-1"}), "bad value for --seed: -1");
  EXPECT_EQ(ErrorOf({"--rounds", "3x"}), "bad value for --rounds: 3x");
  EXPECT_EQ(ErrorOf({"--rounds", "-2"}), "bad value for --rounds: -2");
  EXPECT_EQ(ErrorOf({"--particles", "18446744073709551616"}), "bad value for --particles: 18446744073709551616");
  EXPECT_EQ(ErrorOf({"--particles", "1\n2"}), "bad value for --particles: 1?2") << "one plain line";
  EXPECT_EQ(ErrorOf({"--rounds"}), "missing value for --rounds");
  EXPECT_EQ(ErrorOf({"--bogus"}), "unknown option --bogus");
  EXPECT_EQ(ErrorOf({"extra"}), "unexpected argument extra");
  const bench::BenchArgs ok =
      bench::ParseBenchArgs({"--seed", "4294967295", "--particles", "1", "--rounds", "1", "--child"});
  EXPECT_EQ(ok.error, "");
  EXPECT_EQ(ok.seed, 4294967295u);
  EXPECT_EQ(ok.particles, 1u);
  EXPECT_EQ(ok.rounds, 1);
  EXPECT_TRUE(ok.child);
}

// A full 80-column line wraps by itself in a Windows console; every option
// of the usage is explained in the help, and the helper's own switch stays
// out of both.
TEST(BenchArgs, TheHelpExplainsEachOptionWithin79Columns) {
  const std::string usage = bench::BenchUsage(), help = bench::BenchHelp();
  EXPECT_EQ(help.rfind(usage, 0), 0u) << "the usage comes first";
  std::istringstream lines(help);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 79u) << line;
  for (const char* option : {"--seed N", "--particles N", "--rounds N"}) {
    EXPECT_NE(usage.find(std::string("[") + option + "]"), std::string::npos) << option;
    const size_t at = help.find(std::string("\n  ") + option);
    ASSERT_NE(at, std::string::npos) << option;
    EXPECT_NE(help.find("(default", at), std::string::npos) << option << " has its default";
  }
  EXPECT_NE(help.find("--help, -h, /?"), std::string::npos);
  EXPECT_EQ(help.find("--child"), std::string::npos);
}

class HelperLookup : public testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() /
           ("bench_args." + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + "." +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::remove_all(root);
    fs::create_directories(root / "bin");
    Touch(root / "bin" / "aggbench");
  }
  void TearDown() override { fs::remove_all(root); }
  static void Touch(const fs::path& p) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "";
  }
  fs::path root;
};

// Beside the benchmark (a build tree) first, then lib/aggregation of an
// installed tree; without either, both folders are named.
TEST_F(HelperLookup, BesideItThenInTheInstalledHelperFolder) {
  const std::string self = (root / "bin" / "aggbench").string();
  std::string looked;
  EXPECT_EQ(bench::FindHelper(self, looked), "");
  EXPECT_EQ(looked, (root / "bin").string() + " and " + (root / "lib" / "aggregation").string());

  Touch(root / "lib" / "aggregation" / "aggbench_x11");
  EXPECT_EQ(bench::FindHelper(self, looked), (root / "lib" / "aggregation" / "aggbench_x11").string());

  Touch(root / "bin" / "aggbench_x11");
  EXPECT_EQ(bench::FindHelper(self, looked), (root / "bin" / "aggbench_x11").string());

  // A folder of that name is not the helper.
  fs::remove(root / "bin" / "aggbench_x11");
  fs::create_directory(root / "bin" / "aggbench_x11");
  EXPECT_EQ(bench::FindHelper(self, looked), (root / "lib" / "aggregation" / "aggbench_x11").string());

  EXPECT_EQ(bench::FindHelper("", looked), "") << "nowhere to look from";
  EXPECT_EQ(looked, "");
}

// Where the system cannot say which file runs (no /proc), the name it was
// started by says it, or the PATH as a shell searched it.
TEST_F(HelperLookup, ItsOwnFileFromTheSystemItsNameOrThePath) {
  const std::string self = (root / "bin" / "aggbench").string();
  EXPECT_EQ(bench::OwnFile("/opt/x/bin/aggbench", "aggbench", "/usr/bin"), "/opt/x/bin/aggbench");
  EXPECT_EQ(bench::OwnFile("", self, nullptr), self);
#ifdef _WIN32
  const char separator = ';';
#else
  const char separator = ':';
#endif
  const std::string path = (root / "empty").string() + separator + (root / "bin").string() + separator + "/nonexistent";
  EXPECT_EQ(bench::OwnFile("", "aggbench", path.c_str()), self);
  EXPECT_EQ(bench::OwnFile("", "aggbench", "/nonexistent"), "");
  EXPECT_EQ(bench::OwnFile("", "aggbench", nullptr), "");
}

}  // namespace
