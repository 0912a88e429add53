// The accelerated lattice walks: the clusters they grow obey the model's
// rules, a seed fixes the cluster, the coarse maps never promise more room
// than there is, and the memory estimate covers what a run holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

#include "dla/engines.h"
#include "dla/lattice.h"
#include "dla/random.h"

namespace {

using dla::Lattice;
using dla::LatticeModel;
using dla::Params;

struct Case {
  Lattice lattice;
  double stick, bias;
};

const Case kCases[] = {
    {Lattice::Square4, 1, 0},    {Lattice::Square8, 1, 0},   {Lattice::Square4, 0.3, 0},
    {Lattice::Square8, 0.3, 0},  {Lattice::Square4, 0.02, 0}, {Lattice::Square8, 0.02, 0},
    {Lattice::Square4, 1, 3},    {Lattice::Square8, 0.5, 2},
};

std::vector<std::pair<int, int>> Neighbourhood(Lattice lattice) {
  if (lattice == Lattice::Square4) return {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
  return {{1, 1}, {1, 0}, {1, -1}, {0, 1}, {0, -1}, {-1, 1}, {-1, 0}, {-1, -1}};
}

TEST(LatticeWalk, ClustersKeepTheModelsRules) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(dla::LatticeName(c.lattice)) + " stick " + std::to_string(c.stick) + " bias " +
                 std::to_string(c.bias));
    const int n = c.stick < 0.1 ? 800 : 3000;
    LatticeModel model({.lattice = c.lattice, .seed = 11, .stick = c.stick, .testBias = c.bias}, n);
    for (int i = 1; i < n; ++i) ASSERT_EQ(model.Grow(), static_cast<uint32_t>(i));
    const auto& p = model.Particles();
    ASSERT_EQ(p.size(), static_cast<size_t>(n));
    EXPECT_EQ(p[0].x, 0);
    EXPECT_EQ(p[0].y, 0);
    EXPECT_EQ(p[0].parent, 0u);
    std::set<std::pair<int, int>> sites;
    double maxR = 0;
    const auto nb = Neighbourhood(c.lattice);
    for (size_t i = 0; i < p.size(); ++i) {
      const int x = static_cast<int>(p[i].x), y = static_cast<int>(p[i].y);
      ASSERT_EQ(p[i].x, x);
      ASSERT_EQ(p[i].y, y);
      ASSERT_TRUE(sites.insert({x, y}).second) << "site used twice: " << x << " " << y;
      maxR = std::max(maxR, std::sqrt(p[i].x * p[i].x + p[i].y * p[i].y));
      ASSERT_TRUE(model.Occupied(x, y));
      ASSERT_EQ(model.IndexOf(x, y), i);
      if (i == 0) continue;
      // The parent is earlier, and it is the first occupied neighbour in
      // the model's order among the particles there when this one stuck.
      ASSERT_LT(p[i].parent, i);
      uint32_t first = dla::LatticeIndex::kNone;
      for (const auto& [dx, dy] : nb) {
        const uint32_t j = model.IndexOf(x + dx, y + dy);
        if (j != dla::LatticeIndex::kNone && j < i) {
          first = j;
          break;
        }
      }
      ASSERT_EQ(p[i].parent, first) << "particle " << i;
    }
    EXPECT_EQ(model.MaxRadius(), maxR);
    // Nothing is occupied that is not a particle.
    for (int y = -40; y <= 40; ++y)
      for (int x = -40; x <= 40; ++x) ASSERT_EQ(model.Occupied(x, y), sites.count({x, y}) == 1) << x << " " << y;
  }
}

uint64_t Hash(const dla::Model& model) {
  uint64_t h = 0xcbf29ce484222325u;
  for (const dla::Particle& q : model.Particles())
    for (int64_t v : {static_cast<int64_t>(q.x), static_cast<int64_t>(q.y), static_cast<int64_t>(q.parent)})
      for (int b = 0; b < 8; ++b) h = (h ^ ((static_cast<uint64_t>(v) >> (8 * b)) & 0xff)) * 0x100000001b3u;
  return h;
}

uint64_t Grown(Lattice lattice, uint64_t seed, double stick, int n) {
  auto model = dla::MakeModel({.lattice = lattice, .seed = seed, .stick = stick}, static_cast<uint64_t>(n));
  while (model->Particles().size() < static_cast<size_t>(n)) model->Grow();
  return Hash(*model);
}

TEST(LatticeWalk, ASeedFixesTheClusterAndOtherSeedsDiffer) {
  for (Lattice lattice : {Lattice::Square4, Lattice::Square8})
    for (double stick : {1.0, 0.5}) {
      const uint64_t a = Grown(lattice, 5, stick, 2000);
      EXPECT_EQ(Grown(lattice, 5, stick, 2000), a);
      EXPECT_NE(Grown(lattice, 6, stick, 2000), a);
      // A reserve that is too small changes nothing but the memory.
      auto model = dla::MakeModel({.lattice = lattice, .seed = 5, .stick = stick}, 10);
      while (model->Particles().size() < 2000) model->Grow();
      EXPECT_EQ(Hash(*model), a);
    }
  // Pinned on Linux x86-64, so that every other build is held to the same
  // clusters byte for byte.
  EXPECT_EQ(Grown(Lattice::Square4, 1, 1, 5000), uint64_t{4377933101616935761u});
  EXPECT_EQ(Grown(Lattice::Square8, 1, 1, 5000), uint64_t{814993106728099899u});
  EXPECT_EQ(Grown(Lattice::Square4, 1, 0.25, 2000), uint64_t{15117735802379832357u});
}

// Chebyshev distance from (x, y) to the nearest particle, by brute force.
int64_t Nearest(const std::vector<dla::Particle>& p, int64_t x, int64_t y) {
  int64_t best = std::numeric_limits<int64_t>::max();
  for (const dla::Particle& q : p)
    best = std::min(best, std::max(std::abs(static_cast<int64_t>(q.x) - x), std::abs(static_cast<int64_t>(q.y) - y)));
  return best;
}

TEST(LatticeWalk, CoarseMapsNeverPromiseMoreRoomThanThereIs) {
  for (Lattice lattice : {Lattice::Square4, Lattice::Square8}) {
    // Large enough to span tiles of every plane on both sides of zero.
    LatticeModel model({.lattice = lattice, .seed = 3}, 30000);
    for (int i = 1; i < 30000; ++i) model.Grow();
    const auto& p = model.Particles();
    const int span = static_cast<int>(model.MaxRadius()) * 3 / 2 + 64;
    dla::Random random(99);
    int near = 0;
    for (int q = 0; q < 4000; ++q) {
      // Half the probes beside the cluster, where the maps are busiest.
      int32_t x, y;
      if (q % 2) {
        const dla::Particle& at = p[random.Below(static_cast<uint32_t>(p.size()))];
        x = static_cast<int32_t>(at.x) + static_cast<int32_t>(random.Below(41)) - 20;
        y = static_cast<int32_t>(at.y) + static_cast<int32_t>(random.Below(41)) - 20;
      } else {
        x = static_cast<int32_t>(random.Below(2 * span + 1)) - span;
        y = static_cast<int32_t>(random.Below(2 * span + 1)) - span;
      }
      const int32_t free = model.FreeSize(x, y);
      const int64_t d = Nearest(p, x, y);
      ASSERT_TRUE(free < d || free == 0) << "at " << x << " " << y << ": " << free << " vs " << d;
      // And never wastes more than the blocks' factor: room of 2^(k+1)
      // always shows up at level k.
      if (d >= 4) {
        ASSERT_GT(4 * static_cast<int64_t>(free), d - 1) << "at " << x << " " << y;
      }
      near += free < 8;
    }
    EXPECT_GT(near, 500);  // the probes did reach the fine levels
  }
}

TEST(LatticeWalk, MemoryEstimateCoversWhatARunHolds) {
  for (Lattice lattice : {Lattice::Square4, Lattice::Square8}) {
    const int n = 200000;
    LatticeModel model({.lattice = lattice, .seed = 2}, n);
    for (int i = 1; i < n; ++i) model.Grow();
    const uint64_t held = model.Bytes(), estimate = dla::SquareLatticeBytes(lattice, n);
    EXPECT_LE(held, estimate);
    EXPECT_LE(estimate, held * 3 / 2 + (8u << 20)) << held;
  }
}

TEST(LatticeWalk, BadParametersAreRefused) {
  const Params bad[] = {
      {.lattice = Lattice::Off},
      {.lattice = Lattice::Square4, .stick = 0},
      {.lattice = Lattice::Square4, .stick = 1.5},
      {.lattice = Lattice::Square8, .stick = std::numeric_limits<double>::quiet_NaN()},
      {.lattice = Lattice::Square8, .testBias = -1},
      {.lattice = Lattice::Square4, .testBias = std::numeric_limits<double>::infinity()},
  };
  for (const Params& params : bad) EXPECT_THROW(dla::MakeSquareLattice(params, 10), std::invalid_argument);
}

}  // namespace
