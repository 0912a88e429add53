// The lattices' launch and return rule (a rounded uniform point of the
// launch circle R_l = maxR + 5, and from beyond 2 R_l a rounded point of the
// disc's Poisson kernel) stands in for the lattice walk's own harmonic
// measure from far away.  Its error is measured here where it is largest,
// on a small target close to the launch circle: a segment of 11 sites,
// whose ends and sides a walker from infinity hits in shares that only the
// far field fixes.  The same walks launched 50 times farther out (where the
// rule's error, which shrinks with the target's size over the launch
// radius, is negligible) give the reference.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>
#include <vector>

#include "dla/lattice.h"

namespace {

using dla::Lattice;

constexpr int kLength = 10;  // the segment runs from (0, 0) to (10, 0)

std::vector<double> Contacts(Lattice lattice, double bias, uint64_t seed, double rl, int walks) {
  dla::LatticeModel model({.lattice = lattice, .seed = seed, .testBias = bias}, kLength + 1);
  for (int x = 1; x <= kLength; ++x) model.AddSite(x, 0);
  // Contact sites folded by the segment's symmetries.
  std::map<std::pair<int, int>, int> bin;
  for (int x = -1; x <= kLength + 1; ++x)
    for (int y = 0; y <= 1; ++y) {
      const std::pair<int, int> key{std::min(x, kLength - x), y};
      if (!bin.count(key)) bin.emplace(key, static_cast<int>(bin.size()));
    }
  std::vector<double> counts(bin.size(), 0);
  for (int w = 0; w < walks; ++w) {
    const dla::LatticeModel::Site s = model.Contact(rl, 2 * rl);
    counts[static_cast<size_t>(bin.at({std::min(s.x, kLength - s.x), std::abs(s.y)}))] += 1;
  }
  return counts;
}

struct Difference {
  double chi;
  int df;
  double variation;  // total variation distance of the two histograms
  double largest;    // the largest difference of one bin's share
};

Difference Compare(const std::vector<double>& a, const std::vector<double>& b, double n) {
  Difference d{0, -1, 0, 0};
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] + b[i] == 0) continue;
    d.chi += (a[i] - b[i]) * (a[i] - b[i]) / (a[i] + b[i]);
    ++d.df;
    d.variation += std::abs(a[i] - b[i]) / n / 2;
    d.largest = std::max(d.largest, std::abs(a[i] - b[i]) / n);
  }
  return d;
}

// The 0.9999 quantile of chi-square (Wilson and Hilferty).
double ChiLimit(int df) {
  const double z = 3.719, a = 2.0 / (9.0 * df);
  const double c = 1 - a + z * std::sqrt(a);
  return df * c * c * c;
}

TEST(LatticeLaunch, RuleMatchesALaunchFiftyTimesFartherOut) {
  // DLA_LAUNCH_WALKS asks for a longer measurement than the suite's.
  const char* asked = std::getenv("DLA_LAUNCH_WALKS");
  const int walks = asked ? std::atoi(asked) : 200000;
  ASSERT_GT(walks, 1000);
  for (Lattice lattice : {Lattice::Square4, Lattice::Square8}) {
    const double rl = kLength + 5;
    const std::vector<double> rule = Contacts(lattice, 0, 1, rl, walks);
    const std::vector<double> far = Contacts(lattice, 0, 2, 50 * rl, walks);
    const Difference d = Compare(rule, far, walks);
    std::printf("%s: launch rule against 50x farther: chi-square %.1f on %d df, total variation %.5f, largest bin %.5f\n",
                std::string(dla::LatticeName(lattice)).c_str(), d.chi, d.df, d.variation, d.largest);
    EXPECT_LT(d.chi, ChiLimit(d.df));
    // The comparison has the power to see a walk whose jumps are one site
    // too long.
    const std::vector<double> biased = Contacts(lattice, 1, 3, 50 * rl, walks);
    const Difference wrong = Compare(biased, far, walks);
    std::printf("%s: biased jumps against 50x farther: chi-square %.1f, total variation %.5f\n",
                std::string(dla::LatticeName(lattice)).c_str(), wrong.chi, wrong.variation);
    EXPECT_GT(wrong.chi, ChiLimit(wrong.df));
  }
}

}  // namespace
