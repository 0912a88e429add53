// The generator against its worked sequences and its reseed rules.
#include <gtest/gtest.h>

#include <vector>

#include "runtime/system.h"

namespace {

// A fresh generator, as at program start without Randomize.
void FreshStart(uint32_t seed = 0) {
  sys::RandSeed = seed;
  sys::InitialSeed = true;
  sys::OldRandSeed = 0;
  sys::Seed2 = 0;
  sys::Seed3 = 0;
}

std::vector<int32_t> Draws(int32_t n, int count) {
  std::vector<int32_t> out;
  for (int i = 0; i < count; ++i) out.push_back(sys::Random(n));
  return out;
}

TEST(Generator, ReseedFromZeroGivesTheWorkedStates) {
  // A running generator at seed 0, so that the draws below are the reseed's.
  FreshStart();
  sys::InitialSeed = false;
  std::vector<uint32_t> draws;
  for (int i = 0; i < 4; ++i) draws.push_back(sys::InternRandom(65000));
  EXPECT_EQ(draws, (std::vector<uint32_t>{998, 22002, 6009, 22965}));

  FreshStart();
  sys::InitialSeed = false;
  sys::NewSeed();  // the same four draws, folded into the states
  EXPECT_EQ(sys::RandSeed, 997965u);
  EXPECT_EQ(sys::Seed2, 357600u);
  EXPECT_EQ(sys::Seed3, 253305u);
}

TEST(Generator, FirstFloatFromAFreshStart) {
  FreshStart();
  const sys::Extended r = sys::Random();
  EXPECT_EQ(sys::RandSeed, 51315u);
  EXPECT_EQ(sys::Seed2, 178103u);
  EXPECT_EQ(sys::Seed3, 240118u);
  EXPECT_NEAR(static_cast<double>(r), 0.7132419314185483, 1e-15);
  // The extended sum of the three quotients, left to right.
  const sys::Extended expect = 51315.0L / 500009.0L + 178103.0L / 600011.0L + 240118.0L / 765241.0L;
  EXPECT_EQ(r, expect);
}

TEST(Generator, WorkedSequences) {
  FreshStart();
  EXPECT_EQ(Draws(3600, 8), (std::vector<int32_t>{2567, 1840, 229, 2821, 1371, 460, 3448, 2732}));
  FreshStart();
  EXPECT_EQ(Draws(3, 12), (std::vector<int32_t>{2, 1, 0, 2, 1, 0, 2, 2, 2, 1, 2, 1}));
  // A seed of 1000003 or more reseeds twice, the inner run from the reduced seed.
  FreshStart(5000000);
  EXPECT_EQ(Draws(3600, 6), (std::vector<int32_t>{2097, 661, 2931, 1355, 2069, 1754}));
}

TEST(Generator, WritingBackTheLastSeedContinuesAndAnyOtherReseeds) {
  FreshStart();
  Draws(3600, 3);
  const uint32_t left = sys::RandSeed;
  const std::vector<int32_t> next = [] {
    const uint32_t a = sys::RandSeed, b = sys::Seed2, c = sys::Seed3, o = sys::OldRandSeed;
    auto v = Draws(3600, 5);
    sys::RandSeed = a, sys::Seed2 = b, sys::Seed3 = c, sys::OldRandSeed = o;
    return v;
  }();
  sys::RandSeed = left;  // the value the generator left: no reseed
  EXPECT_EQ(Draws(3600, 5), next);

  sys::RandSeed = 0;  // any other value restarts from it, as a fresh start would
  const auto restarted = Draws(3600, 8);
  EXPECT_EQ(restarted, (std::vector<int32_t>{2567, 1840, 229, 2821, 1371, 460, 3448, 2732}));
}

TEST(Generator, RangeOfRandomForEveryKindOfBound) {
  FreshStart(12345);
  for (int i = 0; i < 2000; ++i) {
    const uint32_t before = sys::RandSeed;
    EXPECT_EQ(sys::Random(0), 0);
    EXPECT_NE(sys::RandSeed, before) << "Random(0) must still advance";
    const int32_t neg = sys::Random(-5);
    EXPECT_GE(neg, -4);
    EXPECT_LE(neg, 0);
    const int32_t pos = sys::Random(3);
    EXPECT_GE(pos, 0);
    EXPECT_LE(pos, 2);
    const int32_t big = sys::Random(INT32_MIN);
    EXPECT_LE(big, 0);
    EXPECT_GT(big, INT32_MIN);
  }
}

TEST(Generator, SmallBoundsAgreeWithTheExtendedComputation) {
  FreshStart(424242);
  int disagreements = 0;
  for (int i = 0; i < 300000; ++i) {
    const int32_t n = 1 + i % 70;  // across the integer path's limit
    const int32_t drawn = sys::Random(n);
    disagreements += drawn != sys::RandomExtended(n);
  }
  EXPECT_EQ(disagreements, 0);
  // States whose sum of quotients is a whole number exactly: the integer
  // path must hand these to the extended computation.
  sys::RandSeed = 0, sys::Seed2 = 0, sys::Seed3 = 0;
  EXPECT_EQ(sys::RandomExtended(3), 0);
}

// The walk's Random(3) has a road of its own: held to the extended
// computation over a long run, and at a state whose sum is a whole number,
// which it must leave to the exact paths.
TEST(Generator, TheWalksDrawAgreesWithTheExtendedComputation) {
  FreshStart(987654);
  int disagreements = 0;
  for (int i = 0; i < 2000000; ++i) disagreements += sys::Random(3) != sys::RandomExtended(3);
  EXPECT_EQ(disagreements, 0);
  // States that one step takes to (0, 0, 0): the sum is 0.
  sys::InitialSeed = false;
  sys::RandSeed = sys::OldRandSeed = 500008;
  sys::Seed2 = 600010;
  sys::Seed3 = 765240;
  EXPECT_EQ(sys::Random(3), 0);
  EXPECT_EQ(sys::RandSeed, 0u);
  EXPECT_EQ(sys::RandomExtended(3), 0);
}

TEST(Generator, RandomizeTakesTheTickCount) {
  sys::RandSeed = 0;
  const uint32_t before = sys::os::TickCount();
  sys::Randomize();
  const uint32_t after = sys::os::TickCount();
  EXPECT_LE(sys::RandSeed - before, after - before);
}

}  // namespace
