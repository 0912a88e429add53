// Points on circles, for the launch, the jumps and the return to the launch
// circle.  Only + - * / (and no library transcendental), so that every
// build draws the same points.
#pragma once

#include "dla/random.h"

namespace dla {

struct Vec {
  double x, y;
};

// A uniform point of the unit circle: a point uniform in the unit disc by
// rejection, whose angle doubled ((x^2 - y^2, 2xy) / r^2) is uniform too and
// needs no square root.
inline Vec UnitCircle(Random& random) {
  for (;;) {
    const double x = random.Signed(), y = random.Signed();
    const double s = x * x + y * y;
    if (s > 0 && s <= 1) return {(x * x - y * y) / s, 2 * x * y / s};
  }
}

// Where a Brownian walker at p, outside the circle of radius r about the
// origin, first meets that circle.  In the plane it meets it with
// probability 1, at a point drawn from the Poisson kernel of the disc's
// outside, P(theta) ~ (|p|^2 - r^2) / |p - r e^(i theta)|^2.  Inversion in
// the circle keeps harmonic measure and takes p to a = r p / |p|^2 inside
// the unit disc; from a inside, the measure is the image of the uniform one
// under the Moebius map u -> (u + a) / (1 + conj(a) u).
inline Vec ReturnToCircle(Random& random, Vec p, double r) {
  const double q = r / (p.x * p.x + p.y * p.y);
  const double ax = p.x * q, ay = p.y * q;
  const Vec u = UnitCircle(random);
  // (u + a) / (1 + conj(a) u)
  const double nx = u.x + ax, ny = u.y + ay;
  const double dx = 1 + ax * u.x + ay * u.y, dy = ax * u.y - ay * u.x;
  const double d = dx * dx + dy * dy;
  return {r * (nx * dx + ny * dy) / d, r * (ny * dx - nx * dy) / d};
}

}  // namespace dla
