// Random(3) results computed ahead, many at once, for the walk.
//
// Each of the generator's three states steps by an affine map modulo a
// prime below 2^20, so k steps ahead it is x -> (A_k x + C_k) mod M with
// every product below 2^40: exact in a double.  Consecutive draws are
// therefore independent lanes of the processor's vector registers.  A block
// holds, for each draw, its result and the states it leaves, so that a
// caller can put back exactly what the one-at-a-time generator would have
// left after any draw of the block.
#pragma once

#include <cstdint>

namespace sys {

struct ThirdsBlock {
  static constexpr int32_t kSize = 512;
  // A step whose sum lies so near a whole number that only the exact path
  // may decide it: RandomThirdAt at that draw's states.
  static constexpr int32_t kExact = 64;
  // Random(3) - 1 of each draw, or kExact.
  alignas(32) int32_t step[kSize];
  // The states after each draw (RandSeed, Seed2, Seed3).
  alignas(32) uint32_t a[kSize];
  alignas(32) uint32_t b[kSize];
  alignas(32) uint32_t c[kSize];
};

// The instruction sets the lanes can use.  None means the walk draws one
// number at a time; Portable is the lanes' computation in plain code, for
// any processor; SSE2 and AVX2 are x86's, NEON arm64's (two doubles a
// register, as SSE2).
enum class Lanes : uint8_t { None, Portable, SSE2, AVX2, NEON };

// The widest set this processor has, or the narrower one that the
// environment variable AGG_LANES ("avx2", "sse2", "neon", "portable" or
// "none") asks for; decided at the first call.
Lanes LanesInUse();
// Overrides that choice (the benchmark measures the walk without lanes);
// a set the processor lacks is narrowed to one it has: AVX2 to SSE2, a
// two-double set of the other processor to this one's, else Portable.
void UseLanes(Lanes lanes);
// The widest set the processor has.
Lanes LanesAvailable();
// Whether the processor has the set (None and Portable: always).
bool LanesHave(Lanes lanes);
const char* LanesName(Lanes lanes);

// Fills the block with the draws that follow the states (a, b, c) as the
// generator holds them (RandSeed, Seed2, Seed3), using the given set (narrowed to what the
// processor has; None fills one draw at a time).
void FillThirds(Lanes lanes, uint32_t a, uint32_t b, uint32_t c, ThirdsBlock& out);

// Random(3)'s result at the states a draw left, by the same computation as
// Random(3) itself under the present control word.
int32_t RandomThirdAt(uint32_t a, uint32_t b, uint32_t c);

}  // namespace sys
