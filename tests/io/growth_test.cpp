// Growth figures against shapes and synthetic curves whose answers are known.
#include "io/growth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>

#include "io/ensemble.h"
#include "io/growth_wide.h"

namespace {

struct Cloud {
  std::vector<double> x, y;
  void Add(double a, double b) { x.push_back(a), y.push_back(b); }
};

// The definition: Rg of the first n points about their centre, two passes in long double.
long double BruteGyration(const Cloud& c, size_t n) {
  long double cx = 0, cy = 0;
  for (size_t i = 0; i < n; ++i) cx += c.x[i], cy += c.y[i];
  cx /= n, cy /= n;
  long double g = 0;
  for (size_t i = 0; i < n; ++i) g += (c.x[i] - cx) * (c.x[i] - cx) + (c.y[i] - cy) * (c.y[i] - cy);
  return std::sqrt(g / n);
}

Cloud Ring(int points, double radius) {
  Cloud c;
  for (int i = 0; i < points; ++i) c.Add(radius * std::cos(2 * std::numbers::pi * i / points), radius * std::sin(2 * std::numbers::pi * i / points));
  return c;
}

// Lattice points of a disc, nearest the origin first, as a compact growth would add them.
Cloud Disc(int radius) {
  std::vector<std::pair<int, int>> p;
  for (int y = -radius; y <= radius; ++y)
    for (int x = -radius; x <= radius; ++x)
      if (x * x + y * y <= radius * radius) p.push_back({x, y});
  std::stable_sort(p.begin(), p.end(), [](auto a, auto b) {
    return a.first * a.first + a.second * a.second < b.first * b.first + b.second * b.second;
  });
  Cloud c;
  for (auto [x, y] : p) c.Add(x, y);
  return c;
}

Cloud Line(int length) {
  Cloud c;
  for (int i = 0; i < length; ++i) c.Add(i % 2 ? -(i + 1) / 2 : i / 2, 0);  // grows both ways from the seed
  return c;
}

// A wandering cloud far from the origin, where naive sums of squares lose digits.
Cloud Wander(int points, double offset, uint32_t seed) {
  std::mt19937_64 gen(seed);
  std::normal_distribution<double> step(0, 3);
  Cloud c;
  double x = offset, y = -offset / 2;
  for (int i = 0; i < points; ++i) {
    c.Add(x, y);
    x += step(gen), y += step(gen);
  }
  return c;
}

io::GrowthCurve Track(const Cloud& c) {
  io::GrowthCurve curve;
  EXPECT_EQ(io::MeasureCurve(c.x, c.y, curve), "");
  return curve;
}

TEST(GrowthGrid, SizesAreTheNearestIntegersToQuarterPowersOfTwo) {
  EXPECT_EQ(io::GrowthGridSize(13), 10u);
  EXPECT_EQ(io::GrowthGridSize(12), 0u);
  uint64_t before = 0;
  for (int k = 13; k <= 124; ++k) {
    const uint64_t n = io::GrowthGridSize(k);
    EXPECT_LE(std::fabs(static_cast<long double>(n) - std::pow(2.0L, k / 4.0L)), 0.5L) << k;
    EXPECT_GT(n, before) << k;
    before = n;
  }
  // Sizes on, off and below the grid.
  const std::vector<std::pair<uint64_t, std::vector<uint64_t>>> cases = {
      {0, {}}, {1, {1}}, {9, {9}}, {10, {10}}, {12, {10, 11, 12}}, {16, {10, 11, 13, 16}}, {17, {10, 11, 13, 16, 17}}};
  for (const auto& [last, want] : cases) EXPECT_EQ(io::RecordedSizes(last), want) << last;
  EXPECT_EQ(io::RecordedSizes(1000000).size(), 68u);  // k = 13..79 (2^(80/4) is past 10^6), then 10^6
}

TEST(GrowthTracker, MatchesTheDefinitionAtEveryRecordedSize) {
  struct Shape {
    const char* name;
    Cloud cloud;
    double slack;  // off the lattice, positions are quantised to 2^-16
  };
  const std::vector<Shape> shapes = {{"ring", Ring(5000, 300.5), 0.75},
                                     {"disc", Disc(60), 1e-6},
                                     {"line", Line(3001), 1e-6},
                                     {"far wander", Wander(20000, 900000.3, 7), 0.75}};
  for (const Shape& s : shapes) {
    const io::GrowthCurve curve = Track(s.cloud);
    ASSERT_EQ(curve.size(), io::RecordedSizes(s.cloud.x.size()).size()) << s.name;
    for (const io::CurvePoint& p : curve) {
      const long double want = BruteGyration(s.cloud, p.n) * io::kFixedUnit;
      EXPECT_LE(std::fabs(static_cast<long double>(p.gyration) - want), 0.5 + s.slack) << s.name << " N " << p.n;
    }
  }
  // Whole shapes with Rg known in closed form.
  EXPECT_NEAR(Track(Ring(4000, 123.25)).back().Radius(), 123.25, 1e-4);
  const double length = 3001;  // spacing 1: Rg^2 = (L^2 - 1) / 12
  EXPECT_NEAR(Track(Line(3001)).back().Radius(), std::sqrt((length * length - 1) / 12), 1e-5);
}

TEST(GrowthTracker, RoundsExactlyAndRefusesBadPositions) {
  const double q = 1.0 / io::kFixedUnit;
  struct Case {
    std::vector<std::pair<double, double>> points;
    uint64_t gyration;
  };
  const std::vector<Case> cases = {
      {{{0, 0}}, 0},
      {{{5, 5}, {5, 5}}, 0},
      {{{0, 0}, {1, 0}}, 32768},            // 1/2
      {{{0, 0}, {q, 0}}, 1},                // 2^-17: a half rounds up
      {{{3, 4}, {-3, -4}}, 5 * 65536},      // 5
      {{{0, 0}, {0, 3 * q}}, 2},            // 1.5 units of 2^-16 round up to 2
      {{{0, 0}, {2.9 * q, 0}}, 2},          // quantised to the nearest 2^-16: 3 units apart
      {{{0, 0}, {-2.9 * q, 0}}, 2},
      {{{1e6, 1e6}, {1e6 + 1, 1e6}}, 32768}  // far out, no digits lost
  };
  for (const Case& c : cases) {
    io::GyrationTracker t;
    for (auto [x, y] : c.points) ASSERT_TRUE(t.Add(x, y)) << t.Error();
    EXPECT_EQ(t.Gyration(), c.gyration) << c.points.size() << " points from " << c.points[0].first;
  }
  io::GyrationTracker t;
  ASSERT_TRUE(t.Add(0, 0));
  for (auto [x, y] : std::vector<std::pair<double, double>>{{NAN, 0}, {0, INFINITY}, {2e6, 0}, {0, -1048577}}) {
    EXPECT_FALSE(t.Add(x, y));
    EXPECT_FALSE(t.Error().empty());
    EXPECT_EQ(t.Error().find('\n'), std::string::npos);
  }
  EXPECT_EQ(t.Count(), 1u);
  // The same positions in another order: the sums are exact, so the figure is the same to the bit.
  Cloud w = Wander(5000, 12345.678, 3), r = w;
  std::reverse(r.x.begin(), r.x.end());
  std::reverse(r.y.begin(), r.y.end());
  EXPECT_EQ(Track(w).back().gyration, Track(r).back().gyration);
}

// Rg = a N^(1/D) (1 + b N^-omega) with multiplicative noise, on the recorded sizes.
io::GrowthCurve Synthetic(double d, double a, double noise, uint64_t last, uint32_t seed, double b = 0) {
  std::mt19937_64 gen(seed);
  std::normal_distribution<double> g(0, 1);
  io::GrowthCurve c;
  for (uint64_t n : io::RecordedSizes(last)) {
    const double rg = a * std::pow(double(n), 1 / d) * (1 + b / std::sqrt(double(n))) * (1 + noise * g(gen));
    c.push_back({n, static_cast<uint64_t>(std::llround(rg * io::kFixedUnit))});
  }
  return c;
}

TEST(GrowthFit, RecoversDFromRgOfN) {
  for (double d : {1.71, 1.5, 2.0}) {
    const io::GrowthFit f = io::FitGyration(Synthetic(d, 0.7, 0.01, 1000000, 11));
    EXPECT_NEAR(f.dimension, d, 0.02) << d;
    EXPECT_EQ(f.from, 10000);  // 1% of the last N
    EXPECT_EQ(f.points, 27);
    EXPECT_GT(f.dimensionError, 0);
    EXPECT_LT(f.dimensionError, 0.02);
  }
  // A small run's window starts at 100; under three points there is no fit.
  EXPECT_EQ(io::FitGyration(Synthetic(1.71, 1, 0, 5000, 1)).from, 100);
  EXPECT_EQ(io::FitGyration(Synthetic(1.71, 1, 0, 110, 1)).points, 0);
  // Corrections to scaling show in the local slopes and fade with N.
  const io::GrowthCurve corrected = Synthetic(1.71, 0.7, 0, 10000000, 1, 3.0);
  for (int steps : {1, 8}) {
    const std::vector<io::LocalSlope> local = io::LocalSlopes(corrected, steps);
    ASSERT_GE(local.size(), 10u);
    EXPECT_GT(std::fabs(local.front().dimension - 1.71), 0.1) << steps;
    EXPECT_LT(std::fabs(local.back().dimension - 1.71), 0.01) << steps;
    EXPECT_EQ(local.front().from, 10u);
    EXPECT_EQ(local.back().to, 10000000u);
  }
  const std::vector<io::LocalSlope> pure = io::LocalSlopes(Synthetic(1.71, 0.7, 0, 100000, 1), 8);
  for (const io::LocalSlope& s : pure) EXPECT_NEAR(s.dimension, 1.71, 0.01) << s.n;
}

TEST(GrowthProfile, SharesTheEnsembleGridAndCountsLikeTheDefinition) {
  for (size_t i = 0; i < io::kMostProfileRadii; ++i)
    EXPECT_NEAR(io::ProfileRadius(i), io::GridRadius(i), 1e-14 * io::GridRadius(i)) << i;
  // On the lattice some distances fall on the grid's radii (1, sqrt 2, 2): they count as within.
  const Cloud lattice = Disc(10);
  const io::RadialProfile l = io::ProfileAbout(lattice.x, lattice.y, 0, 0);
  EXPECT_EQ(l[0], 5u);
  EXPECT_EQ(l[4], 9u);
  EXPECT_EQ(l[8], 13u);
  EXPECT_EQ(l.back(), lattice.x.size());
  const Cloud w = Wander(3000, 10.5, 5);
  const double cx = 14.25, cy = -3.5;
  const io::RadialProfile p = io::ProfileAbout(w.x, w.y, cx, cy);
  ASSERT_FALSE(p.empty());
  double farthest = 0;
  for (size_t j = 0; j < w.x.size(); ++j) farthest = std::max(farthest, std::hypot(w.x[j] - cx, w.y[j] - cy));
  EXPECT_GE(io::ProfileRadius(p.size() - 1), farthest);
  EXPECT_LT(io::ProfileRadius(p.size() - 2), farthest);
  for (size_t i = 0; i < p.size(); ++i) {
    uint64_t within = 0;
    for (size_t j = 0; j < w.x.size(); ++j) within += std::hypot(w.x[j] - cx, w.y[j] - cy) <= io::ProfileRadius(i);
    EXPECT_EQ(p[i], within) << i;
  }
}

TEST(GrowthProfile, FrozenFitGivesTheDimensionOfDiscAndLine) {
  struct Case {
    const char* name;
    Cloud cloud;
    double d;
  };
  for (const Case& c : std::vector<Case>{{"disc", Disc(200), 2.0}, {"line", Line(20001), 1.0}}) {
    io::GyrationTracker t;
    for (size_t i = 0; i < c.cloud.x.size(); ++i) ASSERT_TRUE(t.Add(c.cloud.x[i], c.cloud.y[i]));
    const double rg = t.Gyration() / io::kFixedUnit;
    for (auto [cx, cy] : {std::pair{t.CentreX(), t.CentreY()}, std::pair{c.cloud.x[0], c.cloud.y[0]}}) {
      const io::GrowthFit f = io::FitProfile(io::ProfileAbout(c.cloud.x, c.cloud.y, cx, cy), io::FrozenWindow(rg));
      EXPECT_NEAR(f.dimension, c.d, 0.03) << c.name;
      EXPECT_GE(f.points, 20) << c.name;
      EXPECT_EQ(f.from, 4.0);
      EXPECT_EQ(f.to, rg / 2);
    }
  }
  // Too small a cluster has no frozen window to fit.
  const Cloud small = Disc(6);
  EXPECT_EQ(io::FitProfile(io::ProfileAbout(small.x, small.y, 0, 0), io::FrozenWindow(4.5)).points, 0);
}

TEST(GrowthProfile, FrozenRadiusSeesWhereLateParticlesArrive) {
  // Grown outwards, the last half of a disc lies beyond R / sqrt 2.
  const Cloud grown = Disc(200);
  const double frozen = io::FrozenRadius(grown.x, grown.y);
  EXPECT_LE(frozen, 200 / std::sqrt(2.0) + 0.5);
  EXPECT_GE(frozen, 200 / std::sqrt(2.0) / std::pow(2.0, 1 / 8.0) - 0.5);
  // The same points in a random order (the seed kept first) freeze nowhere.
  Cloud shuffled = grown;
  std::vector<size_t> order(grown.x.size() - 1);
  for (size_t i = 0; i < order.size(); ++i) order[i] = i + 1;
  std::shuffle(order.begin(), order.end(), std::mt19937(4));
  for (size_t i = 0; i < order.size(); ++i) shuffled.x[i + 1] = grown.x[order[i]], shuffled.y[i + 1] = grown.y[order[i]];
  EXPECT_LT(io::FrozenRadius(shuffled.x, shuffled.y), 2.0);
}

TEST(GrowthAnisotropy, AxesDiagonalsAndRound) {
  Cloud axes, diagonals;
  axes.Add(0, 0), diagonals.Add(0, 0);
  for (int r = 1; r <= 100; ++r) {
    for (auto [sx, sy] : {std::pair{1, 0}, std::pair{0, 1}, std::pair{-1, 0}, std::pair{0, -1}}) axes.Add(r * sx, r * sy);
    for (auto [sx, sy] : {std::pair{1, 1}, std::pair{-1, 1}, std::pair{-1, -1}, std::pair{1, -1}}) diagonals.Add(r * sx, r * sy);
  }
  for (const io::Shell& s : io::Anisotropy(axes.x, axes.y))
    if (s.particles) {
      EXPECT_DOUBLE_EQ(s.meanCos4, 1.0) << s.outer;
    }
  for (const io::Shell& s : io::Anisotropy(diagonals.x, diagonals.y))
    if (s.particles) {
      EXPECT_DOUBLE_EQ(s.meanCos4, -1.0) << s.outer;
    }
  const std::vector<io::Shell> round = io::Anisotropy(Disc(150).x, Disc(150).y);
  uint64_t counted = 0;
  for (const io::Shell& s : round) {
    counted += s.particles;
    if (s.outer > 30) {
      EXPECT_LT(std::fabs(s.meanCos4), 0.05) << s.outer;
    }
  }
  EXPECT_EQ(counted + 1, Disc(150).x.size());
}

TEST(GrowthText, CurvesAndProfilesRoundTripExactly) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    const Cloud w = Wander(static_cast<int>(1000 * seed * seed + 7), 50.0 * seed, seed);
    const io::GrowthCurve c = Track(w);
    io::GrowthCurve back;
    ASSERT_EQ(io::ParseCurveField(io::CurveField(c), back), "");
    ASSERT_EQ(back.size(), c.size());
    for (size_t i = 0; i < c.size(); ++i) EXPECT_TRUE(back[i].n == c[i].n && back[i].gyration == c[i].gyration) << i;
    const io::RadialProfile p = io::ProfileAbout(w.x, w.y, 0, 0);
    io::RadialProfile pb;
    ASSERT_EQ(io::ParseProfileField(io::ProfileField(p), pb), "");
    EXPECT_EQ(pb, p);
  }
}

TEST(GrowthText, BadFieldsAreRefusedWithAReason) {
  const std::vector<std::pair<std::string, std::string>> curves = {
      {"", "empty"},
      {"10:5;", "point 2: empty (cut short?)"},
      {"10:5;11:", "point 2: Rg missing"},
      {"10:5;11", "not N:Rg"},
      {":5", "N missing"},
      {"10:-5", "not a whole number"},
      {"10:5.5", "not a whole number"},
      {"10:+5", "not a whole number"},
      {"10: 5", "not a whole number"},
      {"10:5\n", "not a whole number"},
      {"10:x", "not a whole number"},
      {"10:05", "leading zero"},
      {"10:99999999999999999999999", "too large"},
      {"10:300000000000", "too large"},
      {"99999999999:1", "too large"},
      {"10:5;11:6;11:7", "not increasing"},
      {"11:5;10:5", "not increasing"},
      {"10:5;12:5", "point 2: N 12 where the recorded sizes have 11"},
      {"11:5", "point 1: N 11 where the recorded sizes have 10"},
      {"0:0", "N is 0"},
      {"1:5", "Rg 0"},
  };
  for (const auto& [text, reason] : curves) {
    io::GrowthCurve c{{1, 0}};
    const std::string why = io::ParseCurveField(text, c);
    EXPECT_NE(why.find(reason), std::string::npos) << "'" << text << "' gave '" << why << "'";
    EXPECT_EQ(why.find('\n'), std::string::npos) << why;
    EXPECT_TRUE(c.empty());
  }
  const std::vector<std::pair<std::string, std::string>> profiles = {
      {"", "empty"}, {"1;;2", "missing"}, {"1;3;2", "never falls"}, {"1;a", "not a whole number"},
      {"0;0", "no particles"}, {"1;99999999999999999999", "too large"}, {std::string(250, '1') + "", "too large"}};
  for (const auto& [text, reason] : profiles) {
    io::RadialProfile p;
    const std::string why = io::ParseProfileField(text, p);
    EXPECT_NE(why.find(reason), std::string::npos) << "'" << text << "' gave '" << why << "'";
  }
}

TEST(GrowthText, MangledCurvesAreReadBackOrRefusedNeverMisread) {
  const std::string good = io::CurveField(Track(Wander(50000, 0, 9)));
  std::mt19937 gen(12);
  const std::string alphabet = "0123456789:;-x \n";
  int refused = 0;
  for (int round = 0; round < 5000; ++round) {
    std::string t = good;
    for (int edits = 1 + static_cast<int>(gen() % 3); edits > 0; --edits) {
      const size_t at = gen() % (t.size() + 1);
      switch (gen() % 4) {
        case 0: t.insert(t.begin() + static_cast<long>(at), alphabet[gen() % alphabet.size()]); break;
        case 1: if (at < t.size()) t.erase(at, 1); break;
        case 2: if (at < t.size()) t[at] = alphabet[gen() % alphabet.size()]; break;
        default: t.resize(at); break;  // cut short
      }
    }
    io::GrowthCurve c;
    const std::string why = io::ParseCurveField(t, c);
    if (why.empty()) {
      EXPECT_EQ(io::CurveField(c), t);  // whatever is read is exactly what was written
    } else {
      ++refused;
      EXPECT_TRUE(c.empty());
      EXPECT_EQ(why.find('\n'), std::string::npos);
    }
  }
  EXPECT_GT(refused, 3000);
}

// Independent runs: each its own D around 1.71, amplitude and noise.
std::vector<io::GrowthRun> Runs(int count, uint32_t seed, bool profiles) {
  std::mt19937_64 gen(seed);
  std::normal_distribution<double> g(0, 1);
  std::vector<io::GrowthRun> runs;
  for (int i = 0; i < count; ++i) {
    io::GrowthRun r;
    r.seed = static_cast<uint32_t>(100 + 3 * i);
    r.curve = Synthetic(1.71 + 0.03 * g(gen), 0.7 * (1 + 0.05 * g(gen)), 0.01, 100000, static_cast<uint32_t>(gen()));
    if (profiles) {
      const int radius = 60 + static_cast<int>(gen() % 20);
      const Cloud d = Disc(radius);
      r.profile = io::ProfileAbout(d.x, d.y, 0.5 * g(gen), 0.5 * g(gen));
      r.curve.back().gyration = static_cast<uint64_t>(radius / std::sqrt(2.0) * io::kFixedUnit);
    }
    runs.push_back(r);
  }
  return runs;
}

TEST(GrowthEnsemble, SameFiguresInAnyOrder) {
  std::vector<io::GrowthRun> runs = Runs(30, 5, true);
  io::EnsembleOptions o;
  o.resamples = 300;
  io::GrowthEnsemble a, b;
  ASSERT_EQ(io::SummariseGrowth(runs, o, a), "");
  std::shuffle(runs.begin(), runs.end(), std::mt19937(8));
  ASSERT_EQ(io::SummariseGrowth(runs, o, b), "");
  EXPECT_EQ(io::EnsembleCurveText(a), io::EnsembleCurveText(b));
  EXPECT_EQ(io::EnsembleProfileRows(a), io::EnsembleProfileRows(b));
  EXPECT_EQ(io::DescribeGrowthEnsemble(a), io::DescribeGrowthEnsemble(b));
  for (auto [x, y] : {std::pair{a.gyrationD, b.gyrationD}, std::pair{a.profileD, b.profileD}}) {
    EXPECT_EQ(x.meanFit.dimension, y.meanFit.dimension);
    EXPECT_EQ(x.bootstrapError, y.bootstrapError);
    EXPECT_EQ(x.jackknifeError, y.jackknifeError);
  }
  EXPECT_EQ(a.perRunMean, b.perRunMean);
  EXPECT_EQ(a.perRunSe, b.perRunSe);
  // The mean profile of discs has D = 2 on the frozen window.
  EXPECT_NEAR(a.profileD.meanFit.dimension, 2.0, 0.03);
  EXPECT_GT(a.profileD.bootstrapError, 0);
  // Another generator seed gives another, similar, bootstrap error.
  io::EnsembleOptions other = o;
  other.bootstrapSeed = 99;
  io::GrowthEnsemble c;
  ASSERT_EQ(io::SummariseGrowth(runs, other, c), "");
  EXPECT_NE(c.gyrationD.bootstrapError, a.gyrationD.bootstrapError);
  EXPECT_NEAR(c.gyrationD.bootstrapError, a.gyrationD.bootstrapError, 0.3 * a.gyrationD.bootstrapError);
}

TEST(GrowthEnsemble, MeansAndSpreadsAreThoseOfTheRuns) {
  const std::vector<io::GrowthRun> runs = Runs(17, 6, false);
  io::GrowthEnsemble e;
  ASSERT_EQ(io::SummariseGrowth(runs, {}, e), "");
  ASSERT_EQ(e.curve.size(), runs[0].curve.size());
  for (size_t j = 0; j < e.curve.size(); ++j) {
    double mean = 0, squares = 0;
    for (const io::GrowthRun& r : runs) mean += r.curve[j].Radius();
    mean /= runs.size();
    for (const io::GrowthRun& r : runs) squares += (r.curve[j].Radius() - mean) * (r.curve[j].Radius() - mean);
    const double sd = std::sqrt(squares / (runs.size() - 1));
    EXPECT_NEAR(e.curve[j].mean, mean, 1e-12 * mean);
    EXPECT_NEAR(e.curve[j].sd, sd, 1e-9 * mean);
    EXPECT_NEAR(e.curve[j].se, sd / std::sqrt(17.0), 1e-9 * mean);
    EXPECT_EQ(e.curve[j].runs, 17u);
  }
  EXPECT_TRUE(e.profile.empty());
  EXPECT_NEAR(e.gyrationD.meanFit.dimension, 1.71, 0.03);
}

TEST(GrowthEnsemble, BootstrapErrorIsTheSpreadOverRunsOverRootN) {
  // For independent runs the error of D from the mean curve is close to
  // sd(D of a run) / sqrt(runs).  The fit's own regression error, which
  // sees only the scatter about one line, is far below it: the band below
  // tells them apart.
  for (uint32_t seed : {21u, 22u}) {
    const std::vector<io::GrowthRun> runs = Runs(60, seed, false);
    io::GrowthEnsemble e;
    ASSERT_EQ(io::SummariseGrowth(runs, {}, e), "");
    ASSERT_EQ(e.perRunCount, 60);
    const double expected = e.perRunSd / std::sqrt(60.0);
    EXPECT_NEAR(e.perRunSe, expected, 1e-15);
    EXPECT_GT(e.gyrationD.bootstrapError, 0.8 * expected) << seed;
    EXPECT_LT(e.gyrationD.bootstrapError, 1.25 * expected) << seed;
    EXPECT_GT(e.gyrationD.jackknifeError, 0.8 * expected) << seed;
    EXPECT_LT(e.gyrationD.jackknifeError, 1.25 * expected) << seed;
    EXPECT_EQ(e.gyrationD.resamples, 1000);
    EXPECT_LT(e.gyrationD.meanFit.dimensionError, 0.5 * expected) << "the band has no power";
    EXPECT_NEAR(e.gyrationD.meanFit.dimension, e.perRunMean, 3 * expected);
  }
}

TEST(GrowthEnsemble, RefusesWhatCannotBeSummed) {
  io::GrowthEnsemble e;
  EXPECT_EQ(io::SummariseGrowth({}, {}, e), "no runs");
  std::vector<io::GrowthRun> runs = Runs(3, 1, true);
  runs[2].seed = runs[0].seed;
  EXPECT_NE(io::SummariseGrowth(runs, {}, e).find("given twice"), std::string::npos);
  runs = Runs(3, 1, true);
  runs[1].profile.clear();
  EXPECT_NE(io::SummariseGrowth(runs, {}, e).find("profile"), std::string::npos);
  runs = Runs(3, 1, false);
  runs[1].curve.erase(runs[1].curve.begin() + 3);
  EXPECT_NE(io::SummariseGrowth(runs, {}, e).find("recorded sizes"), std::string::npos);
  runs[1].curve.clear();
  EXPECT_NE(io::SummariseGrowth(runs, {}, e).find("no curve"), std::string::npos);
  // Runs of different sizes meet on the sizes all of them reached.
  runs = Runs(3, 1, false);
  runs[1].curve = Synthetic(1.71, 0.7, 0.01, 5000, 4);
  ASSERT_EQ(io::SummariseGrowth(runs, {}, e), "");
  const std::vector<uint64_t> small = io::RecordedSizes(5000);
  ASSERT_EQ(e.curve.size(), small.size() - 1);
  EXPECT_EQ(e.curve.back().at, static_cast<double>(small[small.size() - 2]));
}

// The words of the exact sums at their edges: carries and borrows that
// cross from one word into the next, the largest values, signed negatives.
constexpr uint64_t kAll = ~uint64_t{0};
using io::Wide;

TEST(GrowthWide, AddAndSubtractCarryAcrossWords) {
  struct Case {
    Wide a, b, sum, difference;
  };
  const Case cases[] = {
      {{0, kAll}, {0, 1}, {1, 0}, {0, kAll - 1}},
      {{kAll, kAll}, {0, 1}, {0, 0}, {kAll, kAll - 1}},  // wraps at 2^128
      {{1, 0}, {0, 1}, {1, 1}, {0, kAll}},                // borrow out of the low word
      {{0, 0}, {0, 1}, {0, 1}, {kAll, kAll}},
      {{5, 3}, {7, kAll}, {13, 2}, {kAll - 2, 4}},
      {{kAll, kAll}, {kAll, kAll}, {kAll, kAll - 1}, {0, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(io::wide::Add(c.a, c.b), c.sum) << c.a.hi << ":" << c.a.lo;
    EXPECT_EQ(io::wide::Sub(c.a, c.b), c.difference) << c.a.hi << ":" << c.a.lo;
    EXPECT_EQ(io::wide::Sub(c.sum, c.b), c.a);
  }
  EXPECT_LT((Wide{0, kAll}), (Wide{1, 0}));  // the high word decides
  EXPECT_LT((Wide{1, 0}), (Wide{1, 1}));
}

TEST(GrowthWide, ProductsKeepEveryBit) {
  struct Case {
    uint64_t a, b;
    Wide product;
  };
  const Case cases[] = {
      {kAll, kAll, {kAll - 1, 1}},
      {uint64_t{1} << 32, uint64_t{1} << 32, {1, 0}},
      {0xFFFFFFFFu, 0xFFFFFFFFu, {0, 0xFFFFFFFE00000001u}},
      {0x100000001u, 0xFFFFFFFFu, {0, kAll}},  // the middle column fills without spilling
      {uint64_t{1} << 63, 2, {1, 0}},
      {kAll, 2, {1, kAll - 1}},
      {0, kAll, {0, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(io::wide::Mul(c.a, c.b), c.product) << c.a << " * " << c.b;
    EXPECT_EQ(io::wide::Mul(c.b, c.a), c.product) << c.b << " * " << c.a;
  }
  struct Wider {
    Wide a, b;
    uint64_t w[4];
  };
  const Wider wider[] = {
      {{kAll, kAll}, {kAll, kAll}, {1, 0, kAll - 1, kAll}},  // (2^128 - 1)^2 = 2^256 - 2^129 + 1
      {{1, 0}, {1, 0}, {0, 0, 1, 0}},
      {{0, kAll}, {0, kAll}, {1, kAll - 1, 0, 0}},
      {{kAll, kAll}, {0, 1}, {kAll, kAll, 0, 0}},
      {{kAll, 0}, {kAll, 0}, {0, 0, 1, kAll - 1}},
      {{0, 0}, {kAll, kAll}, {0, 0, 0, 0}},
  };
  for (const Wider& c : wider) {
    const io::wide::U256 p = io::wide::Mul(c.a, c.b);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(p.w[i], c.w[i]) << "word " << i << " of " << c.a.hi << ":" << c.a.lo;
  }
  // Subtracting and comparing in 256 bits, borrowing through every word.
  io::wide::U256 one, top;
  one.w[0] = 1;
  top.w[3] = 1;
  const io::wide::U256 below = io::wide::Sub(top, one);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(below.w[i], kAll);
  EXPECT_EQ(below.w[3], 0u);
  EXPECT_TRUE(io::wide::NotAbove(below, top));
  EXPECT_FALSE(io::wide::NotAbove(top, below));
  EXPECT_TRUE(io::wide::NotAbove(top, top));
  const io::wide::U256 four = io::wide::Times4(below);
  EXPECT_EQ(four.w[0], kAll - 3);
  EXPECT_EQ(four.w[1], kAll);
  EXPECT_EQ(four.w[3], 3u);
}

TEST(GrowthWide, SignedSumsCrossZeroAndReachTheirEnds) {
  struct Case {
    std::vector<int64_t> adds;
    bool negative;
    Wide magnitude;
    double value;
  };
  const int64_t least = std::numeric_limits<int64_t>::min(), most = std::numeric_limits<int64_t>::max();
  const std::vector<Case> cases = {
      {{-1}, true, {0, 1}, -1.0},
      {{-1, 1}, false, {0, 0}, 0.0},
      {{-5, 3, 4}, false, {0, 2}, 2.0},
      {{least}, true, {0, uint64_t{1} << 63}, -9223372036854775808.0},
      {{least, least}, true, {1, 0}, -18446744073709551616.0},
      {{least, least, least}, true, {1, uint64_t{1} << 63}, -27670116110564327424.0},
      {{most, most, 2}, false, {1, 0}, 18446744073709551616.0},
      {{least, least, most, most, 1}, true, {0, 1}, -1.0},
  };
  for (const Case& c : cases) {
    io::SignedWide s;
    for (int64_t v : c.adds) s = io::wide::Add(s, v);
    EXPECT_EQ(io::wide::Negative(s), c.negative) << c.adds.size();
    EXPECT_EQ(io::wide::Magnitude(s), c.magnitude) << c.adds.size();
    EXPECT_EQ(io::wide::ToDouble(s), c.value) << c.adds.size();
  }
  EXPECT_EQ(io::wide::Magnitude(io::SignedWide{uint64_t{1} << 63, 0}), (Wide{uint64_t{1} << 63, 0}));  // -2^127
  EXPECT_EQ(io::wide::Magnitude(least), uint64_t{1} << 63);
  EXPECT_EQ(io::wide::Magnitude(int64_t{-7}), 7u);
}

TEST(GrowthWide, ConvertsToTheNearestDoubleAndToDecimal) {
  // 2^53 + 1 and 2^53 + 3 lie halfway between doubles: ties go to even,
  // unless a bit far below in the low word breaks the tie.
  const uint64_t odd1 = (uint64_t{1} << 53) + 1, odd3 = (uint64_t{1} << 53) + 3;
  struct Case {
    Wide v;
    double nearest;
  };
  const Case cases[] = {
      {{0, odd1}, 9007199254740992.0},
      {{odd1 << 6, 0}, std::ldexp(9007199254740992.0, 70)},
      {{odd1 << 6, 1}, std::ldexp(9007199254740994.0, 70)},
      {{odd3 << 6, 0}, std::ldexp(9007199254740996.0, 70)},
      {{odd1 >> 1, uint64_t{1} << 63}, std::ldexp(9007199254740992.0, 63)},  // the tie straddles the words
      {{odd1 >> 1, (uint64_t{1} << 63) | 1}, std::ldexp(9007199254740994.0, 63)},
      {{kAll, kAll}, std::ldexp(1.0, 128)},
      {{1, 0}, 18446744073709551616.0},
      {{0, 0}, 0.0},
  };
  for (const Case& c : cases) EXPECT_EQ(io::wide::ToDouble(c.v), c.nearest) << c.v.hi << ":" << c.v.lo;

  EXPECT_EQ(io::WideText({0, 0}), "0");
  EXPECT_EQ(io::WideText({0, 10}), "10");
  EXPECT_EQ(io::WideText({0, kAll}), "18446744073709551615");
  EXPECT_EQ(io::WideText({1, 0}), "18446744073709551616");
  EXPECT_EQ(io::WideText({5421010862427522170u, 687399551400673280u}), "100000000000000000000000000000000000000");
  EXPECT_EQ(io::WideText({kAll, kAll}), "340282366920938463463374607431768211455");
}

#ifdef __SIZEOF_INT128__
// Where the compiler has a 128-bit type, the words agree with it on
// random operands of every length.
TEST(GrowthWide, AgreesWithTheNativeType) {
  using U = unsigned __int128;
  const auto native = [](Wide w) { return (static_cast<U>(w.hi) << 64) | w.lo; };
  std::mt19937_64 gen(12);
  const auto operand = [&] {
    const int bits = static_cast<int>(gen() % 129);
    const U v = (static_cast<U>(gen()) << 64) | gen();
    return bits == 0 ? Wide{} : Wide{static_cast<uint64_t>((v >> (128 - bits)) >> 64), static_cast<uint64_t>(v >> (128 - bits))};
  };
  for (int i = 0; i < 20000; ++i) {
    const Wide a = operand(), b = operand();
    EXPECT_EQ(native(io::wide::Add(a, b)), native(a) + native(b));
    EXPECT_EQ(native(io::wide::Sub(a, b)), native(a) - native(b));
    EXPECT_EQ(native(io::wide::Mul(a.lo, b.lo)), static_cast<U>(a.lo) * b.lo);
    EXPECT_EQ(native(io::wide::Low(io::wide::Mul(a, b))), native(a) * native(b));
    EXPECT_EQ(io::wide::ToDouble(a), static_cast<double>(native(a))) << a.hi << ":" << a.lo;
    EXPECT_EQ(a < b, native(a) < native(b));
    if (i % 20 == 0) {
      std::string digits;
      for (U v = native(a); v; v /= 10) digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
      EXPECT_EQ(io::WideText(a), digits.empty() ? "0" : digits);
    }
  }
}
#endif

// Clouds made with integer arithmetic alone (exact doubles), so that every
// platform sees the same positions: a lattice walk with a third-of-a-unit
// offset (quantised by rounding), and points spread over the whole
// coordinate range, where the sums need every bit of their words.
Cloud LatticeWalk(int points, uint64_t seed) {
  std::mt19937_64 gen(seed);
  Cloud c;
  int64_t x = 0, y = 0;
  for (int i = 0; i < points; ++i) {
    c.Add(static_cast<double>(x) + 1.0 / 3.0, static_cast<double>(y) - 2.0 / 3.0);
    const uint64_t step = gen() % 4;
    (step < 2 ? x : y) += step % 2 ? 1 : -1;
  }
  return c;
}

Cloud FarSpread(int points, uint64_t seed) {
  std::mt19937_64 gen(seed);
  Cloud c;
  for (int i = 0; i < points; ++i) {
    const int64_t qx = static_cast<int64_t>(gen() >> 27) - (int64_t{1} << 36);
    const int64_t qy = static_cast<int64_t>(gen() >> 27) - (int64_t{1} << 36);
    c.Add(static_cast<double>(qx) / io::kFixedUnit, static_cast<double>(qy) / io::kFixedUnit);
  }
  return c;
}

uint64_t Fnv(const std::string& s) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char ch : s) h = (h ^ ch) * 1099511628211ull;
  return h;
}

std::string LastLine(const std::string& s) {
  const size_t end = s.find_last_not_of('\n');
  return s.substr(s.rfind('\n', end) + 1, end - s.rfind('\n', end));
}

// Figures pinned to the bit: written and read back by other runs and other
// builds, so any change in the exact arithmetic shows here.
TEST(GrowthPinned, CurvesAndEnsembleTextsKeepTheirExactFigures) {
  const std::string walk = io::CurveField(Track(LatticeWalk(5000, 3)));
  const std::string far = io::CurveField(Track(FarSpread(3000, 4)));
  EXPECT_EQ(Fnv(walk), 15099276977730134038u) << walk;
  EXPECT_EQ(walk.substr(walk.rfind(';') + 1), "5000:1873674");
  EXPECT_EQ(Fnv(far), 13068216807481500478u) << far;
  EXPECT_EQ(far.substr(far.rfind(';') + 1), "3000:56252242496");

  std::vector<io::GrowthRun> runs;
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    const Cloud c = LatticeWalk(3000 + 500 * static_cast<int>(seed), seed);
    io::GyrationTracker t;
    for (size_t i = 0; i < c.x.size(); ++i) ASSERT_TRUE(t.Add(c.x[i], c.y[i]));
    runs.push_back({seed, t.Curve(), io::ProfileAbout(c.x, c.y, t.CentreX(), t.CentreY())});
  }
  io::EnsembleOptions o;
  o.resamples = 50;
  io::GrowthEnsemble e;
  ASSERT_EQ(io::SummariseGrowth(runs, o, e), "");
  const std::string curve = io::EnsembleCurveText(e), profile = io::EnsembleProfileRows(e);
  EXPECT_EQ(Fnv(curve), 7635498026646830096u) << curve;
  EXPECT_EQ(Fnv(profile), 15431180078004836657u) << profile;
  EXPECT_EQ(LastLine(curve), "3444,6,20.265022,3.688327,1.505753,7968531,10875052774291") << io::DescribeGrowthEnsemble(e);

  // Runs whose Rg is near the largest any cluster has: sums of squares
  // past 64 bits, and variance numerators past 96.
  std::mt19937_64 gen(9);
  std::vector<io::GrowthRun> huge;
  for (uint32_t seed = 0; seed < 1000; ++seed) {
    io::GrowthRun r;
    r.seed = seed;
    for (uint64_t n : io::RecordedSizes(1000)) r.curve.push_back({n, (uint64_t{1} << 38) - (gen() >> 30)});
    huge.push_back(r);
  }
  o.resamples = 0;
  ASSERT_EQ(io::SummariseGrowth(huge, o, e), "");
  const std::string hugeText = io::EnsembleCurveText(e);
  EXPECT_EQ(Fnv(hugeText), 9883890954207316207u) << hugeText;
  EXPECT_EQ(LastLine(hugeText), "1000,1000,4065203.519265,75242.784215,2379.385756,266417177838566,71002404188352085003378562");
}

}  // namespace
