// Tables and profiles of separate ensembles merged: what merges, and each
// refusal, one line naming the file, the line and the field.
#include <gtest/gtest.h>

#include <cmath>

#include "io/ensemble.h"
#include "io/ensemble_table.h"
#include "io/growth.h"

namespace {

const std::string kAbout = "aggsim 1.0.0; rule white; particles 300";
const io::EnsembleRange kRange{1, 5};

// Seeds near the wrap grow as small ones do.
uint32_t Small(uint32_t seed) { return seed > 1000000 ? seed % 8 : seed; }

// A run's profile N(r) = r^1.7 (rounded), to a farthest pixel of 20 + seed.
io::RunProfile Grown(uint32_t seed) {
  io::RunProfile p;
  p.farthest = 20 + Small(seed);
  for (size_t i = 0;; ++i) {
    const double r = io::GridRadius(i);
    p.counts.push_back(static_cast<uint64_t>(std::lround(std::pow(std::min(r, p.farthest), 1.7))));
    if (r >= p.farthest) break;
  }
  return p;
}

// Its figures, the picture's pixels those of the profile but the seed's.
io::RunRecord ARun(uint32_t seed, double d = 1.6) {
  io::RunRecord r;
  r.seed = seed, r.stuck = 300, r.inPicture = Grown(seed).counts.back() - 1, r.launched = 8000 + Small(seed);
  r.finalRadius = 60, r.gyration = 17.0 + Small(seed) / 7.0, r.dimension = d + Small(seed) / 1000.0,
  r.dimensionError = 0.02;
  r.fitted = true;
  return r;
}

std::string Table(const std::vector<uint32_t>& seeds, const std::string& about = kAbout,
                  const io::EnsembleRange& range = kRange) {
  std::string t = io::CsvHeader(about, range);
  for (uint32_t s : seeds) t += io::CsvRow(ARun(s));
  return t;
}

std::string ProfileOf(const std::vector<uint32_t>& seeds, const std::string& about = kAbout,
                      const io::EnsembleRange& range = kRange) {
  io::EnsembleProfile p;
  for (uint32_t s : seeds) EXPECT_TRUE(p.Add(Grown(s)));
  return io::EnsembleProfileText(p, about, range, seeds);
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  const size_t at = s.find(from);
  if (at != std::string::npos) s.replace(at, from.size(), to);
  return s;
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
  EXPECT_EQ(io::EnsembleProfileText(parts.profile, parts.about, parts.range, parts.seeds),
            io::EnsembleProfileText(whole.profile, whole.about, whole.range, whole.seeds));
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

// The seeds an ensemble lacks, at either end too, in its own order and cut
// where it wraps round.
TEST(Merge, MissingSeedsAreListed) {
  const io::EnsembleRange wraps{4294967293u, 6};  // 4294967293..4294967295, 0..2
  const struct {
    io::EnsembleRange range;
    std::vector<uint32_t> held;
    std::string missing;
  } cases[] = {
      {{1, 3}, {1, 2, 3}, ""},
      {{1, 8}, {1, 5, 6, 8}, "2-4,7"},
      {{1, 8}, {3, 4}, "1-2,5-8"},
      {{1, 3}, {}, "1-3"},
      {wraps, {4294967293u, 4294967294u, 4294967295u, 0, 1, 2}, ""},
      {wraps, {4294967294u, 0, 1}, "4294967293,4294967295,2"},
      {wraps, {4294967293u, 2}, "4294967294-4294967295,0-1"},
      {{4294967295u, 1}, {}, "4294967295"},
  };
  for (const auto& c : cases) EXPECT_EQ(io::MissingSeeds(c.range, c.held), c.missing) << io::DescribeRange(c.range);
}

// A wrapped ensemble merges in its own order, as --runs ran it.
TEST(Merge, AWrappedEnsembleKeepsItsOrder) {
  const io::EnsembleRange wraps{4294967294u, 4};
  io::Merged m;
  ASSERT_EQ(Merge({{"b", Table({1, 0}, kAbout, wraps)},
                   {"a", Table({4294967295u, 4294967294u}, kAbout, wraps)},
                   {"p", ProfileOf({0, 1, 4294967294u, 4294967295u}, kAbout, wraps)}},
                  &m),
            "");
  EXPECT_EQ(m.seeds, (std::vector<uint32_t>{4294967294u, 4294967295u, 0, 1}));
  EXPECT_TRUE(m.range == wraps);
  EXPECT_EQ(io::MissingSeeds(m.range, m.seeds), "");
}

// A later field on the ensemble's line leaves the reader as it was.
TEST(Merge, TheEnsembleLineTakesLaterFields) {
  const std::string t = Replace(Table({1, 2}), "runs 5\n", "runs 5 id ab12 note x\n");
  io::Merged m;
  ASSERT_EQ(Merge({{"a", t}}, &m), "");
  EXPECT_TRUE(m.range == kRange);
}

struct Refusal {
  const char* name;
  std::vector<io::MergeInput> files;
  std::string message;
};

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
        Refusal{"OtherEnsemble",
                {{"a", Table({1})}, {"b", Table({2}, kAbout, {1, 6})}},
                "b:3: ensemble: 'ensemble first 1 runs 6' is not a's 'ensemble first 1 runs 5'"},
        Refusal{"NoEnsemble", {{"a", Replace(Table({1}), "# ensemble first 1 runs 5\n", "")}},
                "a:3: ensemble: missing (its first seed and runs)"},
        Refusal{"EnsembleWithoutRuns", {{"a", Replace(Table({1}), " runs 5", " runs 0")}},
                "a:3: ensemble: not a first seed and runs: '# ensemble first 1 runs 0'"},
        Refusal{"SeedOutsideTheEnsemble", {{"a", Table({1, 6})}}, "a:6: seed: 6 is not one of the ensemble's seeds 1..5"},
        Refusal{"ProfileSeedOutsideTheEnsemble",
                {{"a", Table({1})}, {"p", ProfileOf({1, 9})}},
                "p:4: seeds: 9 is not one of the ensemble's seeds 1..5"},
        Refusal{"SeedTwice", {{"a", Table({1, 2})}, {"b", Table({3, 2})}}, "b:6: seed: 2 given twice, also in a line 6"},
        Refusal{"CutShort",
                {{"a", Table({1, 2}).substr(0, Table({1, 2}).size() - 5)}},
                "a:6: row: cut short (no line end)"},
        Refusal{"CutShortInItsHeading",
                {{"a", Table({}).substr(0, Table({}).size() - 1)}},
                "a:4: columns: cut short (no line end)"},
        Refusal{"TooFewFields", {{"a", Replace(Table({1, 2}), ",60,", ",")}}, "a:5: row: 9 fields, not 10"},
        Refusal{"NotANumber",
                {{"a", Replace(Table({1}), ",0.02", ",0.02x")}},
                "a:5: dimension_error: not an error: '0.02x'"},
        Refusal{"NegativeCount", {{"a", Replace(Table({1}), ",300,", ",-300,")}}, "a:5: stuck: not a count: '-300'"},
        // Figures that disagree with each other or with the parameters.
        Refusal{"MoreInThePictureThanStuck", {{"a", Replace(Table({1}), ",300,176,", ",300,5000,")}},
                "a:5: in_picture: '5000' is more than the particles stuck"},
        Refusal{"MoreStuckThanTheParticles", {{"a", Replace(Table({1}), ",300,", ",301,")}},
                "a:5: stuck: '301' where the parameters say particles 300"},
        Refusal{"FewerStuckThanACountAlone",
                {{"a", Replace(Table({1}, kAbout + "; seconds none; radius none"), ",300,", ",299,")}},
                "a:5: stuck: '299' where the parameters say particles 300"},
        Refusal{"FewerLaunchedThanStuck", {{"a", Replace(Table({1}), ",8001,", ",299,")}},
                "a:5: launched: '299' is fewer than the particles stuck"},
        Refusal{"ANegativeDimension", {{"a", Replace(Table({1}), ",1.601,", ",-5,")}},
                "a:5: dimension: not a dimension in the plane: '-5'"},
        Refusal{"NotATable", {{"x", "seed,stuck\n1,2\n"}}, "x:1: kind: neither an aggsim ensemble table nor its profile"},
        Refusal{"ProfileOfOtherRadii",
                {{"a", Table({1})}, {"p", Replace(ProfileOf({1}), "\n1.09051,", "\n1.1,")}},
                "p:8: r: '1.1' where the profiles' radii have 1.09051"},
        Refusal{"ProfileWithAWrongSum",
                {{"a", Table({1})}, {"p", Replace(ProfileOf({1}), ",1.000000,0.000000,1,1\n", ",1.000000,0.000000,2,1\n")}},
                "p:7: mean: '1.000000' is not sum / runs"},
        Refusal{"FarthestPastTheLastRadius",
                {{"a", Table({1})}, {"p", Replace(ProfileOf({1}), "# farthest 21\n", "# farthest 2100\n")}},
                "p:5: farthest: beyond the last radius, 22.627417"},
        Refusal{"ProfileSumsThatDisagreeWithTheTable",
                {{"a", Replace(Table({1}), ",300,176,", ",300,100,")}, {"p", ProfileOf({1})}},
                "the profiles' whole count, 177, is not the tables' pixels in the picture, 100 (one more a run at most)"},
        Refusal{"ProfileOfOtherRuns",
                {{"a", Table({1, 2})}, {"p", ProfileOf({1, 3})}},
                "p:4: seeds: 3 is in no table given"},
        Refusal{"ProfileMissingARun", {{"a", Table({1, 2})}, {"p", ProfileOf({1})}}, "a:6: seed: 2 is in no profile given"},
        Refusal{"ProfileSeedTwice",
                {{"a", Table({1, 2})}, {"p", ProfileOf({1, 2})}, {"q", ProfileOf({2})}},
                "q:4: seeds: 2 given twice, also in p"},
        Refusal{"OnlyProfiles", {{"p", ProfileOf({1})}},
                "no table among the files to merge: the runs' lines come from the tables"}),
    [](const testing::TestParamInfo<Refusal>& i) { return std::string(i.param.name); });

}  // namespace

namespace {

// A run's growth as its record carries it: the curve of 301 particles on a
// spiral, and their profile about the centre of mass.
io::RunRecord WithGrowth(uint32_t seed, uint64_t particles = 301) {
  io::RunRecord r = ARun(seed);
  io::GyrationTracker t;
  std::vector<double> x, y;
  for (uint64_t i = 0; i < particles; ++i) {
    const double a = 0.1 * static_cast<double>(i) + seed, rad = std::sqrt(static_cast<double>(i));
    x.push_back(std::round(rad * std::cos(a))), y.push_back(std::round(rad * std::sin(a)));
    EXPECT_TRUE(t.Add(x.back(), y.back()));
  }
  r.curve = io::CurveField(t.Curve());
  r.centreProfile = io::ProfileField(io::ProfileAbout(x, y, t.CentreX(), t.CentreY()));
  return r;
}

// The runs' growth travels through tables whole; tables from before it
// still merge, and a growth that does not fit its row is refused.
TEST(MergeGrowth, CurvesTravelWholeAndOlderTablesStillMerge) {
  std::string a = io::CsvHeader(kAbout, kRange), b = a;
  for (uint32_t s : {1u, 2u}) a += io::CsvRow(WithGrowth(s));
  for (uint32_t s : {3u, 4u, 5u}) b += io::CsvRow(WithGrowth(s));
  io::Merged merged;
  ASSERT_EQ(Merge({{"a", a}, {"b", b}}, &merged), "");
  ASSERT_EQ(merged.records.size(), 5u);
  for (const io::RunRecord& r : merged.records) {
    EXPECT_EQ(r.curve, WithGrowth(r.seed).curve);
    EXPECT_EQ(r.centreProfile, WithGrowth(r.seed).centreProfile);
  }
  // A table written before the growth columns: its runs have none.
  std::string older = Table({1, 2});
  older = Replace(older, ",rg_curve,centre_profile\n", "\n");
  older = Replace(Replace(older, ",0.02,,\n", ",0.02\n"), ",0.02,,\n", ",0.02\n");
  ASSERT_EQ(Merge({{"old", older}}, &merged), "");
  EXPECT_EQ(merged.records.size(), 2u);
  EXPECT_TRUE(merged.records[0].curve.empty());

  const std::string good = io::CsvRow(WithGrowth(1));
  const std::string header = io::CsvHeader(kAbout, kRange);
  // The curve must end at the row's own particles: the seed and those stuck.
  EXPECT_EQ(Merge({{"a", header + io::CsvRow(WithGrowth(1, 250))}}),
            "a:5: rg_curve: ends at N 250, not the seed and 300 particles stuck");
  io::RunRecord badProfile = WithGrowth(1);
  badProfile.centreProfile = WithGrowth(1, 250).centreProfile;
  EXPECT_EQ(Merge({{"a", header + io::CsvRow(badProfile)}}),
            "a:5: centre_profile: holds 250 particles, not the seed and 300 stuck");
  // A damaged field is named.
  const std::string damaged = Merge({{"a", header + Replace(good, ";", ";x")}});
  EXPECT_EQ(damaged.rfind("a:5: rg_curve: ", 0), 0u) << damaged;
  const std::string wrongOrder = Merge({{"a", header + Replace(good, "10:", "11:")}});
  EXPECT_EQ(wrongOrder.rfind("a:5: rg_curve: ", 0), 0u) << wrongOrder;
}

}  // namespace
