// The aggregate's figures on shapes whose dimension is known.
#include <gtest/gtest.h>

#include <cmath>

#include "tools/stats.h"

namespace {

using tools::Point;

TEST(Stats, KnownShapesGiveTheirDimensions) {
  std::vector<Point> disc{{0, 0}}, line{{0, 0}};
  for (int y = -200; y <= 200; ++y)
    for (int x = -200; x <= 200; ++x)
      if ((x || y) && x * x + y * y <= 200 * 200) disc.push_back({x, y});
  for (int x = 1; x <= 400; ++x) line.push_back({x, 0});

  const tools::AggregateStats d = tools::Measure(disc);
  EXPECT_NEAR(d.dimension, 2.0, 0.05);
  EXPECT_NEAR(d.maxRadius, 200.0, 0.5);
  EXPECT_NEAR(d.gyration, 200.0 / std::sqrt(2.0), 1.0);  // a disc's is R / sqrt 2
  EXPECT_GE(d.fitPoints, 3);
  EXPECT_LT(d.dimensionError, 0.05);

  const tools::AggregateStats l = tools::Measure(line);
  EXPECT_NEAR(l.dimension, 1.0, 0.05);
  EXPECT_EQ(l.particles, 401u);
}

TEST(Stats, TooSmallForAFit) {
  const tools::AggregateStats s = tools::Measure({{0, 0}, {1, 0}, {2, 0}});
  EXPECT_LT(s.fitPoints, 3);
  EXPECT_NE(tools::Describe(s).find("too small"), std::string::npos);
  EXPECT_EQ(tools::Measure({}).particles, 0u);
}

}  // namespace
