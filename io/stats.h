// Figures of an aggregate for people who study it: size, radius of
// gyration and the mass fractal dimension.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace io {

struct Point {
  int32_t x, y;
};

struct AggregateStats {
  size_t particles = 0;      // points measured (pixels of the picture, the seed's among them)
  double gyration = 0;       // radius of gyration about the centre of mass
  double maxRadius = 0;      // farthest particle from the seed
  // N(r) ~ r^D, fitted by least squares on log N against log r.
  double dimension = 0;
  double dimensionError = 0;  // standard error of the slope
  double fitFrom = 0, fitTo = 0;
  int fitPoints = 0;          // radii the fit used; under 3 there is no fit
};

// Distances are measured from origin, the seed.
AggregateStats Measure(const std::vector<Point>& points, Point origin);
// The same with the first point as the seed.
AggregateStats Measure(const std::vector<Point>& points);

// The mass-radius profile: N(r), the points within r of origin, at radii
// spaced as the fit's are (the fit's own among them), from 1 to the
// farthest point; the radii the fit used lie between s.fitFrom and s.fitTo.
// The least-squares line through the points (x, y): its slope and the
// slope's standard error (meaningful from three points on).
struct LineFit {
  double slope = 0, error = 0;
};
LineFit FitLine(const std::vector<std::pair<double, double>>& xy);

struct ProfilePoint {
  double r;
  size_t n;
};
std::vector<ProfilePoint> Profile(const std::vector<Point>& points, Point origin, const AggregateStats& s);
// One line "r,N(r)" per radius.
std::string ProfileText(const std::vector<ProfilePoint>& profile);

std::string Describe(const AggregateStats& s);

}  // namespace io
