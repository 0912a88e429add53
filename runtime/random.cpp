// The pseudo-random generator: three small linear congruential states whose
// scaled sum, taken modulo 1, is the result.  All state arithmetic is
// unsigned 32-bit; the float part is 80-bit extended.
#include "runtime/system.h"

namespace sys {

uint32_t RandSeed = 0;
bool InitialSeed = true;
uint32_t OldRandSeed = 0;
uint32_t Seed2 = 0;
uint32_t Seed3 = 0;

namespace {

// Restarts the generator whenever RandSeed no longer holds the value the
// generator itself last left there.
inline void ReseedTest() {
  if (InitialSeed || RandSeed != OldRandSeed) [[unlikely]] {
    InitialSeed = false;
    OldRandSeed = RandSeed;
    NewSeed();
  }
}

// The sum lies in [0, 3), where taking off its whole part is exact, so the
// result equals Frac without touching the control word on every draw.
inline Extended FracOfSum(Extended s) {
  if (s >= 2.0L) return s - 2.0L;
  if (s >= 1.0L) return s - 1.0L;
  return s;
}

// |p| < 2^31 here, so the store cannot fail.  A rounding store under a
// control word that truncates, the caller's word put back after: the store
// that truncates by itself needs a later processor than the 32-bit build
// assumes.  Only Random(n) for larger n comes here, once a particle.
inline int64_t TruncInRange(Extended p) {
#if AGG_SOFT_EXTENDED
  return static_cast<int64_t>(p);
#else
  uint16_t saved;
  asm volatile("fnstcw %0" : "=m"(saved));
  const uint16_t truncating = saved | 0x0C00;
  int64_t r;
  asm volatile("fldcw %1\n\tfistpll %0\n\tfldcw %2" : "=m"(r) : "m"(truncating), "m"(saved), "t"(p) : "st");
  return r;
#endif
}

// One step of the three states.
inline void Step() {
  ReseedTest();
  RandSeed = ((RandSeed + 1u) * 706u) % 500009u;
  OldRandSeed = RandSeed;
  Seed2 = ((Seed2 + 1u) * 774u) % 600011u;
  Seed3 = ((Seed3 + 1u) * 871u) % 765241u;
}

// The float result of the present states: left to right, each quotient and
// each sum rounded to extended.
inline Extended FloatOfStates(uint32_t a, uint32_t b, uint32_t c) {
  Extended sum = static_cast<Extended>(a) / 500009.0L;
  sum = sum + static_cast<Extended>(b) / 600011.0L;
  sum = sum + static_cast<Extended>(c) / 765241.0L;
  return FracOfSum(sum);
}

// Random(n) for small n without floating point.  The three quotients sum to
// N / D exactly, D the product of the moduli (below 2^58), so n times the
// fraction is n (N mod D) / D and its whole part an integer division.  The
// extended computation differs from that exact value by less than 9 units
// of 2^-64 in n, about a tenth of 1 / D per unit of n: it truncates to the
// same integer unless the exact value lies within n / D of an integer, and
// there (about once in 10^16 draws) the extended computation is done itself.
// The bound holds for the programs' control word (64-bit significand) in
// any rounding mode.
constexpr uint64_t M1 = 500009, M2 = 600011, M3 = 765241;
constexpr uint64_t D = M1 * M2 * M3;
constexpr int32_t kExactLimit = 64;  // n (N mod D) stays below 2^64
static_assert(D < (uint64_t{1} << 58) && D <= UINT64_MAX / kExactLimit);

inline bool ExactSmall(int32_t n, uint32_t a, uint32_t b, uint32_t c, int32_t& result) {
  uint64_t r = a * (M2 * M3) + b * (M1 * M3) + c * (M1 * M2);
  if (r >= D) r -= D;
  if (r >= D) r -= D;
  const uint64_t m = static_cast<uint64_t>(n) * r;
  // The walk's Random(3) takes the whole part from comparisons with D and
  // 2D: no division, which the 32-bit build would make a library call.
  const uint64_t whole = n == 3 ? uint64_t{m >= D} + uint64_t{m >= 2 * D} : m / D;
  const uint64_t rest = m - whole * D;
  const uint64_t margin = static_cast<uint64_t>(n);
  if (r <= 1 || r >= D - 1 || rest <= margin || rest >= D - margin) [[unlikely]]
    return false;
  result = static_cast<int32_t>(whole);
  return true;
}

// Random(3), the walk's draw, in double precision.  After a step the
// states lie below their moduli, so y = 3 (a / M1 + b / M2 + c / M3) is in
// [0, 9), and Random(3) is the whole part of 3 times the sum's fraction,
// which is ⌊y⌋ mod 3.  Each quotient's constant and product and each sum
// are rounded to double: together less than 2^-47 off the exact y.  So when
// y lies more than 10^-9 from a whole number, ⌊y⌋ is exact and the result
// is that of the exact-integer path (whose own margins, 3 / D wide, lie
// inside this one); otherwise that path decides.  No 64-bit arithmetic, which
// the 32-bit build does in pairs of registers.
inline bool ThirdOfSum(uint32_t a, uint32_t b, uint32_t c, int32_t& result) {
  const double y = static_cast<double>(static_cast<int32_t>(a)) * (3.0 / static_cast<double>(M1)) +
                   static_cast<double>(static_cast<int32_t>(b)) * (3.0 / static_cast<double>(M2)) +
                   static_cast<double>(static_cast<int32_t>(c)) * (3.0 / static_cast<double>(M3));
  const int32_t whole = static_cast<int32_t>(y);
  const double fraction = y - static_cast<double>(whole);
  if (fraction < 1e-9 || fraction > 1.0 - 1e-9) [[unlikely]]
    return false;
  result = whole % 3;
  return true;
}

}  // namespace

void NewSeed() {
  RandSeed = RandSeed % 1000003u;
  // A seed that the reduction changed makes this first draw reseed once
  // more, from the reduced value; the draws below then decide the states.
  uint32_t x = InternRandom(65000);
  uint32_t y = InternRandom(65000);
  Seed2 = (x * y) % 600011u;
  uint32_t u = InternRandom(65000);
  uint32_t v = InternRandom(65000);
  Seed3 = (u * v) % 765241u;
}

uint32_t InternRandom(uint32_t l) {
  ReseedTest();
  RandSeed = ((RandSeed + 1u) * 998u) % 1000003u;
  OldRandSeed = RandSeed;
  return l == 0 ? 0 : RandSeed % l;
}

Extended Random() {
  Step();
  return FloatOfStates(RandSeed, Seed2, Seed3);
}

namespace {
inline int32_t ExtendedOf(int32_t n, uint32_t a, uint32_t b, uint32_t c) {
  const Extended p = FloatOfStates(a, b, c) * static_cast<Extended>(n);
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(TruncInRange(p))));
}
}  // namespace

int32_t RandomExtended(int32_t n) { return ExtendedOf(n, RandSeed, Seed2, Seed3); }

int32_t Random(int32_t n) {
  Step();
  int32_t r;
  if (n == 3 && ThirdOfSum(RandSeed, Seed2, Seed3, r)) [[likely]]
    return r;
  if (n > 0 && n < kExactLimit && ExactSmall(n, RandSeed, Seed2, Seed3, r)) return r;
  return RandomExtended(n);
}

int32_t RandomThirdAt(uint32_t a, uint32_t b, uint32_t c) {
  int32_t r;
  if (ThirdOfSum(a, b, c, r)) return r;
  if (ExactSmall(3, a, b, c, r)) return r;
  return ExtendedOf(3, a, b, c);
}

void Randomize() { RandSeed = os::TickCount(); }

}  // namespace sys
