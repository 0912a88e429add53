#include "io/picture.h"

#include <cstdio>
#include <unordered_map>

namespace io {

PictureCount CountPicture(int32_t width, int32_t height, Point seed, const std::vector<Point>& stuck,
                          const std::function<bool(int32_t, int32_t)>& holds) {
  PictureCount c;
  c.stuck = stuck.size();
  const auto on = [&](Point p) {
    return p.x >= 0 && p.y >= 0 && p.x < width && p.y < height;
  };
  const auto index = [&](Point p) {
    return static_cast<uint64_t>(p.y) * static_cast<uint64_t>(width) + static_cast<uint64_t>(p.x);
  };
  // The pixels drawn so far, by the seed or a particle: as many as the
  // particles, however large the surface.
  std::unordered_map<uint64_t, bool> drawn;
  drawn.reserve(stuck.size() + 1);
  if (on(seed)) {
    drawn[index(seed)] = true;
    if (holds(seed.x, seed.y)) c.points.push_back(seed);
  }
  for (const Point& p : stuck) {
    if (!on(p)) {
      ++c.offSurface;
      continue;
    }
    if (!drawn.emplace(index(p), true).second) {
      ++c.onTaken;
      continue;
    }
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

}  // namespace io
