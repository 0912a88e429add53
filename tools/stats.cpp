#include "tools/stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tools {

namespace {

// Below this radius the lattice shows; beyond half the aggregate's reach
// the growing tips are not yet filled in.  The fit uses the range between.
constexpr double kInnerRadius = 4.0;
constexpr double kOuterFraction = 0.5;
constexpr int kRadii = 24;  // logarithmically spaced

}  // namespace

AggregateStats Measure(const std::vector<Point>& points) {
  AggregateStats s;
  s.particles = points.size();
  if (points.empty()) return s;
  const Point seed = points.front();
  double cx = 0, cy = 0;
  for (const Point& p : points) cx += p.x, cy += p.y;
  cx /= static_cast<double>(points.size());
  cy /= static_cast<double>(points.size());
  std::vector<double> dist;
  dist.reserve(points.size());
  double g = 0;
  for (const Point& p : points) {
    g += (p.x - cx) * (p.x - cx) + (p.y - cy) * (p.y - cy);
    dist.push_back(std::hypot(p.x - seed.x, p.y - seed.y));
  }
  s.gyration = std::sqrt(g / static_cast<double>(points.size()));
  std::sort(dist.begin(), dist.end());
  s.maxRadius = dist.back();

  s.fitFrom = kInnerRadius;
  s.fitTo = kOuterFraction * s.maxRadius;
  if (s.fitTo <= 2 * s.fitFrom) return s;
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  std::vector<std::pair<double, double>> xy;
  for (int i = 0; i < kRadii; ++i) {
    const double r = s.fitFrom * std::pow(s.fitTo / s.fitFrom, i / double(kRadii - 1));
    const double n = static_cast<double>(std::upper_bound(dist.begin(), dist.end(), r) - dist.begin());
    xy.emplace_back(std::log(r), std::log(n));
  }
  for (auto [x, y] : xy) sx += x, sy += y, sxx += x * x, sxy += x * y;
  const double n = static_cast<double>(xy.size());
  const double denom = n * sxx - sx * sx;
  s.dimension = (n * sxy - sx * sy) / denom;
  const double intercept = (sy - s.dimension * sx) / n;
  double residual = 0;
  for (auto [x, y] : xy) residual += std::pow(y - intercept - s.dimension * x, 2);
  s.dimensionError = std::sqrt(residual / (n - 2) / (sxx - sx * sx / n));
  s.fitPoints = static_cast<int>(xy.size());
  return s;
}

std::string Describe(const AggregateStats& s) {
  char buf[320];
  int len = std::snprintf(buf, sizeof buf, "particles %zu (the seed and %zu stuck), radius of gyration %.2f, maximum radius %.2f",
                          s.particles, s.particles > 0 ? s.particles - 1 : 0,
                          s.gyration, s.maxRadius);
  if (s.fitPoints >= 3) {
    std::snprintf(buf + len, sizeof buf - static_cast<size_t>(len),
                  ", mass fractal dimension %.3f +- %.3f (N(r) ~ r^D fitted for r = %.1f..%.1f)", s.dimension,
                  s.dimensionError, s.fitFrom, s.fitTo);
  } else {
    std::snprintf(buf + len, sizeof buf - static_cast<size_t>(len), ", too small for a fractal dimension");
  }
  return buf;
}

}  // namespace tools
