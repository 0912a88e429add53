#include "io/cluster_image.h"

#include <algorithm>
#include <cmath>

#include "graph/graph.h"

namespace io {

namespace {

// The programs' brightest hue ring, from entry 32, runs blue, magenta, red,
// yellow, green, cyan and back to blue: arrival goes from its blue to its
// cyan (entry 52), so that the first and the last particles differ, and the
// darker rings after it, which would hide the outer branches on black, are
// left out; entry 15 is white.
constexpr int kFirstHue = 32, kHues = 21, kWhite = 15;

uint8_t ArrivalColour(size_t i, size_t total) {
  const size_t hue = total > 1 ? static_cast<size_t>(static_cast<double>(i) / static_cast<double>(total) * kHues) : 0;
  return static_cast<uint8_t>(kFirstHue + std::min<size_t>(hue, kHues - 1));
}

}  // namespace

ClusterFrame FrameFor(std::span<const dla::Particle> particles, int32_t size) {
  double minX = 0, maxX = 0, minY = 0, maxY = 0;
  for (const dla::Particle& p : particles) {
    minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
    minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
  }
  ClusterFrame f;
  f.size = size;
  // A particle (a disc of diameter 1, or a lattice site's unit cell) keeps
  // its whole width inside the frame.
  const double margin = 1;
  const double side = std::max(maxX - minX, maxY - minY) + 2 * margin;
  f.scale = size / side;
  f.left = (minX + maxX) / 2 - side / 2;
  f.top = (minY + maxY) / 2 + side / 2;  // y grows upward in the model, downward in the picture
  return f;
}

void DrawParticles(std::vector<uint8_t>& indices, const ClusterFrame& f, std::span<const dla::Particle> particles,
                   size_t from, size_t to, bool white) {
  indices.resize(static_cast<size_t>(f.size) * static_cast<size_t>(f.size));
  const double half = f.diameter * f.scale / 2;
  for (size_t i = from; i < to && i < particles.size(); ++i) {
    const uint8_t colour = white ? kWhite : ArrivalColour(i, particles.size());
    const double cx = (particles[i].x - f.left) * f.scale, cy = (f.top - particles[i].y) * f.scale;
    if (half <= 0.5) {
      // Smaller than a pixel: the pixel its centre falls in.
      const auto x = static_cast<int64_t>(std::floor(cx)), y = static_cast<int64_t>(std::floor(cy));
      if (x >= 0 && y >= 0 && x < f.size && y < f.size) indices[static_cast<size_t>(y * f.size + x)] = colour;
      continue;
    }
    // Larger: every pixel whose centre lies within the particle's disc.
    const auto x0 = static_cast<int64_t>(std::floor(cx - half)), x1 = static_cast<int64_t>(std::ceil(cx + half));
    const auto y0 = static_cast<int64_t>(std::floor(cy - half)), y1 = static_cast<int64_t>(std::ceil(cy + half));
    for (int64_t y = std::max<int64_t>(y0, 0); y <= std::min<int64_t>(y1, f.size - 1); ++y)
      for (int64_t x = std::max<int64_t>(x0, 0); x <= std::min<int64_t>(x1, f.size - 1); ++x) {
        const double dx = static_cast<double>(x) + 0.5 - cx, dy = static_cast<double>(y) + 0.5 - cy;
        if (dx * dx + dy * dy <= half * half) indices[static_cast<size_t>(y * f.size + x)] = colour;
      }
  }
}

std::array<Rgb, 256> ClusterPalette() {
  std::array<Rgb, 256> p{};
  for (size_t i = 0; i < p.size(); ++i) {
    const graph::RGBRec& c = graph::DefaultColors[i];
    p[i] = {static_cast<uint8_t>(c.Red), static_cast<uint8_t>(c.Green), static_cast<uint8_t>(c.Blue)};
  }
  return p;
}

std::vector<uint32_t> ToPixels(const std::vector<uint8_t>& indices, const std::array<Rgb, 256>& palette) {
  std::vector<uint32_t> pixels(indices.size());
  for (size_t i = 0; i < indices.size(); ++i) {
    const Rgb& c = palette[indices[i]];
    pixels[i] = static_cast<uint32_t>(c.r) << 16 | static_cast<uint32_t>(c.g) << 8 | c.b;
  }
  return pixels;
}

}  // namespace io
