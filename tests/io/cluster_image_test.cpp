// Pictures of a standard-model cluster: the whole cluster in the frame at
// any size, the colours of arrival, and particles drawn as discs when the
// scale gives them room.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "io/cluster_image.h"

namespace {

std::vector<dla::Particle> Line(int n, double step) {
  std::vector<dla::Particle> p;
  for (int i = 0; i < n; ++i) p.push_back({i * step, -i * step * 0.5, i > 0 ? static_cast<uint32_t>(i - 1) : 0u});
  return p;
}

TEST(ClusterImage, TheWholeClusterFitsAtAnySize) {
  for (int32_t size : {16, 100, 2048}) {
    for (double step : {1.0, 37.5}) {
      const auto particles = Line(200, step);
      const io::ClusterFrame f = io::FrameFor(particles, size);
      std::vector<uint8_t> indices;
      io::DrawParticles(indices, f, particles, 0, particles.size(), true);
      ASSERT_EQ(indices.size(), static_cast<size_t>(size) * size);
      // Both ends of the line are drawn: nothing falls off the frame.
      for (const dla::Particle& p : {particles.front(), particles.back()}) {
        const auto x = static_cast<int>((p.x - f.left) * f.scale), y = static_cast<int>((f.top - p.y) * f.scale);
        ASSERT_GE(x, 0);
        ASSERT_LT(x, size);
        ASSERT_GE(y, 0);
        ASSERT_LT(y, size);
        EXPECT_EQ(indices[static_cast<size_t>(y) * size + x], 15) << "size " << size << " step " << step;
      }
    }
  }
}

TEST(ClusterImage, ColoursRunRoundTheHueRingByArrival) {
  const auto particles = Line(48, 2);
  const io::ClusterFrame f = io::FrameFor(particles, 96);
  std::vector<uint8_t> indices;
  io::DrawParticles(indices, f, particles, 0, particles.size(), false);
  std::set<int> used(indices.begin(), indices.end());
  used.erase(0);
  // 48 particles over 21 hues, blue to cyan: each hue used, nothing else.
  EXPECT_EQ(used.size(), 21u);
  EXPECT_EQ(*used.begin(), 32);
  EXPECT_EQ(*used.rbegin(), 52);
  // The palette shows the ring bright, on a black background.
  const auto palette = io::ClusterPalette();
  EXPECT_EQ(palette[0].r + palette[0].g + palette[0].b, 0);
  for (int i = 32; i <= 52; ++i) EXPECT_GE(std::max({palette[i].r, palette[i].g, palette[i].b}), 200) << i;
  const std::vector<uint32_t> pixels = io::ToPixels(indices, palette);
  EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 0u), std::count(indices.begin(), indices.end(), 0));
}

TEST(ClusterImage, ParticlesAreDiscsWhenTheScaleAllowsAndPixelsWhenNot) {
  const std::vector<dla::Particle> two{{0, 0, 0}, {1, 0, 0}};
  // Three units across at 300 pixels: a disc of diameter 100 pixels each.
  const io::ClusterFrame big = io::FrameFor(two, 300);
  std::vector<uint8_t> indices;
  io::DrawParticles(indices, big, two, 0, 1, true);
  const auto lit = std::count(indices.begin(), indices.end(), 15);
  EXPECT_NEAR(static_cast<double>(lit), 3.14159 * 50 * 50, 300);
  // A film draws on from where it left: the second disc beside the first.
  io::DrawParticles(indices, big, two, 1, 2, true);
  EXPECT_NEAR(static_cast<double>(std::count(indices.begin(), indices.end(), 15)), 2 * 3.14159 * 50 * 50, 600);
  // Thousands of units across 16 pixels: one pixel a particle at most.
  const auto many = Line(5000, 1);
  const io::ClusterFrame small = io::FrameFor(many, 16);
  std::vector<uint8_t> tiny;
  io::DrawParticles(tiny, small, many, 0, 1, true);
  EXPECT_EQ(std::count(tiny.begin(), tiny.end(), 15), 1);
}

}  // namespace
