// The lanes in AVX2 registers, four doubles each.  This file alone is
// compiled for AVX2, and its code runs only where the processor check in
// random_lanes.cpp found the set; everything in it lies in the namespace
// whose name the baseline scanner knows as checked at run time.
#include <immintrin.h>

#include <cstdint>

#include "runtime/random_lanes.h"

namespace sys::behind_cpu_check {
namespace {

#include "runtime/random_lanes_kernel.inc"

struct Avx2 {
  using V = __m256d;
  static constexpr int kWidth = 4;
  static V Set(double v) { return _mm256_set1_pd(v); }
  static V Load(const uint32_t* p) { return _mm256_cvtepi32_pd(_mm_load_si128(reinterpret_cast<const __m128i*>(p))); }
  static void Store(int32_t* p, V v) { _mm_store_si128(reinterpret_cast<__m128i*>(p), _mm256_cvttpd_epi32(v)); }
  static V Add(V a, V b) { return _mm256_add_pd(a, b); }
  static V Sub(V a, V b) { return _mm256_sub_pd(a, b); }
  static V Mul(V a, V b) { return _mm256_mul_pd(a, b); }
  static V And(V a, V b) { return _mm256_and_pd(a, b); }
  static V Or(V a, V b) { return _mm256_or_pd(a, b); }
  static V Less(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
  static V NotLess(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
  static V Blend(V no, V yes, V mask) { return _mm256_blendv_pd(no, yes, mask); }
  // The rounding these name ignores the rounding mode in force: the
  // quotient rounded to nearest leaves a remainder in (-M, M), and one
  // correction makes it the least one.
  static V Floor(V y) { return _mm256_round_pd(y, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC); }
  static V Mod(V p, V M, V inverse) {
    const V q = _mm256_round_pd(Mul(p, inverse), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    const V rest = Sub(p, Mul(q, M));
    return Add(rest, And(Less(rest, _mm256_setzero_pd()), M));
  }
};

}  // namespace

void FillThirdsAvx2(uint32_t a, uint32_t b, uint32_t c, ThirdsBlock& out) { FillLanes<Avx2, 16>(a, b, c, out); }

}  // namespace sys::behind_cpu_check
