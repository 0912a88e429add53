// Fixed-width integers wider than 64 bits for the growth estimators' exact
// sums, built from 64-bit words and 32-bit half products so that they are
// the same on every compiler, including those with no 128-bit type (32-bit
// MinGW).  All arithmetic wraps modulo the width, as unsigned words do;
// the callers keep their values in range.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>

#include "io/growth.h"

namespace io::wide {

// 256 bits, least significant word first.
struct U256 {
  uint64_t w[4] = {0, 0, 0, 0};
};

inline constexpr Wide From(uint64_t v) { return Wide{0, v}; }

inline constexpr Wide Add(Wide a, Wide b) {
  const uint64_t lo = a.lo + b.lo;
  return Wide{a.hi + b.hi + (lo < a.lo ? 1 : 0), lo};
}

inline constexpr Wide Sub(Wide a, Wide b) {
  return Wide{a.hi - b.hi - (a.lo < b.lo ? 1 : 0), a.lo - b.lo};
}

// The full 128-bit product of two words, from four 32x32 -> 64 products.
inline constexpr Wide Mul(uint64_t a, uint64_t b) {
  const uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
  const uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
  // The middle column: three terms below 2^32 each, so no overflow.
  const uint64_t mid = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
  return Wide{p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32), (mid << 32) | (p00 & 0xFFFFFFFFu)};
}

// The full 256-bit product of two 128-bit values.
inline constexpr U256 Mul(Wide a, Wide b) {
  const Wide p00 = Mul(a.lo, b.lo), p01 = Mul(a.lo, b.hi), p10 = Mul(a.hi, b.lo), p11 = Mul(a.hi, b.hi);
  U256 r;
  r.w[0] = p00.lo;
  // Word 1: three words summed, the carries (at most 2) into word 2.
  const Wide mid = Add(Add(From(p00.hi), From(p01.lo)), From(p10.lo));
  r.w[1] = mid.lo;
  const Wide high = Add(Add(Add(From(mid.hi), From(p01.hi)), From(p10.hi)), From(p11.lo));
  r.w[2] = high.lo;
  r.w[3] = high.hi + p11.hi;
  return r;
}

inline constexpr Wide Low(const U256& a) { return Wide{a.w[1], a.w[0]}; }

inline constexpr U256 Sub(const U256& a, const U256& b) {
  U256 r;
  uint64_t borrow = 0;
  for (int i = 0; i < 4; ++i) {
    const uint64_t d = a.w[i] - b.w[i];
    r.w[i] = d - borrow;
    borrow = (a.w[i] < b.w[i]) || (d < borrow) ? 1 : 0;
  }
  return r;
}

inline constexpr U256 Times4(const U256& a) {
  U256 r;
  for (int i = 3; i >= 0; --i) r.w[i] = (a.w[i] << 2) | (i > 0 ? a.w[i - 1] >> 62 : 0);
  return r;
}

inline constexpr bool NotAbove(const U256& a, const U256& b) {
  for (int i = 3; i >= 0; --i)
    if (a.w[i] != b.w[i]) return a.w[i] < b.w[i];
  return true;
}

inline constexpr SignedWide Add(SignedWide a, int64_t v) {
  const uint64_t u = static_cast<uint64_t>(v);
  const uint64_t lo = a.lo + u;
  return SignedWide{a.hi + (v < 0 ? ~uint64_t{0} : 0) + (lo < a.lo ? 1 : 0), lo};
}

inline constexpr bool Negative(SignedWide a) { return (a.hi >> 63) != 0; }

// |a|; the most negative value, -2^127, comes out as 2^127.
inline constexpr Wide Magnitude(SignedWide a) {
  const Wide bits{a.hi, a.lo};
  return Negative(a) ? Sub(Wide{}, bits) : bits;
}

inline constexpr uint64_t Magnitude(int64_t v) { return v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v); }

// The nearest double, ties to even, as a conversion of a native 128-bit
// integer gives: the top 64 bits with every lower bit folded into the
// last (a sticky bit, below the rounding point), converted once, scaled.
inline double ToDouble(Wide a) {
  if (a.hi == 0) return static_cast<double>(a.lo);
  int shift = 64;
  while (shift > 0 && (a.hi >> (shift - 1)) == 0) --shift;  // the bit length of hi
  const uint64_t top = shift == 64 ? a.hi : (a.hi << (64 - shift)) | (a.lo >> shift);
  const uint64_t lost = shift == 64 ? a.lo : a.lo << (64 - shift);
  return std::ldexp(static_cast<double>(top | (lost != 0 ? 1 : 0)), shift);
}

inline double ToDouble(SignedWide a) {
  const double m = ToDouble(Magnitude(a));
  return Negative(a) ? -m : m;
}

// Decimal digits, by long division in 32-bit pieces.
inline std::string Text(Wide v) {
  if (v.hi == 0 && v.lo == 0) return "0";
  std::string s;
  while (v.hi != 0 || v.lo != 0) {
    uint32_t part[4] = {static_cast<uint32_t>(v.hi >> 32), static_cast<uint32_t>(v.hi), static_cast<uint32_t>(v.lo >> 32),
                        static_cast<uint32_t>(v.lo)};
    uint64_t rest = 0;
    for (uint32_t& p : part) {
      const uint64_t cur = (rest << 32) | p;
      p = static_cast<uint32_t>(cur / 10);
      rest = cur % 10;
    }
    v = Wide{(uint64_t{part[0]} << 32) | part[1], (uint64_t{part[2]} << 32) | part[3]};
    s.insert(s.begin(), static_cast<char>('0' + rest));
  }
  return s;
}

}  // namespace io::wide
