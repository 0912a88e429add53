// Tables and profiles of separate ensembles merged: what merges, and each
// refusal, one line naming the file, the line and the field.
#include <gtest/gtest.h>

#include <cmath>

#include "io/ensemble.h"
#include "io/ensemble_table.h"

namespace {

const std::string kAbout = "aggsim 1.0.0; rule white; particles 300";

io::RunRecord ARun(uint32_t seed, double d = 1.6) {
  io::RunRecord r;
  r.seed = seed, r.stuck = 300, r.inPicture = 299, r.launched = 8000 + seed;
  r.finalRadius = 60, r.gyration = 17.0 + seed / 7.0, r.dimension = d + seed / 1000.0, r.dimensionError = 0.02;
  r.fitted = true;
  return r;
}

std::string Table(const std::vector<uint32_t>& seeds, const std::string& about = kAbout) {
  std::string t = io::CsvHeader(about);
  for (uint32_t s : seeds) t += io::CsvRow(ARun(s));
  return t;
}

// A run's profile N(r) = r^1.7 (rounded), to a farthest pixel of 20 + seed.
io::RunProfile Grown(uint32_t seed) {
  io::RunProfile p;
  p.farthest = 20 + seed;
  for (size_t i = 0;; ++i) {
    const double r = io::GridRadius(i);
    p.counts.push_back(static_cast<uint64_t>(std::lround(std::pow(std::min(r, p.farthest), 1.7))));
    if (r >= p.farthest) break;
  }
  return p;
}

std::string ProfileOf(const std::vector<uint32_t>& seeds, const std::string& about = kAbout) {
  io::EnsembleProfile p;
  for (uint32_t s : seeds) EXPECT_TRUE(p.Add(Grown(s)));
  return io::EnsembleProfileText(p, about, seeds);
}

std::string Merge(const std::vector<io::MergeInput>& files, io::Merged* merged = nullptr) {
  io::Merged m;
  const std::string error = io::MergeEnsembles(files, m);
  if (merged) *merged = m;
  return error;
}

TEST(Merge, PartsInAnyOrderGiveTheWhole) {
  io::Merged whole, parts;
  ASSERT_EQ(Merge({{"w", Table({1, 2, 3, 4, 5})}, {"wp", ProfileOf({1, 2, 3, 4, 5})}}, &whole), "");
  ASSERT_EQ(Merge({{"b", Table({4, 2, 5})}, {"ap", ProfileOf({1, 3})}, {"a", Table({3, 1})}, {"bp", ProfileOf({2, 4, 5})}},
                  &parts),
            "");
  ASSERT_TRUE(parts.profiled);
  EXPECT_EQ(parts.seeds, (std::vector<uint32_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(io::EnsembleProfileText(parts.profile, parts.about, parts.seeds),
            io::EnsembleProfileText(whole.profile, whole.about, whole.seeds));
  EXPECT_EQ(io::DescribeEnsemble(parts.records, &parts.profile), io::DescribeEnsemble(whole.records, &whole.profile));
  // Every bit of the figures comes back from the table.
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(io::CsvRow(parts.records[i]), io::CsvRow(ARun(static_cast<uint32_t>(i + 1))));
  // The shorter profiles (nearer farthest pixels) were carried on at their
  // whole counts: the sum at the last radius is every run's whole count.
  uint64_t total = 0;
  for (uint32_t s = 1; s <= 5; ++s) total += Grown(s).counts.back();
  EXPECT_EQ(parts.profile.sum.back(), total);
  EXPECT_EQ(parts.profile.farthest, 21);
}

TEST(Merge, TheMeanProfileGivesItsDimension) {
  io::EnsembleProfile p;
  for (uint32_t s = 200; s < 204; ++s) ASSERT_TRUE(p.Add(Grown(s)));
  const io::ProfileFit f = io::FitMean(p);
  ASSERT_GE(f.points, 3);
  EXPECT_NEAR(f.dimension, 1.7, 0.01);
  EXPECT_EQ(f.from, 4);
  EXPECT_EQ(f.to, 110);  // half the nearest farthest pixel, 220
  EXPECT_NE(io::DescribeEnsemble({ARun(1)}, &p).find("; D of the mean profile 1.70"), std::string::npos);
}

TEST(Merge, MissingSeedsAreListed) {
  EXPECT_EQ(io::MissingSeeds({1, 2, 3}), "");
  EXPECT_EQ(io::MissingSeeds({1, 5, 6, 8}), "2-4,7");
  EXPECT_EQ(io::MissingSeeds({}), "");
}

struct Refusal {
  const char* name;
  std::vector<io::MergeInput> files;
  std::string message;
};

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  const size_t at = s.find(from);
  if (at != std::string::npos) s.replace(at, from.size(), to);
  return s;
}

class Refused : public testing::TestWithParam<Refusal> {};

TEST_P(Refused, WithOneLineNamingFileLineAndField) {
  const std::string error = Merge(GetParam().files);
  EXPECT_EQ(error, GetParam().message);
  EXPECT_EQ(error.find('\n'), std::string::npos);
}

const std::string kRow2 = io::CsvRow(ARun(2));

INSTANTIATE_TEST_SUITE_P(
    Merge, Refused,
    testing::Values(
        Refusal{"OtherParameters",
                {{"a", Table({1})}, {"b", Table({2}, "aggsim 1.0.0; rule radial; particles 300")}},
                "b:2: parameters: 'aggsim 1.0.0; rule radial; particles 300' differ from a's '" + kAbout + "'"},
        Refusal{"SeedTwice", {{"a", Table({1, 2})}, {"b", Table({3, 2})}}, "b:5: seed: 2 given twice, also in a line 5"},
        Refusal{"CutShort",
                {{"a", Table({1, 2}).substr(0, Table({1, 2}).size() - 5)}},
                "a:5: row: cut short (no line end)"},
        Refusal{"CutShortInItsHeading",
                {{"a", Table({}).substr(0, Table({}).size() - 1)}},
                "a:3: columns: cut short (no line end)"},
        Refusal{"TooFewFields", {{"a", Replace(Table({1, 2}), ",60,", ",")}}, "a:4: row: 7 fields, not 8"},
        Refusal{"NotANumber",
                {{"a", Replace(Table({1}), ",0.02", ",0.02x")}},
                "a:4: dimension_error: not an error: '0.02x'"},
        Refusal{"NegativeCount", {{"a", Replace(Table({1}), ",300,", ",-300,")}}, "a:4: stuck: not a count: '-300'"},
        Refusal{"NotATable", {{"x", "seed,stuck\n1,2\n"}}, "x:1: kind: neither an aggsim ensemble table nor its profile"},
        Refusal{"ProfileOfOtherRadii",
                {{"a", Table({1})}, {"p", Replace(ProfileOf({1}), "\n1.09051,", "\n1.1,")}},
                "p:7: r: '1.1' where the profiles' radii have 1.09051"},
        Refusal{"ProfileWithAWrongSum",
                {{"a", Table({1})}, {"p", Replace(ProfileOf({1}), ",1.000000,0.000000,1,1\n", ",1.000000,0.000000,2,1\n")}},
                "p:6: mean: '1.000000' is not sum / runs"},
        Refusal{"ProfileOfOtherRuns",
                {{"a", Table({1, 2})}, {"p", ProfileOf({1, 3})}},
                "p:3: seeds: 3 is in no table given"},
        Refusal{"ProfileMissingARun", {{"a", Table({1, 2})}, {"p", ProfileOf({1})}}, "a:5: seed: 2 is in no profile given"},
        Refusal{"ProfileSeedTwice",
                {{"a", Table({1, 2})}, {"p", ProfileOf({1, 2})}, {"q", ProfileOf({2})}},
                "q:3: seeds: 2 given twice, also in p"},
        Refusal{"OnlyProfiles", {{"p", ProfileOf({1})}},
                "no table among the files to merge: the runs' lines come from the tables"}),
    [](const testing::TestParamInfo<Refusal>& i) { return std::string(i.param.name); });

}  // namespace
