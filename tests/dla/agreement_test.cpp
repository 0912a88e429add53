// The accelerated walks held to the plain walkers: for each geometry an
// ensemble of small clusters from each, at fixed seeds, compared by Rg at
// fixed N, the mass within three radii of the seed, and where particles
// stick.  The same comparisons must pass for two plain ensembles (the null)
// and must fail for the accelerated walk with every jump made one unit too
// long (the proof that they can see a biased shortcut).
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <ostream>
#include <string>
#include <utility>

#include "dla/plain.h"
#include "ensemble.h"

namespace {

using dla_test::Ensemble;

struct Case {
  dla::Lattice lattice;
  double stick;
};

std::string Name(const Case& c) {
  std::string name(dla::LatticeName(c.lattice));
  if (c.stick != 1) name += "_stick" + std::to_string(static_cast<int>(c.stick * 100));
  return name;
}
std::string CaseName(const testing::TestParamInfo<Case>& info) { return Name(info.param); }
void PrintTo(const Case& c, std::ostream* os) { *os << Name(c); }

// Seeds of the three kinds of ensemble, apart so that none shares a seed.
constexpr uint64_t kPlainSeeds = 1000, kOtherPlainSeeds = 50000, kAcceleratedSeeds = 90000;

Ensemble GrowPlain(const Case& c, uint64_t firstSeed) {
  const dla_test::Size size = dla_test::SizeFor(c.lattice);
  return dla_test::Grow([](const dla::Params& p) { return dla::MakePlainModel(p); },
                        {.lattice = c.lattice, .stick = c.stick}, firstSeed, size.clusters, size.particles);
}

Ensemble GrowAccelerated(const Case& c, double testBias) {
  const dla_test::Size size = dla_test::SizeFor(c.lattice);
  return dla_test::Grow([&](const dla::Params& p) { return dla::MakeModel(p, size.particles); },
                        {.lattice = c.lattice, .stick = c.stick, .testBias = testBias}, kAcceleratedSeeds,
                        size.clusters, size.particles);
}

// The plain reference of a case, grown once per process.
const Ensemble& Reference(const Case& c) {
  static std::map<std::pair<dla::Lattice, double>, Ensemble> cache;
  const auto key = std::make_pair(c.lattice, c.stick);
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.emplace(key, GrowPlain(c, kPlainSeeds)).first;
  return it->second;
}

class Agreement : public testing::TestWithParam<Case> {};
class Power : public testing::TestWithParam<Case> {};

TEST_P(Agreement, PlainWithOtherSeedsAgrees) {
  const auto all = dla_test::Compare(Reference(GetParam()), GrowPlain(GetParam(), kOtherPlainSeeds));
  std::printf("plain vs plain, other seeds:\n%s", dla_test::Table(all).c_str());
  EXPECT_TRUE(dla_test::Failures(all).empty()) << dla_test::Table(dla_test::Failures(all));
}

TEST_P(Agreement, AcceleratedAgreesWithPlain) {
  const auto all = dla_test::Compare(Reference(GetParam()), GrowAccelerated(GetParam(), 0));
  std::printf("plain vs accelerated:\n%s", dla_test::Table(all).c_str());
  EXPECT_TRUE(dla_test::Failures(all).empty()) << dla_test::Table(dla_test::Failures(all));
}

TEST_P(Power, JumpsOneUnitTooLongAreCaught) {
  const auto all = dla_test::Compare(Reference(GetParam()), GrowAccelerated(GetParam(), 1));
  std::printf("plain vs accelerated with testBias = 1:\n%s", dla_test::Table(all).c_str());
  EXPECT_FALSE(dla_test::Failures(all).empty()) << "no comparison sees the biased jumps:\n" << dla_test::Table(all);
}

INSTANTIATE_TEST_SUITE_P(Dla, Agreement,
                         testing::Values(Case{dla::Lattice::Off, 1}, Case{dla::Lattice::Square4, 1},
                                         Case{dla::Lattice::Square8, 1}, Case{dla::Lattice::Square4, 0.5},
                                         Case{dla::Lattice::Square8, 0.5}),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(Dla, Power,
                         testing::Values(Case{dla::Lattice::Off, 1}, Case{dla::Lattice::Square4, 1},
                                         Case{dla::Lattice::Square8, 1}),
                         CaseName);

}  // namespace
