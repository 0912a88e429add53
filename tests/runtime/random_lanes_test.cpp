// The walk's draws computed ahead in lanes, held to the generator drawing
// one number at a time: the same results and the same states after every
// draw, for each instruction set this processor has.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "runtime/random_lanes.h"
#include "runtime/system.h"

namespace {

constexpr uint64_t M1 = 500009, M2 = 600011, M3 = 765241;
constexpr uint64_t kMul[3] = {706, 774, 871};

std::vector<sys::Lanes> SetsHere() {
  std::vector<sys::Lanes> sets;
  for (const sys::Lanes set : {sys::Lanes::None, sys::Lanes::Portable, sys::Lanes::SSE2, sys::Lanes::AVX2, sys::Lanes::NEON})
    if (sys::LanesHave(set)) sets.push_back(set);
  return sets;
}

// Blocks from the generator's present states against as many draws one at
// a time; counts the draws the exact path had to decide.
uint64_t CompareBlocks(sys::Lanes lanes, uint64_t draws) {
  sys::ThirdsBlock block;
  uint64_t exact = 0;
  for (uint64_t done = 0; done < draws; done += sys::ThirdsBlock::kSize) {
    sys::FillThirds(lanes, sys::RandSeed, sys::Seed2, sys::Seed3, block);
    for (int i = 0; i < sys::ThirdsBlock::kSize; ++i) {
      const int32_t one = sys::Random(3);
      int32_t step = block.step[i];
      if (step == sys::ThirdsBlock::kExact) {
        ++exact;
        step = sys::RandomThirdAt(block.a[i], block.b[i], block.c[i]) - 1;
      }
      if (step != one - 1 || block.a[i] != sys::RandSeed || block.b[i] != sys::Seed2 || block.c[i] != sys::Seed3) {
        ADD_FAILURE() << sys::LanesName(lanes) << ": draw " << done + i << " gives " << step + 1 << " for " << one
                      << ", states " << block.a[i] << " " << block.b[i] << " " << block.c[i] << " for "
                      << sys::RandSeed << " " << sys::Seed2 << " " << sys::Seed3;
        return exact;
      }
    }
  }
  return exact;
}

// 10^7 draws in all from several seeds, each set; AGG_LONG_LANES asks for
// 10^9 a set.
TEST(Lanes, SameResultsAndStatesAsOneDrawAtATime) {
  const bool long_mode = std::getenv("AGG_LONG_LANES") != nullptr;
  const uint64_t perSeed = long_mode ? 250'000'000 : 2'500'000;
  for (const sys::Lanes lanes : SetsHere()) {
    SCOPED_TRACE(sys::LanesName(lanes));
    for (const uint32_t seed : {0u, 1u, 12345u, 4000000000u}) {
      sys::RandSeed = seed;
      sys::InitialSeed = true;
      (void)sys::Random(3600);  // the reseed, as a launch makes it
      CompareBlocks(lanes, perSeed);
      if (HasFailure()) return;
    }
  }
}

// A set asked for is kept where the processor has it, and otherwise
// narrowed to one it has: a two-double set to this processor's own, so
// that AGG_LANES=sse2 on arm64 (or neon on x86) still uses vector lanes.
TEST(Lanes, ASetThisProcessorLacksIsNarrowedToOneItHas) {
  const sys::Lanes before = sys::LanesInUse();
  const bool twoHere = sys::LanesHave(sys::Lanes::SSE2) || sys::LanesHave(sys::Lanes::NEON);
  for (const sys::Lanes set : {sys::Lanes::None, sys::Lanes::Portable, sys::Lanes::SSE2, sys::Lanes::AVX2, sys::Lanes::NEON}) {
    SCOPED_TRACE(sys::LanesName(set));
    sys::UseLanes(set);
    const sys::Lanes got = sys::LanesInUse();
    EXPECT_TRUE(sys::LanesHave(got));
    if (sys::LanesHave(set)) {
      EXPECT_EQ(got, set);
    }
    const bool two = set == sys::Lanes::SSE2 || set == sys::Lanes::AVX2 || set == sys::Lanes::NEON;
    if (two && twoHere) {
      EXPECT_TRUE(got == sys::Lanes::SSE2 || got == sys::Lanes::AVX2 || got == sys::Lanes::NEON);
    }
  }
  EXPECT_TRUE(sys::LanesHave(sys::LanesAvailable()));
  sys::UseLanes(before);
}

// x with m (x + 1) = y mod M: the state one step before y.
uint64_t Before(uint64_t y, uint64_t m, uint64_t M) {
  uint64_t inverse = 1;  // m^(M-2) mod M
  for (uint64_t e = M - 2, b = m; e; e >>= 1, b = b * b % M)
    if (e & 1) inverse = inverse * b % M;
  return (y * inverse % M + M - 1) % M;
}

// States whose sum 3 (a/M1 + b/M2 + c/M3) lies within 0.9 * 10^-9 of a whole
// number, on either side or on it, found in exact integers: with N the sum
// times D = M1 M2 M3, c's term M1 M2 (3c mod M3) takes every multiple of
// M1 M2, so the nearest to -(the rest) is one division away.
struct Near {
  uint32_t a, b, c;
};
std::vector<Near> NearWholeStates(int count) {
  using U = uint64_t;  // every product below stays under 2^62
  const U D = U{M1} * M2 * M3, step = U{M1} * M2;
  const U window = static_cast<U>(0.9e-9 * static_cast<double>(D));
  uint64_t inverse3 = 0;
  while ((3 * inverse3) % M3 != 1) ++inverse3;
  std::vector<Near> found;
  uint64_t lcg = 88172645463325252ull;
  auto next = [&] { return lcg = lcg * 6364136223846793005ull + 1442695040888963407ull, lcg >> 33; };
  // An exactly whole sum first: all three states zero.
  found.push_back({0, 0, 0});
  while (static_cast<int>(found.size()) < count) {
    const uint64_t a = next() % M1, b = next() % M2;
    const U rest = (3 * (U{a} * M2 * M3 + U{b} * M1 * M3)) % D;
    const U below = (D - rest) / step, k = below + (found.size() % 2);  // under or over the whole number
    if (k >= M3) continue;
    const U total = (k * step + rest) % D;
    const U off = total < D / 2 ? total : D - total;
    if (off > window) continue;
    const uint64_t c = static_cast<uint64_t>(k) * inverse3 % M3;
    found.push_back({static_cast<uint32_t>(a), static_cast<uint32_t>(b), static_cast<uint32_t>(c)});
  }
  return found;
}

TEST(Lanes, SumsNearAWholeNumberGoThroughTheExactPath) {
  const std::vector<Near> states = NearWholeStates(40);
  for (const sys::Lanes lanes : SetsHere()) {
    SCOPED_TRACE(sys::LanesName(lanes));
    for (const Near& s : states) {
      // The generator one step before, so that its next draw is at s.
      const uint32_t a = static_cast<uint32_t>(Before(s.a, kMul[0], M1));
      const uint32_t b = static_cast<uint32_t>(Before(s.b, kMul[1], M2));
      const uint32_t c = static_cast<uint32_t>(Before(s.c, kMul[2], M3));
      sys::ThirdsBlock block;
      sys::FillThirds(lanes, a, b, c, block);
      ASSERT_EQ(block.a[0], s.a);
      ASSERT_EQ(block.b[0], s.b);
      ASSERT_EQ(block.c[0], s.c);
      if (lanes != sys::Lanes::None) {
        EXPECT_EQ(block.step[0], sys::ThirdsBlock::kExact) << s.a << " " << s.b << " " << s.c;
      }
      sys::RandSeed = sys::OldRandSeed = a;
      sys::Seed2 = b, sys::Seed3 = c;
      sys::InitialSeed = false;
      EXPECT_EQ(sys::RandomThirdAt(s.a, s.b, s.c), sys::Random(3));
      EXPECT_EQ(sys::RandSeed, s.a);
      // And the blocks that follow still agree, draw for draw.
      CompareBlocks(lanes, 4 * sys::ThirdsBlock::kSize);
    }
  }
}

}  // namespace
