// The aggregate's figures on shapes whose dimension is known.
#include <gtest/gtest.h>

#include <cmath>

#include "io/stats.h"

namespace {

using io::Point;

TEST(Stats, KnownShapesGiveTheirDimensions) {
  std::vector<Point> disc{{0, 0}}, line{{0, 0}};
  for (int y = -200; y <= 200; ++y)
    for (int x = -200; x <= 200; ++x)
      if ((x || y) && x * x + y * y <= 200 * 200) disc.push_back({x, y});
  for (int x = 1; x <= 400; ++x) line.push_back({x, 0});

  const io::AggregateStats d = io::Measure(disc);
  EXPECT_NEAR(d.dimension, 2.0, 0.05);
  EXPECT_NEAR(d.maxRadius, 200.0, 0.5);
  EXPECT_NEAR(d.gyration, 200.0 / std::sqrt(2.0), 1.0);  // a disc's is R / sqrt 2
  EXPECT_GE(d.fitPoints, 3);
  EXPECT_LT(d.dimensionError, 0.05);

  const io::AggregateStats l = io::Measure(line);
  EXPECT_NEAR(l.dimension, 1.0, 0.05);
  EXPECT_EQ(l.particles, 401u);
}

TEST(Stats, TooSmallForAFit) {
  const io::AggregateStats s = io::Measure({{0, 0}, {1, 0}, {2, 0}});
  EXPECT_LT(s.fitPoints, 3);
  EXPECT_NE(io::Describe(s).find("too small"), std::string::npos);
  EXPECT_EQ(io::Measure({}).particles, 0u);
}

}  // namespace
