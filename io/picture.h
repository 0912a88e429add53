// What a run's picture holds, against the particles that stuck: a particle
// can stick off the surface (nothing is drawn), be drawn in a colour that
// reads back as background, or land on a pixel an earlier one took.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "io/stats.h"

namespace io {

struct PictureCount {
  uint64_t stuck = 0;       // every particle that stuck
  uint64_t inPicture = 0;   // drew a pixel of its own that reads back as aggregate
  uint64_t offSurface = 0;  // stuck outside the surface
  uint64_t invisible = 0;   // its own pixel reads back as background
  uint64_t onTaken = 0;     // stuck on a pixel the seed or an earlier particle drew
  // The aggregate as the picture shows it: the distinct pixels of the seed
  // and the particles that read back as aggregate.
  std::vector<Point> points;
};

// Counts a run on a width × height surface whose seed was drawn at seed and
// whose particles stuck at stuck, in order; holds tells whether a pixel of
// the surface now reads back as aggregate.
PictureCount CountPicture(int32_t width, int32_t height, Point seed, const std::vector<Point>& stuck,
                          const std::function<bool(int32_t, int32_t)>& holds);

// "stuck S, in the picture P, off the surface O, invisible I, on a pixel
// already taken T".
std::string DescribeCount(const PictureCount& c);

}  // namespace io
