// aggsim's command line: what each kind of mistake is called, and the
// values at the edges of what is taken.
#include <gtest/gtest.h>

#include "apps/aggsim/aggsim_args.h"

namespace {

std::string ErrorOf(std::vector<std::string> args) { return aggsim::ParseAggsimArgs(args).error; }

TEST(AggsimArgs, EachMistakeIsNamedForWhatItIs) {
  EXPECT_EQ(ErrorOf({"--bogus"}), "unknown option --bogus");
  EXPECT_EQ(ErrorOf({"--seed", "1", "--bogus"}), "unknown option --bogus");
  EXPECT_EQ(ErrorOf({"-x"}), "unknown option -x");
  EXPECT_EQ(ErrorOf({"extra"}), "unexpected argument extra");
  EXPECT_EQ(ErrorOf({"--seed", "1", "-"}), "unexpected argument -");
  EXPECT_EQ(ErrorOf({"--png"}), "missing value for --png");
  EXPECT_EQ(ErrorOf({"--trace", ""}), "an empty file name for --trace");
  EXPECT_EQ(ErrorOf({"--png", ""}), "an empty file name for --png");
  EXPECT_EQ(ErrorOf({"--rule", "blue"}), "bad value for --rule: blue");
  EXPECT_EQ(ErrorOf({"--help", "--bogus"}), "") << "help wins over what follows";
  EXPECT_TRUE(aggsim::ParseAggsimArgs({"--seed", "1", "-h"}).options.help);
  // A word with a line end or an escape sequence, as its fuzzer found,
  // still gives one plain line.
  EXPECT_EQ(ErrorOf({"--radius", "9\n--stats"}), "bad value for --radius: 9?--stats");
  EXPECT_EQ(ErrorOf({"\x1b[2J"}), "unexpected argument ?[2J");
}

TEST(AggsimArgs, NumbersAtTheirEdges) {
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"--particles", "0"},
           {"--particles", "18446744073709551615"},
           {"--particles", "-1"},
           {"--particles", "12x"},
           {"--seed", "4294967296"},
           {"--seconds", "0"},
           {"--seconds", "nan"},
           {"--seconds", "1e8"},
           {"--radius", "-3"},
           {"--screen", "1024x49"},
           {"--screen", "16385x768"},
           {"--screen", "x768"},
           {"--screen", "1024"},
           {"--start-radius", "-1"},
           {"--start-radius", "inf"}})
    EXPECT_NE(ErrorOf(bad), "") << bad[0] << " " << bad[1];
  const aggsim::AggsimArgs ok = aggsim::ParseAggsimArgs(
      {"--seed", "4294967295", "--screen", "16384x50", "--particles", "18446744073709551614", "--trace", "-"});
  EXPECT_EQ(ok.error, "");
  EXPECT_EQ(ok.options.seed, 4294967295u);
  EXPECT_EQ(ok.options.screenH, 50);
  EXPECT_EQ(ok.options.trace, "-");
}

TEST(AggsimArgs, ATimeOrRadiusLiftsTheDefaultCount) {
  EXPECT_EQ(aggsim::ParseAggsimArgs({}).options.particles, 1000u);
  EXPECT_EQ(aggsim::ParseAggsimArgs({"--seconds", "2"}).options.particles, UINT64_MAX);
  EXPECT_EQ(aggsim::ParseAggsimArgs({"--radius", "90"}).options.particles, UINT64_MAX);
  EXPECT_EQ(aggsim::ParseAggsimArgs({"--radius", "90", "--particles", "5"}).options.particles, 5u);
}

}  // namespace
