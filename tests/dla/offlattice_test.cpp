// The off-lattice walk's own promises: a cluster of touching, never
// overlapping discs, each stuck to an older one; one seed, one cluster; a
// spatial index whose free distance never overstates the room around a
// point; and a memory estimate that holds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

#include "dla/engines.h"
#include "dla/offlattice.h"
#include "dla/offlattice_index.h"
#include "dla/random.h"

namespace {

std::vector<dla::Particle> GrowCluster(uint64_t seed, size_t n, double bias = 0) {
  dla::OffLattice model({.seed = seed, .testBias = bias}, n);
  while (model.Particles().size() < n) model.Grow();
  return model.Particles();
}

double Distance(const dla::Particle& a, double x, double y) { return std::hypot(a.x - x, a.y - y); }

// The nearest centre by brute force.
struct Nearest {
  double distance;
  size_t index;
};
Nearest BruteNearest(const std::vector<dla::Particle>& particles, double x, double y) {
  Nearest best{std::numeric_limits<double>::infinity(), 0};
  for (size_t i = 0; i < particles.size(); ++i) {
    const double d = Distance(particles[i], x, y);
    if (d < best.distance) best = {d, i};
  }
  return best;
}

TEST(OffLattice, DiscsTouchTheirParentsAndNeverOverlap) {
  for (uint64_t seed : {1u, 2u, 77u}) {
    SCOPED_TRACE(seed);
    const auto particles = GrowCluster(seed, 3000);
    ASSERT_EQ(particles.size(), 3000u);
    EXPECT_EQ(particles[0].x, 0);
    EXPECT_EQ(particles[0].y, 0);
    EXPECT_EQ(particles[0].parent, 0u);
    for (size_t i = 1; i < particles.size(); ++i) {
      const dla::Particle& p = particles[i];
      ASSERT_LT(p.parent, i);
      ASSERT_NEAR(Distance(particles[p.parent], p.x, p.y), 1.0, 1e-12) << "particle " << i;
      for (size_t j = 0; j < i; ++j)
        ASSERT_GE(Distance(particles[j], p.x, p.y), 1 - 1e-9) << "particles " << j << " and " << i;
    }
  }
}

TEST(OffLattice, MaxRadiusIsTheFarthestCentre) {
  dla::OffLattice model({.seed = 5}, 0);
  double farthest = 0;
  for (int i = 0; i < 2000; ++i) {
    const uint32_t index = model.Grow();
    ASSERT_EQ(index, model.Particles().size() - 1);
    const dla::Particle& p = model.Particles()[index];
    farthest = std::max(farthest, std::hypot(p.x, p.y));
    ASSERT_DOUBLE_EQ(model.MaxRadius(), farthest);
  }
  EXPECT_GT(model.Moves(), 2000u);
}

TEST(OffLattice, OneSeedGrowsOneClusterByteForByte) {
  const auto a = GrowCluster(11, 4000), b = GrowCluster(11, 4000), c = GrowCluster(12, 4000);
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    ASSERT_EQ(std::memcmp(&a[i].x, &b[i].x, sizeof(double)), 0) << i;
    ASSERT_EQ(std::memcmp(&a[i].y, &b[i].y, sizeof(double)), 0) << i;
    ASSERT_EQ(a[i].parent, b[i].parent) << i;
  }
  size_t same = 0;
  for (size_t i = 1; i < a.size(); ++i) same += a[i].x == c[i].x && a[i].y == c[i].y;
  EXPECT_LT(same, 5u);
}

TEST(OffLattice, TestBiasReachesTheWalk) {
  const auto plain = GrowCluster(3, 500), biased = GrowCluster(3, 500, 0.25);
  size_t same = 0;
  for (size_t i = 1; i < plain.size(); ++i) same += plain[i].x == biased[i].x && plain[i].y == biased[i].y;
  EXPECT_LT(same, 5u);
}

TEST(OffLattice, RefusesStickingBelowOne) {
  for (double stick : {0.5, 0.999, 0.0}) {
    EXPECT_THROW(dla::MakeOffLattice({.stick = stick}, 10), std::invalid_argument);
    EXPECT_THROW(dla::MakeModel({.lattice = dla::Lattice::Off, .stick = stick}, 10), std::invalid_argument);
  }
  try {
    dla::MakeOffLattice({.stick = 0.5}, 10);
  } catch (const std::invalid_argument& e) {
    EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
  }
}

// Checks the index's answer at (x, y) against brute force: never more room
// than there is, exact with the right disc named when a centre is within 2,
// and named only when exact.
void CheckPoint(const dla::OffLatticeIndex& index, const std::vector<dla::Particle>& particles, double x, double y) {
  const dla::Clearance c = index.Free(x, y);
  // Where the level search starts changes nothing but its speed.
  for (int start : {-1, 1, 3, 7, 40}) {
    int hint = start;
    const dla::Clearance h = index.Free(x, y, hint);
    ASSERT_EQ(h.free, c.free) << "search from level " << start;
    ASSERT_EQ(h.nearest, c.nearest) << "search from level " << start;
  }
  const Nearest truth = BruteNearest(particles, x, y);
  ASSERT_LE(c.free, truth.distance - 1 + 1e-12) << "at " << x << ", " << y;
  if (truth.distance <= 2 - 1e-6) {
    ASSERT_NE(c.nearest, dla::OffLatticeIndex::kNone) << "at " << x << ", " << y;
  }
  if (c.nearest != dla::OffLatticeIndex::kNone) {
    ASSERT_NEAR(c.free, truth.distance - 1, 1e-12) << "at " << x << ", " << y;
    ASSERT_NEAR(Distance(particles[c.nearest], x, y), truth.distance, 1e-12);
  }
}

// Query points near the particles (on their discs, inside, and a few units
// out), scattered over the covered square, and outside it.
void CheckIndex(const dla::OffLatticeIndex& index, const std::vector<dla::Particle>& particles, uint64_t seed) {
  dla::Random random(seed);
  const double half = index.Half();
  for (int i = 0; i < 3000; ++i) {
    const dla::Particle& p = particles[random.Below(static_cast<uint32_t>(particles.size()))];
    const double reach = (i % 3 == 0) ? 1.0 : 6.0 * random.Uniform();
    CheckPoint(index, particles, p.x + reach * random.Signed(), p.y + reach * random.Signed());
  }
  for (int i = 0; i < 2000; ++i) CheckPoint(index, particles, half * random.Signed(), half * random.Signed());
  for (int i = 0; i < 200; ++i) CheckPoint(index, particles, 3 * half * random.Signed(), 3 * half * random.Signed());
}

TEST(OffLatticeIndex, FreeDistanceNeverExceedsTheTruthOnAGrownCluster) {
  dla::OffLattice model({.seed = 9}, 0);
  const std::vector<double> halves{128, 256};
  size_t next = 0;
  while (model.Particles().size() < 12000) {
    model.Grow();
    // Check at each growth of the storage, right after the rebuild.
    if (next < halves.size() && model.Index().Half() == halves[next]) {
      SCOPED_TRACE(halves[next]);
      CheckIndex(model.Index(), model.Particles(), next + 1);
      ++next;
    }
  }
  EXPECT_EQ(next, halves.size());
  CheckIndex(model.Index(), model.Particles(), 99);
}

// Hand-placed particles: lone discs far apart leave big empty blocks at the
// coarse levels, a tight cluster of discs puts several centres in
// neighbouring cells, and points on cell edges test the rounding.
TEST(OffLatticeIndex, FreeDistanceNeverExceedsTheTruthAroundPlacedDiscs) {
  std::vector<dla::Particle> particles;
  particles.reserve(64);
  dla::OffLatticeIndex index(particles);
  auto add = [&](double x, double y) {
    particles.push_back({x, y, 0});
    index.Add(static_cast<uint32_t>(particles.size() - 1));
  };
  add(0, 0);
  add(40.5, -7.25);
  add(-45, 45);
  for (int i = 0; i < 6; ++i) add(10 + 0.5 * i, 10 + (i % 2) * std::sqrt(0.75));  // a zigzag of touching discs
  CheckIndex(index, particles, 1);
  for (double x : {-2.0, -1.0, 0.0, 1.0, 2.0, 3.0, 40.0, 41.0, 42.5})
    for (double y : {-8.0, -7.0, -1.0, 0.0, 1.0, 2.0})
      CheckPoint(index, particles, x, y);
  particles.push_back({60, 0, 0});  // too near the edge of |x| < 64
  EXPECT_THROW(index.Add(static_cast<uint32_t>(particles.size() - 1)), std::out_of_range);
  particles.pop_back();
  index.Cover(600);  // several doublings at once
  EXPECT_GE(index.Half(), 600);
  add(-500, 300);
  CheckIndex(index, particles, 2);
  CheckPoint(index, particles, -500, 300);
  CheckPoint(index, particles, -499, 300);
  CheckPoint(index, particles, 0, 0.5);
}

// The far bound is worth having: well away from every disc the index must
// allow more than the unit step of the fine grid.
TEST(OffLatticeIndex, FarFromTheDiscsTheFreeDistanceIsLarge) {
  std::vector<dla::Particle> particles{{0, 0, 0}};
  dla::OffLatticeIndex index(particles);  // enters the particles it is given
  index.Cover(1000);
  for (double d : {20.0, 100.0, 500.0}) {
    const double free = index.Free(d, 0.3 * d).free;
    EXPECT_GT(free, 0.25 * d) << d;
    EXPECT_LE(free, std::hypot(d, 0.3 * d) - 1) << d;
  }
}

TEST(OffLattice, MemoryEstimateHoldsAgainstWhatARunHolds) {
  for (size_t n : {size_t{1000}, size_t{30000}, size_t{200000}}) {
    dla::OffLattice model({.seed = 4}, n);
    uint64_t peak = 0;
    while (model.Particles().size() < n) {
      model.Grow();
      peak = std::max(peak, model.Bytes());
    }
    EXPECT_LE(peak, dla::OffLatticeBytes(n)) << n;
    EXPECT_GE(2 * peak, dla::OffLatticeBytes(n)) << "estimate far above the truth at " << n;
  }
}

}  // namespace
