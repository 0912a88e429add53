// The off-lattice walk: discs of diameter 1 whose walker moves by exact
// first-passage jumps.  From any point the index proves a disc free of the
// cluster; Brownian motion leaves a disc at a uniform point of its circle,
// so the walker jumps there at once.  Near the cluster that is
// walk-on-spheres, stopped when the walker is within kCapture of a disc and
// then set at contact on the line to that disc's centre.  A walker past the
// launch circle is put back on it where the exact exit law from there
// (dla::ReturnToCircle) says it would first come back.
#include "dla/offlattice.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "dla/engines.h"
#include "dla/launch.h"

namespace dla {

namespace {

// The launch circle's distance beyond the farthest centre.
constexpr double kLaunchGap = 5;
// The index covers the cluster with this much room, so that every jump
// near the launch circle still reads the coarse maps.
constexpr double kCoverGap = 32;

}  // namespace

OffLattice::OffLattice(const Params& params, uint64_t reserve)
    : random_(params.seed), bias_(params.testBias), index_(particles_) {
  if (params.stick != 1.0) throw std::invalid_argument("sticking probability below 1 is not offered off the lattice");
  if (reserve > kMaxParticles) throw std::invalid_argument("too many particles for one run");
  particles_.reserve(static_cast<size_t>(std::max<uint64_t>(reserve, 1)));
  index_.Reserve(reserve);
  particles_.push_back({0, 0, 0});
  index_.Add(0);
}

uint32_t OffLattice::Grow() {
  // Returning at the launch circle itself is as exact as from farther out,
  // and keeps the walker from wandering where it only costs jumps.
  const double launch = maxRadius_ + kLaunchGap;
  const double out2 = launch * launch;
  // Beyond this the farthest centre may give a better bound than the maps.
  const double far = maxRadius_ + 2, far2 = far * far;
  const Vec start = UnitCircle(random_);
  double x = launch * start.x, y = launch * start.y;
  uint64_t moves = 0;
  int level = 0;
  for (;;) {
    const Clearance c = index_.Free(x, y, level);
    double free = c.free;
    const double r2 = x * x + y * y;
    if (r2 > far2) free = std::max(free, std::sqrt(r2) - maxRadius_ - 1);
    if (free <= kCapture && c.nearest != OffLatticeIndex::kNone) return Stick(x, y, c.nearest, moves);
    const Vec u = UnitCircle(random_);
    const double jump = free + bias_;
    x += jump * u.x;
    y += jump * u.y;
    ++moves;
    if (x * x + y * y > out2) {
      const Vec back = ReturnToCircle(random_, {x, y}, launch);
      x = back.x;
      y = back.y;
    }
  }
}

uint32_t OffLattice::Stick(double x, double y, uint32_t parent, uint64_t moves) {
  moves_ += moves;
  const Particle& p = particles_[parent];
  double dx = x - p.x, dy = y - p.y;
  double d = std::sqrt(dx * dx + dy * dy);
  if (d == 0) dx = 1, dy = 0, d = 1;  // only a biased test walk lands on a centre
  const Particle stuck{p.x + dx / d, p.y + dy / d, parent};
  const uint32_t index = static_cast<uint32_t>(particles_.size());
  particles_.push_back(stuck);
  index_.Add(index);
  maxRadius_ = std::max(maxRadius_, std::sqrt(stuck.x * stuck.x + stuck.y * stuck.y));
  index_.Cover(maxRadius_ + kCoverGap);
  return index;
}

uint64_t OffLattice::Bytes() const { return particles_.capacity() * sizeof(Particle) + index_.Bytes(); }

std::unique_ptr<Model> MakeOffLattice(const Params& params, uint64_t reserve) {
  return std::make_unique<OffLattice>(params, reserve);
}

// From the clusters grown: the farthest centre lies near 0.9 n^0.585 (0.82
// to 0.92 from 10^4 to 10^7 particles) and the fine grid uses one tile for
// 36 particles; both are taken with room to spare.  (Not part of the walk,
// so the library's pow is no harm here.)
uint64_t OffLatticeBytes(uint64_t particles) {
  const double n = static_cast<double>(particles);
  const double reach = 1.25 * std::pow(n, 0.585) + 40 + kCoverGap;
  double half = 64;
  while (reach >= half) half *= 2;
  return particles * sizeof(Particle) + OffLatticeIndex::BytesFor(half, particles / 30 + 16, particles) + 4096;
}

}  // namespace dla
