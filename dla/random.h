// The standard model's generator: xoshiro256** (Blackman and Vigna), seeded
// through splitmix64.  It is fast, has a period of 2^256 - 1 and passes the
// usual batteries, and being integer arithmetic it gives the same numbers on
// every processor and compiler, so that a seed grows the same cluster byte
// for byte on Linux and on the Windows build.  Reals are made from it with
// + - * / and sqrt only (correctly rounded in IEEE double), never with a
// library's cos or log, whose last bits differ between C libraries.
#pragma once

#include <cstdint>

namespace dla {

class Random {
 public:
  explicit Random(uint64_t seed) {
    for (uint64_t& w : s_) {
      seed += 0x9e3779b97f4a7c15u;
      uint64_t z = seed;
      z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
      z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
      w = z ^ (z >> 31);
    }
  }
  uint64_t Next() {
    const uint64_t result = Rotl(s_[1] * 5, 7) * 9;
    const uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = Rotl(s_[3], 45);
    return result;
  }
  // Uniform on [0, 1), 53 bits.
  double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  // Uniform on [-1, 1).
  double Signed() { return static_cast<double>(static_cast<int64_t>(Next()) >> 11) * 0x1.0p-52; }
  // Uniform on 0 .. n-1 (n > 0), without modulo bias (Lemire's method).
  uint32_t Below(uint32_t n) {
    uint64_t m = (Next() >> 32) * n;
    if (static_cast<uint32_t>(m) < n) {
      const uint32_t floor = static_cast<uint32_t>(-n) % n;
      while (static_cast<uint32_t>(m) < floor) m = (Next() >> 32) * n;
    }
    return static_cast<uint32_t>(m >> 32);
  }

 private:
  static uint64_t Rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  uint64_t s_[4];
};

}  // namespace dla
