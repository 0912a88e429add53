#include "tools/picture.h"

#include <cstdio>

namespace tools {

PictureCount CountPicture(int32_t width, int32_t height, Point seed, const std::vector<Point>& stuck,
                          const std::function<bool(int32_t, int32_t)>& holds) {
  PictureCount c;
  c.stuck = stuck.size();
  const auto on = [&](Point p) {
    return p.x >= 0 && p.y >= 0 && p.x < width && p.y < height;
  };
  const auto index = [&](Point p) {
    return static_cast<size_t>(p.y) * static_cast<size_t>(width) + static_cast<size_t>(p.x);
  };
  // Who drew each pixel first: 0 nobody, 1 the seed, 2 a particle.
  std::vector<uint8_t> drawn(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  if (on(seed)) {
    drawn[index(seed)] = 1;
    if (holds(seed.x, seed.y)) c.points.push_back(seed);
  }
  for (const Point& p : stuck) {
    if (!on(p)) {
      ++c.offSurface;
      continue;
    }
    uint8_t& d = drawn[index(p)];
    if (d) {
      ++c.onTaken;
      continue;
    }
    d = 2;
    if (holds(p.x, p.y)) {
      ++c.inPicture;
      c.points.push_back(p);
    } else {
      ++c.invisible;
    }
  }
  return c;
}

std::string DescribeCount(const PictureCount& c) {
  char buf[200];
  std::snprintf(buf, sizeof buf,
                "stuck %llu, in the picture %llu, off the surface %llu, invisible %llu, on a pixel already taken %llu",
                static_cast<unsigned long long>(c.stuck), static_cast<unsigned long long>(c.inPicture),
                static_cast<unsigned long long>(c.offSurface), static_cast<unsigned long long>(c.invisible),
                static_cast<unsigned long long>(c.onTaken));
  return buf;
}

}  // namespace tools
