// Figures of an aggregate for people who study it: size, radius of
// gyration and the mass fractal dimension.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tools {

struct Point {
  int32_t x, y;
};

struct AggregateStats {
  size_t particles = 0;      // the seed included
  double gyration = 0;       // radius of gyration about the centre of mass
  double maxRadius = 0;      // farthest particle from the seed
  // N(r) ~ r^D, fitted by least squares on log N against log r.
  double dimension = 0;
  double dimensionError = 0;  // standard error of the slope
  double fitFrom = 0, fitTo = 0;
  int fitPoints = 0;          // radii the fit used; under 3 there is no fit
};

// The seed is the first point; distances are measured from it.
AggregateStats Measure(const std::vector<Point>& points);

std::string Describe(const AggregateStats& s);

}  // namespace tools
