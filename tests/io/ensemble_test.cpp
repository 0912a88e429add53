// The figures of an ensemble: what runs hand back, and their spread.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "io/ensemble.h"
#include "io/stats.h"

namespace {

TEST(Ensemble, ARecordComesBackBitForBit) {
  io::RunRecord r;
  r.seed = 4294967295u;
  r.stuck = 3000;
  r.inPicture = 2987;
  r.launched = 123456789012ull;
  r.finalRadius = 129.0;
  r.gyration = 1.0 / 3.0;
  r.dimension = 1.6180339887498949;
  r.dimensionError = 1e-300;
  r.fitted = true;
  const std::string out = "stuck 3000, launched 9\nparticles 1\n" + io::RecordLine(r) + "\n";
  const std::optional<io::RunRecord> back = io::FindRecord(out);
  ASSERT_TRUE(back.has_value()) << out;
  EXPECT_EQ(back->seed, r.seed);
  EXPECT_EQ(back->launched, r.launched);
  EXPECT_EQ(back->inPicture, r.inPicture);
  EXPECT_EQ(back->gyration, r.gyration);
  EXPECT_EQ(back->dimension, r.dimension);
  EXPECT_EQ(back->dimensionError, r.dimensionError);
  EXPECT_TRUE(back->fitted);
  EXPECT_EQ(io::CsvRow(*back), io::CsvRow(r));
}

TEST(Ensemble, OnlyWholeRecordLinesCount) {
  io::RunRecord r;
  r.seed = 7;
  const std::string line = io::RecordLine(r);
  EXPECT_FALSE(io::FindRecord("").has_value());
  EXPECT_FALSE(io::FindRecord("say " + line + "\n").has_value());             // not at a line's start
  EXPECT_FALSE(io::FindRecord(line.substr(0, line.size() - 2) + "\n").has_value());  // cut short
  EXPECT_FALSE(io::FindRecord(line + " extra\n").has_value());
  EXPECT_TRUE(io::FindRecord(line).has_value());  // no newline at the end
  EXPECT_TRUE(io::FindRecord(line + "\r\n").has_value());
}

TEST(Ensemble, MeanSpreadAndStandardError) {
  const io::Spread s = io::SpreadOf({1, 2, 3, 4});
  EXPECT_EQ(s.count, 4);
  EXPECT_DOUBLE_EQ(s.mean, 2.5);
  EXPECT_NEAR(s.sd, std::sqrt(5.0 / 3.0), 1e-12);  // the sample's, n - 1
  EXPECT_NEAR(s.se, std::sqrt(5.0 / 3.0) / 2, 1e-12);
  const io::Spread one = io::SpreadOf({1.5});
  EXPECT_EQ(one.sd, 0);
  EXPECT_EQ(one.mean, 1.5);

  std::vector<io::RunRecord> runs(3);
  runs[0].dimension = 1.6, runs[1].dimension = 1.7, runs[0].fitted = runs[1].fitted = true;
  runs[0].gyration = 10, runs[1].gyration = 20, runs[2].gyration = 30;
  runs[2].dimension = 99;  // not fitted: left out of D
  EXPECT_EQ(io::DescribeEnsemble(runs),
            "3 runs: D mean 1.650, SD 0.071, standard error 0.050 (of 2 runs large enough); "
            "radius of gyration mean 20.00, SD 10.00, standard error 5.77");
}

// The profile holds the fit's own radii: a least-squares line through its
// points in the fit's range gives the fitted dimension again.
TEST(Profile, RefittingTheProfileGivesTheDimension) {
  std::vector<io::Point> points{{0, 0}};
  for (int y = -80; y <= 80; ++y)
    for (int x = -80; x <= 80; ++x)
      if ((x || y) && (x == 0 || y == 0 || x == y || (x * x + y * y < 400)) && x * x + y * y <= 6400)
        points.push_back({x + 3, y + 5});
  const io::AggregateStats s = io::Measure(points, {3, 5});
  ASSERT_GE(s.fitPoints, 3);
  const std::vector<io::ProfilePoint> p = io::Profile(points, {3, 5}, s);
  ASSERT_FALSE(p.empty());
  EXPECT_GE(p.front().r, 1.0);
  EXPECT_LT(p.front().r, 1.2);
  EXPECT_GE(p.back().r, s.maxRadius);
  EXPECT_EQ(p.back().n, points.size());
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  int n = 0;
  for (size_t i = 0; i < p.size(); ++i) {
    if (i) {
      EXPECT_GE(p[i].n, p[i - 1].n);
    }
    if (p[i].r < s.fitFrom * (1 - 1e-9) || p[i].r > s.fitTo * (1 + 1e-9)) continue;
    const double x = std::log(p[i].r), y = std::log(static_cast<double>(p[i].n));
    sx += x, sy += y, sxx += x * x, sxy += x * y, ++n;
  }
  EXPECT_EQ(n, s.fitPoints);
  EXPECT_NEAR((n * sxy - sx * sy) / (n * sxx - sx * sx), s.dimension, 1e-9);
  // Its text: one "r,N(r)" line a radius.
  const std::string text = io::ProfileText(p);
  EXPECT_EQ(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')), p.size());
  EXPECT_EQ(text.substr(text.rfind(',', text.size() - 2)), "," + std::to_string(points.size()) + "\n");
}

}  // namespace
