// aggsim's command line: what each kind of mistake is called, and the
// values at the edges of what is taken.
#include <gtest/gtest.h>

#include "apps/aggsim/aggsim_args.h"

#include <sstream>

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
  // The runs of an ensemble are told so by their environment: no option a
  // user could give does it.
  EXPECT_EQ(ErrorOf({"--record"}), "unknown option --record");
  EXPECT_EQ(aggsim::AggsimHelp().find("record"), std::string::npos);
  // A part lies inside its ensemble, wrapping round as the seeds do.
  EXPECT_EQ(ErrorOf({"--part-of", "1:0"}), "bad value for --part-of: 1:0");
  EXPECT_EQ(ErrorOf({"--part-of", "1-4"}), "bad value for --part-of: 1-4");
  EXPECT_EQ(ErrorOf({"--runs", "2", "--part-of", "1:4"}), "--part-of goes with --runs and --seed");
  EXPECT_EQ(ErrorOf({"--runs", "2", "--seed", "4", "--part-of", "1:4"}),
            "--runs 2 from --seed 4 is not within the ensemble of --part-of 1:4");
  EXPECT_EQ(ErrorOf({"--runs", "5", "--seed", "1", "--part-of", "1:4"}),
            "--runs 5 from --seed 1 is not within the ensemble of --part-of 1:4");
  EXPECT_EQ(ErrorOf({"--runs", "2", "--seed", "0", "--part-of", "4294967295:3"}), "");
  EXPECT_EQ(ErrorOf({"--runs", "2", "--seed", "1", "--part-of", "4294967295:3"}),
            "--runs 2 from --seed 1 is not within the ensemble of --part-of 4294967295:3");
  EXPECT_EQ(ErrorOf({"--help", "--bogus"}), "") << "help wins over what follows";
  EXPECT_TRUE(aggsim::ParseAggsimArgs({"--seed", "1", "-h"}).options.help);
  EXPECT_TRUE(aggsim::ParseAggsimArgs({"/?"}).options.help) << "the Windows way of asking";
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
           {"--start-radius", "inf"},
           {"--fps", "0"},
           {"--fps", "50.01"},
           {"--fps", "100"}})
    EXPECT_NE(ErrorOf(bad), "") << bad[0] << " " << bad[1];
  // Faster than 50 frames a second a frame would last one hundredth, which
  // viewers stretch to ten: refused, saying why.
  EXPECT_EQ(ErrorOf({"--fps", "67"}), "bad value for --fps: 67 (at most 50: viewers slow faster films down)");
  EXPECT_EQ(aggsim::ParseAggsimArgs({"--fps", "50"}).options.fps, 50);
  EXPECT_EQ(aggsim::ParseAggsimArgs({"--fps", "0.01"}).options.fps, 0.01);
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

// Every option a user may give is in the usage and in the help with a
// meaning, and every line fits an 80-column console.
TEST(AggsimArgs, TheHelpListsEveryOptionWithItsMeaning) {
  const std::string usage = aggsim::AggsimUsage(), help = aggsim::AggsimHelp();
  EXPECT_EQ(help.rfind("usage: aggsim ", 0), 0u) << "the usage line comes first";
  EXPECT_EQ(help.rfind(usage, 0), 0u);
  std::istringstream lines(help);
  for (std::string line; std::getline(lines, line);) EXPECT_LT(line.size(), 80u) << line;
  size_t shown = 0;
  for (const aggsim::OptionSpec& o : aggsim::AggsimOptionTable()) {
    const std::string name(o.name);
    ++shown;
    // An option of many values (--merge) is a usage line of its own.
    EXPECT_NE(usage.find(o.value.ends_with("...") ? "aggsim " + name : "[" + name), std::string::npos) << name;
    const size_t at = help.find("\n  " + name);
    ASSERT_NE(at, std::string::npos) << name;
    EXPECT_NE(help.find(std::string(o.help.substr(0, 12)), at), std::string::npos) << name << " has no meaning shown";
    EXPECT_FALSE(o.help.empty()) << name;
  }
  EXPECT_GE(shown, 17u);
}

// The help shows every option once, under its group's heading, the groups
// in their order; then the examples and the exit codes, last.
TEST(AggsimArgs, TheHelpGroupsItsOptionsAndEndsWithExamplesAndExitCodes) {
  const std::string help = aggsim::AggsimHelp();
  const char* const headings[] = {"\nRun:\n", "\nModel:\n", "\nOutputs:\n", "\nFilm:\n", "\nStatistics:\n", "\nEnsembles:\n",
                                  "\nExamples:\n", "\nExit codes:\n"};
  std::vector<size_t> at;
  for (const char* h : headings) {
    at.push_back(help.find(h));
    ASSERT_NE(at.back(), std::string::npos) << h;
    if (at.size() > 1) {
      EXPECT_LT(at[at.size() - 2], at.back()) << h << " is out of order";
    }
  }
  for (const aggsim::OptionSpec& o : aggsim::AggsimOptionTable()) {
    const std::string line = "\n  " + std::string(o.name) + (o.value.empty() ? "" : " " + std::string(o.value));
    const size_t where = help.find(line);
    ASSERT_NE(where, std::string::npos) << o.name;
    EXPECT_EQ(help.find(line, where + 1), std::string::npos) << o.name << " is shown twice";
    const size_t group = static_cast<size_t>(o.group);
    EXPECT_GT(where, at[group]) << o.name;
    EXPECT_LT(where, at[group + 1]) << o.name << " is shown outside its group";
  }
  // Three examples, each a command that parses.
  std::istringstream examples(help.substr(at[6] + 1, at[7] - at[6]));
  int count = 0;
  for (std::string line; std::getline(examples, line);) {
    if (!line.starts_with("  aggsim ")) continue;
    ++count;
    std::vector<std::string> words;
    std::istringstream split(line.substr(9));
    for (std::string w; split >> w;) words.push_back(w);
    EXPECT_EQ(ErrorOf(words), "") << line;
  }
  EXPECT_EQ(count, 3);
  // One form of asking for help, the same in the usage and the options.
  EXPECT_NE(help.find("\n       aggsim --help|-h|/?\n"), std::string::npos);
  EXPECT_NE(help.find("\n  --help, -h, /?  "), std::string::npos);
  for (const char* code : {"\n  0 ", "\n  1 ", "\n  2 ", "\n  129, 130, 143 "})
    EXPECT_NE(help.find(code, at[7]), std::string::npos) << code;
}

// What each run of an ensemble is given, read back by the same parser: the
// user's choices all arrive, the outputs only at the last run, and nothing
// of the ensemble's own.
TEST(AggsimArgs, EachRunOfAnEnsembleGetsTheUsersOptions) {
  const aggsim::AggsimArgs user = aggsim::ParseAggsimArgs(
      {"--rule", "order", "--seed", "7", "--particles", "300", "--seconds", "9", "--radius", "80", "--screen", "800x600",
       "--png", "p.png", "--trace", "t.csv", "--start-radius", "12", "--gif", "f.gif", "--frame-every",
       "3", "--fps", "10", "--profile", "n.csv", "--runs", "5", "--jobs", "2", "--csv", "all.csv"});
  ASSERT_EQ(user.error, "");
  for (const bool last : {false, true}) {
    const aggsim::AggsimArgs run = aggsim::ParseAggsimArgs(aggsim::RunArguments(user.options, 1234, last));
    ASSERT_EQ(run.error, "");
    const aggsim::AggsimOptions& o = run.options;
    EXPECT_EQ(o.rule, aggsim::RuleKind::Order);
    EXPECT_EQ(o.seed, 1234u);
    EXPECT_EQ(o.particles, 300u);
    EXPECT_EQ(o.seconds, 9);
    EXPECT_EQ(o.radius, 80);
    EXPECT_EQ(o.screenW, 800);
    EXPECT_EQ(o.startRadius, 12);
    EXPECT_EQ(o.frameEvery, 3u);
    EXPECT_EQ(o.fps, 10);
    EXPECT_FALSE(o.record) << "a run learns it is one from its environment, never its arguments";
    EXPECT_FALSE(o.stats);
    EXPECT_EQ(o.runs, 0u);
    EXPECT_EQ(o.jobs, 0u);
    EXPECT_EQ(o.csv, "");
    EXPECT_EQ(o.png, last ? "p.png" : "");
    EXPECT_EQ(o.trace, last ? "t.csv" : "");
    EXPECT_EQ(o.gif, last ? "f.gif" : "");
    EXPECT_EQ(o.profile, "") << "the ensemble writes the mean profile itself";
  }
  // Under --out-dir every run writes its own, named by its seed.
  const aggsim::AggsimArgs each = aggsim::ParseAggsimArgs(
      {"--seed", "7", "--png", "pics/p.png", "--trace", "t", "--profile", "n.csv", "--runs", "3", "--out-dir", "o"});
  ASSERT_EQ(each.error, "");
  const aggsim::AggsimOptions o = aggsim::ParseAggsimArgs(aggsim::RunArguments(each.options, 8, false)).options;
  EXPECT_EQ(o.png, "o/p-8.png");
  EXPECT_EQ(o.trace, "o/t-8");
  EXPECT_EQ(o.profile, "o/n-8.csv");
}

TEST(AggsimArgs, EnsembleOptionsGoTogether) {
  const auto error = [](std::vector<std::string> args) { return aggsim::ParseAggsimArgs(args).error; };
  EXPECT_NE(error({"--runs", "2", "--stats"}), "");
  EXPECT_NE(error({"--out-dir", "o", "--png", "p.png"}), "");  // without --runs
  EXPECT_NE(error({"--runs", "2", "--out-dir", "o"}), "");      // nothing to write there
  EXPECT_NE(error({"--merge", "a.csv", "--runs", "2"}), "");
  EXPECT_NE(error({"--merge"}), "");
  EXPECT_NE(error({"--merge", "--csv", "x"}), "");
  // An option that needs --runs is named alone: never one that was not given.
  EXPECT_EQ(error({"--jobs", "2"}), "--jobs goes with --runs");
  EXPECT_EQ(error({"--csv", "t.csv"}), "--csv goes with --runs or --merge");
  EXPECT_EQ(error({"--jobs", "2", "--runs", "3", "--csv", "t.csv"}), "");
  const aggsim::AggsimArgs merge = aggsim::ParseAggsimArgs({"--merge", "a.csv", "b.csv", "--csv", "m.csv", "--profile", "p"});
  EXPECT_EQ(merge.error, "");
  EXPECT_EQ(merge.options.merge, (std::vector<std::string>{"a.csv", "b.csv"}));
  EXPECT_EQ(merge.options.csv, "m.csv");
}

}  // namespace

namespace {

// The standard model and the programs' each refuse the other's options,
// saying which model the option belongs to; tables name the model.
TEST(AggsimArgs, EachModelTakesOnlyItsOwnOptions) {
  EXPECT_EQ(ErrorOf({"--model", "dla", "--rule", "white"}), "--rule belongs to the programs' model, not to --model dla");
  EXPECT_EQ(ErrorOf({"--rule", "white", "--model", "dla"}), "--rule belongs to the programs' model, not to --model dla")
      << "in any order";
  EXPECT_EQ(ErrorOf({"--model", "dla", "--screen", "800x600"}),
            "--screen belongs to the programs' model, not to --model dla");
  EXPECT_EQ(ErrorOf({"--model", "dla", "--start-radius", "9"}),
            "--start-radius belongs to the programs' model, not to --model dla");
  for (const char* own : {"--lattice", "--stick", "--image-size", "--colour"}) {
    const std::string value = std::string(own) == "--lattice" ? "square4" : std::string(own) == "--colour" ? "white"
                              : std::string(own) == "--stick" ? "0.5" : "512";
    EXPECT_EQ(ErrorOf({own, value}), std::string(own) + " goes with --model dla");
    EXPECT_EQ(ErrorOf({"--model", "programs", own, value}), std::string(own) + " goes with --model dla");
    EXPECT_EQ(ErrorOf({"--model", "dla", "--lattice", "square8", own, value}), "") << own;
  }
  EXPECT_EQ(ErrorOf({"--model", "dla", "--stick", "0.5"}), "--stick goes with a lattice: off the lattice every contact sticks");
  EXPECT_EQ(ErrorOf({"--model", "dlb"}), "bad value for --model: dlb");
  EXPECT_EQ(ErrorOf({"--model", "dla", "--lattice", "hex"}), "bad value for --lattice: hex");
  for (const char* bad : {"0", "-0.1", "1.0001", "nan", "x"})
    EXPECT_NE(ErrorOf({"--model", "dla", "--lattice", "square4", "--stick", bad}), "") << bad;
  for (const char* bad : {"15", "16385", "-2", "2k"})
    EXPECT_NE(ErrorOf({"--model", "dla", "--image-size", bad}), "") << bad;
  // Both models keep the shared options: ends, outputs, ensembles.
  EXPECT_EQ(ErrorOf({"--model", "dla", "--particles", "10", "--seed", "3", "--png", "a.png", "--trace", "t",
                     "--gif", "g.gif", "--runs", "4", "--jobs", "2", "--csv", "c.csv"}),
            "");
  const aggsim::AggsimOptions dla =
      aggsim::ParseAggsimArgs({"--model", "dla", "--lattice", "square4", "--stick", "0.25"}).options;
  EXPECT_EQ(aggsim::Parameters(dla).rfind("model dla; lattice square4; stick 0.25; ", 0), 0u) << aggsim::Parameters(dla);
  // The programs' tables stay as they were, so that today's tables merge with
  // tomorrow's; a table of the other model differs in its parameters line.
  EXPECT_EQ(aggsim::Parameters(aggsim::ParseAggsimArgs({}).options).rfind("rule white; ", 0), 0u);
  // The run of an ensemble gets the model's options.
  const aggsim::AggsimOptions ens =
      aggsim::ParseAggsimArgs({"--model", "dla", "--lattice", "square8", "--runs", "3"}).options;
  const std::vector<std::string> args = aggsim::RunArguments(ens, 7, false);
  EXPECT_EQ(args, (std::vector<std::string>{"--model", "dla", "--lattice", "square8", "--seed", "7"}));
}

}  // namespace
