// The plain walkers on their own: the model's rules hold for every particle
// (contact, parent, sites), a seed decides the cluster, bad parameters are
// refused, the walk is isotropic, the sticking probability acts, and the
// off-lattice step is short enough that halving it changes nothing the
// comparisons can see.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <vector>

#include "dla/plain.h"
#include "ensemble.h"
#include "stats.h"

namespace {

std::unique_ptr<dla::Model> Grown(const dla::Params& params, uint32_t n, double step = dla::kPlainStep) {
  auto model = dla::MakePlainModel(params, step);
  while (model->Particles().size() < n) model->Grow();
  return model;
}

struct Case {
  dla::Lattice lattice;
  double stick;
};

const Case kCases[] = {{dla::Lattice::Off, 1},       {dla::Lattice::Square4, 1},   {dla::Lattice::Square8, 1},
                       {dla::Lattice::Square4, 0.3}, {dla::Lattice::Square8, 0.3}};

// The neighbours in the order the parent is chosen.
std::vector<std::pair<int, int>> Order(dla::Lattice lattice) {
  if (lattice == dla::Lattice::Square4) return {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
  return {{1, 1}, {1, 0}, {1, -1}, {0, 1}, {0, -1}, {-1, 1}, {-1, 0}, {-1, -1}};
}

TEST(Plain, EveryParticleFollowsTheRules) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(dla::LatticeName(c.lattice)) + " stick " + std::to_string(c.stick));
    const auto model = Grown({.lattice = c.lattice, .seed = 5, .stick = c.stick}, 400);
    const auto& ps = model->Particles();
    ASSERT_EQ(400u, ps.size());
    EXPECT_EQ(0, ps[0].x);
    EXPECT_EQ(0, ps[0].y);
    EXPECT_EQ(0u, ps[0].parent);
    double maxR = 0;
    for (uint32_t i = 1; i < ps.size(); ++i) {
      const dla::Particle& p = ps[i];
      maxR = std::max(maxR, std::hypot(p.x, p.y));
      ASSERT_LT(p.parent, i);
      const dla::Particle& q = ps[p.parent];
      if (c.lattice == dla::Lattice::Off) {
        // At contact with its parent, and overlapping no disc before it.
        ASSERT_NEAR(1, std::hypot(p.x - q.x, p.y - q.y), 1e-12) << i;
        for (uint32_t j = 0; j < i; ++j) ASSERT_GT(std::hypot(p.x - ps[j].x, p.y - ps[j].y), 1 - 1e-12) << i << " " << j;
        continue;
      }
      ASSERT_EQ(std::floor(p.x), p.x);
      ASSERT_EQ(std::floor(p.y), p.y);
      // The parent is the first particle met in the neighbour order, and the
      // site is new.
      int first = -1;
      for (const auto& [dx, dy] : Order(c.lattice)) {
        for (uint32_t j = 0; j < i && first < 0; ++j)
          if (ps[j].x == p.x + dx && ps[j].y == p.y + dy) first = static_cast<int>(j);
        if (first >= 0) break;
      }
      ASSERT_EQ(static_cast<int>(p.parent), first) << i;
      for (uint32_t j = 0; j < i; ++j) ASSERT_FALSE(ps[j].x == p.x && ps[j].y == p.y) << i << " " << j;
    }
    EXPECT_DOUBLE_EQ(maxR, model->MaxRadius());
    EXPECT_GT(model->Moves(), 400u);
  }
}

TEST(Plain, TheSeedDecidesTheCluster) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(dla::LatticeName(c.lattice)) + " stick " + std::to_string(c.stick));
    const auto a = Grown({.lattice = c.lattice, .seed = 11, .stick = c.stick}, 150);
    const auto b = Grown({.lattice = c.lattice, .seed = 11, .stick = c.stick}, 150);
    const auto other = Grown({.lattice = c.lattice, .seed = 12, .stick = c.stick}, 150);
    int same = 0, differ = 0;
    for (uint32_t i = 0; i < 150; ++i) {
      const auto &p = a->Particles()[i], &q = b->Particles()[i], &r = other->Particles()[i];
      same += p.x == q.x && p.y == q.y && p.parent == q.parent;
      differ += p.x != r.x || p.y != r.y;
    }
    EXPECT_EQ(150, same);
    EXPECT_GT(differ, 140);
    EXPECT_EQ(a->Moves(), b->Moves());
  }
}

TEST(Plain, BadParametersAreRefused) {
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  for (const dla::Lattice l : {dla::Lattice::Square4, dla::Lattice::Square8})
    for (const double stick : {0.0, -0.5, 1.5, nan, inf})
      EXPECT_THROW(dla::MakePlainModel({.lattice = l, .stick = stick}), std::invalid_argument) << stick;
  EXPECT_THROW(dla::MakePlainModel({.lattice = dla::Lattice::Off, .stick = 0.5}), std::invalid_argument);
  for (const double step : {0.0, -0.25, nan, inf})
    EXPECT_THROW(dla::MakePlainModel({.lattice = dla::Lattice::Off}, step), std::invalid_argument) << step;
  EXPECT_NO_THROW(dla::MakePlainModel({.lattice = dla::Lattice::Square4, .stick = 1e-3}));
}

// The second particle's place over many seeds: every direction alike off the
// lattice, and the lattice's symmetries on it (square8's corners are alike
// and its sides are alike, but a corner is not a side).
TEST(Plain, TheFirstContactIsIsotropic) {
  const int seeds = 4000;
  for (const dla::Lattice l : {dla::Lattice::Off, dla::Lattice::Square4, dla::Lattice::Square8}) {
    SCOPED_TRACE(dla::LatticeName(l));
    std::vector<std::vector<double>> groups;  // counts that must be equal
    if (l == dla::Lattice::Off) {
      groups.assign(1, std::vector<double>(12));
    } else {
      groups.assign(2, std::vector<double>(4));  // sides, corners
    }
    for (int s = 0; s < seeds; ++s) {
      // A copy: the model that grew it ends with this statement.
      const dla::Particle p = Grown({.lattice = l, .seed = static_cast<uint64_t>(s) + 7000}, 2)->Particles()[1];
      if (l == dla::Lattice::Off) {
        double a = std::atan2(p.y, p.x);
        if (a < 0) a += 2 * std::numbers::pi;
        groups[0][static_cast<int>(a / (2 * std::numbers::pi) * 12) % 12] += 1;
      } else {
        const bool corner = p.x != 0 && p.y != 0;
        const int quadrant = corner ? (p.x > 0 ? (p.y > 0 ? 0 : 3) : (p.y > 0 ? 1 : 2))
                                    : (p.x > 0 ? 0 : p.y > 0 ? 1 : p.x < 0 ? 2 : 3);
        groups[corner ? 1 : 0][quadrant] += 1;
      }
    }
    if (l == dla::Lattice::Square4) {
      // Square4 touches through sides only.
      EXPECT_EQ(0, groups[1][0] + groups[1][1] + groups[1][2] + groups[1][3]);
      groups.pop_back();
    }
    for (const auto& g : groups) {
      double total = 0, chi = 0;
      for (double n : g) total += n;
      for (double n : g) chi += (n - total / g.size()) * (n - total / g.size()) / (total / g.size());
      // 0.9999 quantiles of chi-square: 3 degrees of freedom 21.1, 11 degrees 35.6.
      EXPECT_GT(total, seeds / 10);
      EXPECT_LT(chi, g.size() == 4 ? 21.1 : 35.6);
    }
  }
}

// A walker that may pass by a contact explores deeper before it sticks: the
// clusters are denser, with more neighbours at each sticking.
TEST(Plain, LowerStickingGivesDenserClusters) {
  for (const dla::Lattice l : {dla::Lattice::Square4, dla::Lattice::Square8}) {
    SCOPED_TRACE(dla::LatticeName(l));
    const auto make = [](const dla::Params& p) { return dla::MakePlainModel(p); };
    const auto sure = dla_test::Grow(make, {.lattice = l, .stick = 1}, 100, 20, 500);
    const auto loose = dla_test::Grow(make, {.lattice = l, .stick = 0.2}, 200, 20, 500);
    std::vector<double> a, b;
    for (const auto& f : sure.clusters) a.push_back(f.neighbours);
    for (const auto& f : loose.clusters) b.push_back(f.neighbours);
    const auto r = dla_test::Welch(a, b);
    EXPECT_LT(r.statistic, 0);
    EXPECT_LT(r.p, 1e-6) << dla_test::Mean(a) << " vs " << dla_test::Mean(b);
  }
}

// The off-lattice flight near the discs departs from Brownian motion by an
// amount of the order of its step; with the step halved, the comparisons
// must see no change (in the long mode on the ensembles the accelerated walk
// is compared on, in the quick one on smaller clusters).
TEST(Plain, HalvingTheFineStepIsInvisibleToTheComparisons) {
  const dla_test::Size size = dla_test::LongMode() ? dla_test::SizeFor(dla::Lattice::Off) : dla_test::Size{30, 300};
  const auto grow = [&](double fine, uint64_t seeds) {
    return dla_test::Grow([fine](const dla::Params& p) { return dla::MakePlainModel(p, dla::kPlainStep, fine); },
                          {.lattice = dla::Lattice::Off}, seeds, size.clusters, size.particles);
  };
  const auto all = dla_test::Compare(grow(dla::kPlainFineStep, 1000), grow(dla::kPlainFineStep / 2, 70000));
  std::printf("fine step %g against %g:\n%s", dla::kPlainFineStep, dla::kPlainFineStep / 2, dla_test::Table(all).c_str());
  EXPECT_TRUE(dla_test::Failures(all).empty()) << dla_test::Table(dla_test::Failures(all));
}

}  // namespace
