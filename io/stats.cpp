#include "io/stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace io {

namespace {

// Below this radius the lattice shows; beyond half the aggregate's reach
// the growing tips are not yet filled in.  The fit uses the range between.
constexpr double kInnerRadius = 4.0;
constexpr double kOuterFraction = 0.5;
constexpr int kRadii = 24;  // logarithmically spaced

std::vector<double> SortedDistances(const std::vector<Point>& points, Point origin) {
  std::vector<double> dist;
  dist.reserve(points.size());
  for (const Point& p : points) dist.push_back(std::hypot(p.x - origin.x, p.y - origin.y));
  std::sort(dist.begin(), dist.end());
  return dist;
}

size_t Within(const std::vector<double>& sorted, double r) {
  return static_cast<size_t>(std::upper_bound(sorted.begin(), sorted.end(), r) - sorted.begin());
}

// The fit's i-th radius; i may run past either end of the fit.
double FitRadius(const AggregateStats& s, int i) {
  return s.fitFrom * std::pow(s.fitTo / s.fitFrom, i / double(kRadii - 1));
}

}  // namespace

AggregateStats Measure(const std::vector<Point>& points) {
  return points.empty() ? AggregateStats{} : Measure(points, points.front());
}

LineFit FitLine(const std::vector<std::pair<double, double>>& xy) {
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (auto [x, y] : xy) sx += x, sy += y, sxx += x * x, sxy += x * y;
  const double n = static_cast<double>(xy.size());
  LineFit f;
  f.slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
  const double intercept = (sy - f.slope * sx) / n;
  double residual = 0;
  for (auto [x, y] : xy) residual += std::pow(y - intercept - f.slope * x, 2);
  f.error = std::sqrt(residual / (n - 2) / (sxx - sx * sx / n));
  return f;
}

AggregateStats Measure(const std::vector<Point>& points, Point origin) {
  AggregateStats s;
  s.particles = points.size();
  if (points.empty()) return s;
  double cx = 0, cy = 0;
  for (const Point& p : points) cx += p.x, cy += p.y;
  cx /= static_cast<double>(points.size());
  cy /= static_cast<double>(points.size());
  double g = 0;
  for (const Point& p : points) g += (p.x - cx) * (p.x - cx) + (p.y - cy) * (p.y - cy);
  s.gyration = std::sqrt(g / static_cast<double>(points.size()));
  const std::vector<double> dist = SortedDistances(points, origin);
  s.maxRadius = dist.back();

  s.fitFrom = kInnerRadius;
  s.fitTo = kOuterFraction * s.maxRadius;
  if (s.fitTo <= 2 * s.fitFrom) return s;
  std::vector<std::pair<double, double>> xy;
  for (int i = 0; i < kRadii; ++i) {
    const double r = FitRadius(s, i);
    xy.emplace_back(std::log(r), std::log(static_cast<double>(Within(dist, r))));
  }
  const LineFit line = FitLine(xy);
  s.dimension = line.slope;
  s.dimensionError = line.error;
  s.fitPoints = static_cast<int>(xy.size());
  return s;
}

std::vector<ProfilePoint> Profile(const std::vector<Point>& points, Point origin, const AggregateStats& s) {
  std::vector<ProfilePoint> out;
  if (points.empty()) return out;
  const std::vector<double> dist = SortedDistances(points, origin);
  if (s.fitPoints < 3) {
    // No fit to align with: every whole radius.
    for (int r = 1; r <= static_cast<int>(std::ceil(dist.back())); ++r) out.push_back({double(r), Within(dist, r)});
    return out;
  }
  int first = 0;
  while (FitRadius(s, first - 1) >= 1.0) --first;
  for (int i = first;; ++i) {
    const double r = FitRadius(s, i);
    out.push_back({r, Within(dist, r)});
    if (r >= dist.back()) break;
  }
  return out;
}

std::string ProfileText(const std::vector<ProfilePoint>& profile) {
  std::string text;
  char line[64];
  for (const ProfilePoint& p : profile) {
    const int n = std::snprintf(line, sizeof line, "%.6g,%zu\n", p.r, p.n);
    text.append(line, static_cast<size_t>(n));
  }
  return text;
}

std::string Describe(const AggregateStats& s) {
  char buf[320];
  int len = std::snprintf(buf, sizeof buf, "aggregate pixels %zu, radius of gyration %.2f, maximum radius %.2f",
                          s.particles, s.gyration, s.maxRadius);
  if (s.fitPoints >= 3) {
    std::snprintf(buf + len, sizeof buf - static_cast<size_t>(len),
                  ", mass fractal dimension %.3f +- %.3f (N(r) ~ r^D fitted for r = %.1f..%.1f)", s.dimension,
                  s.dimensionError, s.fitFrom, s.fitTo);
  } else {
    std::snprintf(buf + len, sizeof buf - static_cast<size_t>(len), ", too small for a fractal dimension");
  }
  return buf;
}

}  // namespace io
