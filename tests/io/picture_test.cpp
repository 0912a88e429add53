// What the picture holds against the particles that stuck.
#include <gtest/gtest.h>

#include <set>

#include "io/picture.h"

namespace {

using io::Point;

TEST(Picture, EveryStuckParticleIsCountedOnce) {
  // A 10 × 10 surface; pixels listed here read back as background.
  const std::set<std::pair<int, int>> background{{3, 3}, {9, 9}};
  const auto holds = [&](int32_t x, int32_t y) { return !background.count({x, y}); };
  const std::vector<Point> stuck{
      {5, 6},  {5, 7},            // in the picture
      {-1, 5}, {10, 0}, {0, 10},  // off the surface, on every side
      {-1, 5},                    // off the surface again, not "taken"
      {3, 3},  {9, 9},            // drawn in a colour that reads as background
      {5, 6},  {5, 5},            // on an earlier particle, on the seed
      {3, 3},                     // on an invisible one
  };
  const io::PictureCount c = io::CountPicture(10, 10, {5, 5}, stuck, holds);
  EXPECT_EQ(c.stuck, 11u);
  EXPECT_EQ(c.inPicture, 2u);
  EXPECT_EQ(c.offSurface, 4u);
  EXPECT_EQ(c.invisible, 2u);
  EXPECT_EQ(c.onTaken, 3u);
  EXPECT_EQ(c.stuck, c.inPicture + c.offSurface + c.invisible + c.onTaken);
  // The seed first, then the pixels in the order they were first drawn.
  ASSERT_EQ(c.points.size(), 3u);
  EXPECT_EQ(c.points[0].x, 5);
  EXPECT_EQ(c.points[0].y, 5);
  EXPECT_EQ(c.points[2].y, 7);
  EXPECT_EQ(io::DescribeCount(c),
            "stuck 11, in the picture 2, off the surface 4, invisible 2, on a pixel already taken 3");
}

TEST(Picture, ASeedOffTheSurfaceOrOverdrawnIsNotInThePicture) {
  const std::vector<Point> stuck{{1, 1}, {2, 2}};
  // The seed outside a small surface: not drawn, so (0, 0) is free.
  io::PictureCount c = io::CountPicture(3, 3, {512, 384}, stuck, [](int32_t, int32_t) { return true; });
  EXPECT_EQ(c.inPicture, 2u);
  EXPECT_EQ(c.points.size(), 2u);
  // A particle drawn over the seed in a colour that reads as background.
  c = io::CountPicture(3, 3, {1, 1}, {{1, 1}, {2, 2}}, [](int32_t x, int32_t) { return x != 1; });
  EXPECT_EQ(c.onTaken, 1u);
  EXPECT_EQ(c.inPicture, 1u);
  ASSERT_EQ(c.points.size(), 1u);
  EXPECT_EQ(c.points[0].x, 2);
}

}  // namespace
