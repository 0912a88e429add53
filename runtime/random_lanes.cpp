// Random(3) draws computed ahead in vector lanes; see random_lanes.h and
// random_lanes_kernel.inc.
#include "runtime/random_lanes.h"

#include <atomic>
#include <bit>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#define AGG_LANES_X86 1
#elif defined(__aarch64__)
#include <arm_neon.h>
#define AGG_LANES_NEON 1
#endif

namespace sys {

#ifdef AGG_LANES_AVX2
namespace behind_cpu_check {
void FillThirdsAvx2(uint32_t a, uint32_t b, uint32_t c, ThirdsBlock& out);
}
#endif

namespace {

#include "runtime/random_lanes_kernel.inc"

#ifdef AGG_LANES_X86
// Two doubles a register: the baseline of both builds.
struct Sse2 {
  using V = __m128d;
  static constexpr int kWidth = 2;
  static V Set(double v) { return _mm_set1_pd(v); }
  static V Load(const uint32_t* p) { return _mm_cvtepi32_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))); }
  static void Store(int32_t* p, V v) { _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_cvttpd_epi32(v)); }
  static V Add(V a, V b) { return _mm_add_pd(a, b); }
  static V Sub(V a, V b) { return _mm_sub_pd(a, b); }
  static V Mul(V a, V b) { return _mm_mul_pd(a, b); }
  static V And(V a, V b) { return _mm_and_pd(a, b); }
  static V Or(V a, V b) { return _mm_or_pd(a, b); }
  static V Less(V a, V b) { return _mm_cmplt_pd(a, b); }
  static V NotLess(V a, V b) { return _mm_cmpge_pd(a, b); }
  static V Blend(V no, V yes, V mask) { return _mm_or_pd(_mm_and_pd(mask, yes), _mm_andnot_pd(mask, no)); }
  // Without a rounding instruction: rounded by adding and taking off
  // 1.5 * 2^52, in whatever mode is in force, so off by up to one either
  // way, which a comparison each way puts right.
  static V Round(V v) { return Sub(Add(v, Set(kRound)), Set(kRound)); }
  static V Floor(V y) {
    const V whole = Round(y);
    return Sub(whole, And(Less(y, whole), Set(1.0)));
  }
  static V Mod(V p, V M, V inverse) {
    V rest = Sub(p, Mul(Round(Mul(p, inverse)), M));
    rest = Add(rest, And(Less(rest, _mm_setzero_pd()), M));
    return Sub(rest, And(NotLess(rest, M), M));
  }
};
#endif

#ifdef AGG_LANES_NEON
// Two doubles a register, as SSE2; every arm64 processor has them.  A
// comparison's mask is a lane with every bit set, as there.
struct Neon {
  using V = float64x2_t;
  static constexpr int kWidth = 2;
  static V Bits(uint64x2_t m) { return vreinterpretq_f64_u64(m); }
  static uint64x2_t Mask(V v) { return vreinterpretq_u64_f64(v); }
  static V Set(double v) { return vdupq_n_f64(v); }
  static V Load(const uint32_t* p) { return vcvtq_f64_s64(vmovl_s32(vld1_s32(reinterpret_cast<const int32_t*>(p)))); }
  static void Store(int32_t* p, V v) { vst1_s32(p, vmovn_s64(vcvtq_s64_f64(v))); }
  static V Add(V a, V b) { return vaddq_f64(a, b); }
  static V Sub(V a, V b) { return vsubq_f64(a, b); }
  static V Mul(V a, V b) { return vmulq_f64(a, b); }
  static V And(V a, V b) { return Bits(vandq_u64(Mask(a), Mask(b))); }
  static V Or(V a, V b) { return Bits(vorrq_u64(Mask(a), Mask(b))); }
  static V Less(V a, V b) { return Bits(vcltq_f64(a, b)); }
  static V NotLess(V a, V b) { return Bits(vcgeq_f64(a, b)); }
  static V Blend(V no, V yes, V mask) { return vbslq_f64(Mask(mask), yes, no); }
  // The processor floors in one instruction, exactly.
  static V Floor(V y) { return vrndmq_f64(y); }
  // As the portable one: the quotient's floor is off by at most one either
  // way (the product rounds), and one correction each way puts it right.
  static V Mod(V p, V M, V inverse) {
    V rest = Sub(p, Mul(Floor(Mul(p, inverse)), M));
    rest = Add(rest, And(Less(rest, Set(0.0)), M));
    return Sub(rest, And(NotLess(rest, M), M));
  }
};
#endif

// One double a register, in plain code: the lanes where the processor's
// vector set is not one of the above.  A comparison's mask is a double
// with every bit set, as in the vector sets.
struct Portable {
  using V = double;
  static constexpr int kWidth = 1;
  static V Set(double v) { return v; }
  static V Load(const uint32_t* p) { return static_cast<double>(static_cast<int32_t>(*p)); }
  static void Store(int32_t* p, V v) { *p = static_cast<int32_t>(v); }
  static V Add(V a, V b) { return a + b; }
  static V Sub(V a, V b) { return a - b; }
  static V Mul(V a, V b) { return a * b; }
  static V And(V a, V b) { return std::bit_cast<V>(std::bit_cast<uint64_t>(a) & std::bit_cast<uint64_t>(b)); }
  static V Or(V a, V b) { return std::bit_cast<V>(std::bit_cast<uint64_t>(a) | std::bit_cast<uint64_t>(b)); }
  static V Mask(bool m) { return std::bit_cast<V>(m ? ~uint64_t{0} : uint64_t{0}); }
  static V Less(V a, V b) { return Mask(a < b); }
  static V NotLess(V a, V b) { return Mask(a >= b); }
  static V Blend(V no, V yes, V mask) { return std::bit_cast<uint64_t>(mask) != 0 ? yes : no; }
  // Every value the kernel floors is at least 0 and below 2^40, where
  // truncation is the floor and one instruction on every processor.
  static V Floor(V y) { return static_cast<double>(static_cast<int64_t>(y)); }
  // The quotient's whole part is off by at most one either way (the
  // product rounds); one correction each way makes the least remainder.
  static V Mod(V p, V M, V inverse) {
    V rest = p - Floor(p * inverse) * M;
    if (rest < 0) rest += M;
    if (rest >= M) rest -= M;
    return rest;
  }
};

void FillOneAtATime(uint32_t a, uint32_t b, uint32_t c, ThirdsBlock& out) {
  for (int i = 0; i < ThirdsBlock::kSize; ++i) {
    a = StepOf(0, a), b = StepOf(1, b), c = StepOf(2, c);
    out.a[i] = a, out.b[i] = b, out.c[i] = c;
    out.step[i] = RandomThirdAt(a, b, c) - 1;
  }
}

Lanes Available() {
#ifdef AGG_LANES_X86
#ifdef AGG_LANES_AVX2
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return Lanes::AVX2;
#endif
  return Lanes::SSE2;
#elif defined(AGG_LANES_NEON)
  return Lanes::NEON;
#else
  return Lanes::Portable;
#endif
}

Lanes Narrowed(Lanes wanted) {
  if (LanesHave(wanted)) return wanted;
  const bool twoDoubles = wanted == Lanes::SSE2 || wanted == Lanes::AVX2 || wanted == Lanes::NEON;
  if (twoDoubles && LanesHave(Lanes::SSE2)) return Lanes::SSE2;
  if (twoDoubles && LanesHave(Lanes::NEON)) return Lanes::NEON;
  return Lanes::Portable;
}

Lanes FromEnvironment() {
  const char* v = std::getenv("AGG_LANES");
  if (v == nullptr) return LanesAvailable();
  if (std::strcmp(v, "none") == 0) return Lanes::None;
  if (std::strcmp(v, "sse2") == 0) return Narrowed(Lanes::SSE2);
  if (std::strcmp(v, "neon") == 0) return Narrowed(Lanes::NEON);
  if (std::strcmp(v, "portable") == 0) return Narrowed(Lanes::Portable);
  return LanesAvailable();
}

// Decided once; a plain byte after that, read on every walk.
std::atomic<int> chosen{-1};

}  // namespace

Lanes LanesAvailable() {
  static const Lanes available = Available();
  return available;
}

bool LanesHave(Lanes lanes) {
  const Lanes best = LanesAvailable();
  switch (lanes) {
    case Lanes::None:
    case Lanes::Portable: return true;
    case Lanes::SSE2: return best == Lanes::SSE2 || best == Lanes::AVX2;
    default: return lanes == best;
  }
}

Lanes LanesInUse() {
  int c = chosen.load(std::memory_order_relaxed);
  if (c < 0) [[unlikely]] {
    c = static_cast<int>(FromEnvironment());
    chosen.store(c, std::memory_order_relaxed);
  }
  return static_cast<Lanes>(c);
}

void UseLanes(Lanes lanes) { chosen.store(static_cast<int>(Narrowed(lanes)), std::memory_order_relaxed); }

const char* LanesName(Lanes lanes) {
  switch (lanes) {
    case Lanes::AVX2: return "AVX2";
    case Lanes::SSE2: return "SSE2";
    case Lanes::NEON: return "NEON";
    case Lanes::Portable: return "portable";
    default: return "none";
  }
}

void FillThirds(Lanes lanes, uint32_t a, uint32_t b, uint32_t c, ThirdsBlock& out) {
  switch (Narrowed(lanes)) {
#ifdef AGG_LANES_AVX2
    case Lanes::AVX2: behind_cpu_check::FillThirdsAvx2(a, b, c, out); return;
#endif
#ifdef AGG_LANES_X86
    case Lanes::SSE2: FillLanes<Sse2, 8>(a, b, c, out); return;
#endif
#ifdef AGG_LANES_NEON
    case Lanes::NEON: FillLanes<Neon, 8>(a, b, c, out); return;
#endif
    case Lanes::Portable: FillLanes<Portable, 8>(a, b, c, out); return;
    default: FillOneAtATime(a, b, c, out); return;
  }
}

}  // namespace sys
