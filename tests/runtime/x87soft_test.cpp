// The software extended arithmetic against the x87 itself, operation by
// operation: the same result bits and the same exception flags, for
// operands of every class under every rounding and precision the control
// word can set.  10^6 cases; AGG_LONG_X87SOFT=1 asks for 10^9.
#include "runtime/x87soft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#if defined(__x86_64__)

namespace {

namespace xs = sys::x87soft;
using xs::Value;

long double Hw(Value v) {
  long double x = 0;
  std::memcpy(&x, &v.sig, 8);
  std::memcpy(reinterpret_cast<char*>(&x) + 8, &v.se, 2);
  return x;
}

Value Sw(long double x) {
  Value v;
  std::memcpy(&v.sig, &x, 8);
  std::memcpy(&v.se, reinterpret_cast<const char*>(&x) + 8, 2);
  return v;
}

enum class Op : uint8_t { Add, Sub, Mul, Div, Sqrt, RoundInt, Less, Equal, Int16, Int32, Int64, kCount };
const char* const kOpNames[] = {"add", "sub", "mul", "div", "sqrt", "frndint", "fcomi", "fucomi", "fist16", "fist32", "fist64"};

struct Outcome {
  Value v;
  int64_t i = 0;
  uint16_t flags = 0;
  bool operator==(const Outcome&) const = default;
};

// The unit's own answer, every exception masked so that none traps.
Outcome OnUnit(Op op, Value a, Value b, uint16_t cw) {
  volatile long double va = Hw(a), vb = Hw(b);
  const uint16_t saved = 0x037F;
  Outcome o;
  uint16_t sw = 0;
  asm volatile("fnclex\n\tfldcw %0" : : "m"(cw) : "memory");
  long double x = va, y = vb, r = 0;
  switch (op) {
    case Op::Add: r = x + y; break;
    case Op::Sub: r = x - y; break;
    case Op::Mul: r = x * y; break;
    case Op::Div: r = x / y; break;
    case Op::Sqrt: asm volatile("fsqrt" : "=t"(r) : "0"(x)); break;
    case Op::RoundInt: asm volatile("frndint" : "=t"(r) : "0"(x)); break;
    case Op::Less: {
      uint8_t below, equal, unordered;
      asm volatile("fcomi %%st(1), %%st\n\tsetb %0\n\tsete %1\n\tsetp %2"
                   : "=q"(below), "=q"(equal), "=q"(unordered) : "t"(x), "u"(y) : "cc");
      o.i = unordered ? 3 : below ? 0 : equal ? 1 : 2;
      break;
    }
    case Op::Equal: {
      uint8_t below, equal, unordered;
      asm volatile("fucomi %%st(1), %%st\n\tsetb %0\n\tsete %1\n\tsetp %2"
                   : "=q"(below), "=q"(equal), "=q"(unordered) : "t"(x), "u"(y) : "cc");
      o.i = unordered ? 3 : below ? 0 : equal ? 1 : 2;
      break;
    }
    case Op::Int16: {
      int16_t n;
      asm volatile("fists %0" : "=m"(n) : "t"(x));
      o.i = n;
      break;
    }
    case Op::Int32: {
      int32_t n;
      asm volatile("fistl %0" : "=m"(n) : "t"(x));
      o.i = n;
      break;
    }
    case Op::Int64: {
      int64_t n;
      asm volatile("fistpll %0" : "=m"(n) : "t"(x) : "st");
      o.i = n;
      break;
    }
    default: break;
  }
  asm volatile("" : "+t"(r));
  volatile long double out = r;
  asm volatile("fnstsw %0\n\tfnclex\n\tfldcw %1" : "=m"(sw) : "m"(saved) : "memory");
  if (op <= Op::RoundInt) o.v = Sw(out);
  o.flags = sw & xs::kAllFlags;
  return o;
}

Outcome InSoftware(Op op, Value a, Value b, uint16_t cw) {
  xs::Env env{cw, 0};
  Outcome o;
  const int rc = (cw >> 10) & 3;
  switch (op) {
    case Op::Add: o.v = xs::Add(env, a, b); break;
    case Op::Sub: o.v = xs::Sub(env, a, b); break;
    case Op::Mul: o.v = xs::Mul(env, a, b); break;
    case Op::Div: o.v = xs::Div(env, a, b); break;
    case Op::Sqrt: o.v = xs::Sqrt(env, a); break;
    case Op::RoundInt: o.v = xs::RoundToInt(env, a); break;
    case Op::Less: o.i = static_cast<int64_t>(xs::Compare(env, a, b, false)); break;
    case Op::Equal: o.i = static_cast<int64_t>(xs::Compare(env, a, b, true)); break;
    case Op::Int16: o.i = xs::ToInt(env, a, 16, rc); break;
    case Op::Int32: o.i = xs::ToInt(env, a, 32, rc); break;
    case Op::Int64: o.i = xs::ToInt(env, a, 64, rc); break;
    default: break;
  }
  o.flags = env.sw;
  return o;
}

// Operands of every class.  Some are drawn near the first operand, so that
// sums cancel, quotients land on ties and roundings sit at the boundary.
class Operands {
 public:
  explicit Operands(uint64_t seed) : rng_(seed) {}

  Value Next() { return Make(Bits() % 16); }

  Value Near(Value a) {
    switch (Bits() % 6) {
      case 0: return {a.sig + (Bits() % 5) - 2, a.se};
      case 1: return {a.sig, static_cast<uint16_t>(a.se ^ 0x8000)};
      case 2: return {a.sig ^ (Bits() & 0xFFFFF), static_cast<uint16_t>(a.se + (Bits() % 130) - 65)};
      case 3: return Normal(a.se & 0x7FFF);
      case 4: return {a.sig, static_cast<uint16_t>(a.se + (Bits() % 3) - 1)};
      default: return Next();
    }
  }

  uint64_t Bits() { return rng_(); }

 private:
  Value Normal(int exp) {
    return {Bits() | (uint64_t{1} << 63), static_cast<uint16_t>((Bits() & 0x8000) | (exp & 0x7FFF))};
  }
  Value Make(uint64_t cls) {
    const uint16_t sign = Bits() & 0x8000;
    switch (cls) {
      case 0:
      case 1: return Normal(1 + Bits() % 0x7FFE);
      case 2:
      case 3: return Normal(16383 - 70 + Bits() % 140);
      case 4: {  // a tie at 24, 53 or 64 bits, or a step beside one
        const int cut = (int[]){40, 11, 1}[Bits() % 3];
        uint64_t sig = (Bits() | (uint64_t{1} << 63)) & ~((uint64_t{1} << cut) - 1);
        sig |= uint64_t{1} << (cut - 1);
        sig += (Bits() % 3) - 1;
        return {sig, static_cast<uint16_t>(sign | (16383 - 4 + Bits() % 8))};
      }
      case 5: {  // near a whole number or a half, up to 2^66
        const int whole = static_cast<int>(Bits() % 67);
        uint64_t sig = (Bits() | (uint64_t{1} << 63));
        if (whole < 63) {
          const uint64_t fraction = (uint64_t{1} << (63 - whole)) - 1;
          const uint64_t kinds[] = {0, fraction >> 1, (fraction >> 1) + 1, fraction};
          sig = (sig & ~fraction) | kinds[Bits() % 4];
          sig += (Bits() % 3) - 1;
          sig |= uint64_t{1} << 63;
        }
        return {sig, static_cast<uint16_t>(sign | (16383 + whole))};
      }
      case 6: return Normal(0x7FFE - Bits() % 70);  // huge
      case 7: return Normal(1 + Bits() % 70);       // tiny
      case 8: return {Bits() >> (1 + Bits() % 63), sign};  // denormal
      case 9: return {Bits() | (uint64_t{1} << 63), sign};  // pseudo-denormal
      case 10: return {0, sign};
      case 11: return {uint64_t{1} << 63, static_cast<uint16_t>(sign | 0x7FFF)};
      case 12: return {(Bits() | (uint64_t{3} << 62)), static_cast<uint16_t>(sign | 0x7FFF)};  // quiet NaN
      case 13: {  // signalling NaN
        uint64_t sig = (Bits() & ~(uint64_t{1} << 62)) | (uint64_t{1} << 63);
        if ((sig << 1) == 0) sig |= 1;
        return {sig, static_cast<uint16_t>(sign | 0x7FFF)};
      }
      case 14: return {uint64_t{1} << (Bits() % 64), static_cast<uint16_t>(sign | (16383 + Bits() % 64))};
      default:  // an unnormal or a pseudo-infinity / pseudo-NaN
        return {Bits() >> 1, static_cast<uint16_t>(sign | (Bits() % 2 ? 0x7FFF : 1 + Bits() % 0x7FFE))};
    }
  }
  std::mt19937_64 rng_;
};

// Control words of every rounding and precision (the reserved precision
// too), all exceptions masked.
uint16_t ControlWord(uint64_t bits) {
  const uint16_t precision[] = {0x000, 0x100, 0x200, 0x300};
  return static_cast<uint16_t>(0x103F | precision[bits % 4] | (((bits / 4) % 4) << 10));
}

std::string Describe(Op op, Value a, Value b, uint16_t cw, const Outcome& hw, const Outcome& sw) {
  char line[320];
  std::snprintf(line, sizeof line,
                "%s cw %04X a %04X:%016llX b %04X:%016llX: unit %04X:%016llX i %lld flags %02X, "
                "software %04X:%016llX i %lld flags %02X",
                kOpNames[static_cast<int>(op)], cw, a.se, static_cast<unsigned long long>(a.sig), b.se,
                static_cast<unsigned long long>(b.sig), hw.v.se, static_cast<unsigned long long>(hw.v.sig),
                static_cast<long long>(hw.i), hw.flags, sw.v.se, static_cast<unsigned long long>(sw.v.sig),
                static_cast<long long>(sw.i), sw.flags);
  return line;
}

TEST(X87Soft, EveryOperationAgreesWithTheUnit) {
  const bool long_mode = std::getenv("AGG_LONG_X87SOFT") != nullptr;
  const uint64_t cases = long_mode ? 1000000000ull : 1000000ull;
  Operands gen(0x5eed87);
  uint64_t mismatches = 0;
  uint64_t perOp[static_cast<int>(Op::kCount)] = {};
  for (uint64_t n = 0; n < cases; ++n) {
    const Op op = static_cast<Op>(gen.Bits() % static_cast<uint64_t>(Op::kCount));
    const uint16_t cw = ControlWord(gen.Bits());
    const Value a = gen.Next();
    const Value b = gen.Bits() % 2 ? gen.Near(a) : gen.Next();
    const Outcome hw = OnUnit(op, a, b, cw);
    const Outcome sw = InSoftware(op, a, b, cw);
    ++perOp[static_cast<int>(op)];
    if (!(hw == sw)) {
      if (++mismatches <= 20) ADD_FAILURE() << Describe(op, a, b, cw, hw, sw);
    }
  }
  EXPECT_EQ(mismatches, 0u) << "of " << cases;
  for (uint64_t c : perOp) EXPECT_GT(c, cases / 20) << "every operation is drawn";
}

// Edge cases by hand, the ones a random draw meets seldom.
TEST(X87Soft, EdgeCasesAgreeWithTheUnit) {
  const Value one{uint64_t{1} << 63, 16383};
  const Value maxFinite{~uint64_t{0}, 0x7FFE};
  const Value minNormal{uint64_t{1} << 63, 1};
  const Value maxDenormal{~uint64_t{0} >> 1, 0};
  const Value smallest{1, 0};
  const Value half{uint64_t{1} << 63, 16382};
  const Value values[] = {one, xs::Negate(one), maxFinite, xs::Negate(maxFinite), minNormal, maxDenormal,
                          smallest, half, {0, 0}, {0, 0x8000}, {uint64_t{1} << 63, 0x7FFF},
                          {uint64_t{3} << 62, 0xFFFF}, {(uint64_t{1} << 63) | 1, 0x7FFF},
                          {0xC000000000000001u, 0x7FFF}, {0x8000000000000001u, 0x7FFF},
                          {uint64_t{1} << 63, 16383 + 31}, {uint64_t{1} << 63, 16383 + 63},
                          {0xFFFFFFFF00000000u, 16383 + 31}, {0xFFFF000000000000u, 16383 + 15}};
  int mismatches = 0;
  for (int op = 0; op < static_cast<int>(Op::kCount); ++op)
    for (uint64_t c = 0; c < 16; ++c)
      for (Value a : values)
        for (Value b : values) {
          const uint16_t cw = ControlWord(c);
          const Outcome hw = OnUnit(static_cast<Op>(op), a, b, cw);
          const Outcome sw = InSoftware(static_cast<Op>(op), a, b, cw);
          if (!(hw == sw) && ++mismatches <= 20) ADD_FAILURE() << Describe(static_cast<Op>(op), a, b, cw, hw, sw);
        }
  EXPECT_EQ(mismatches, 0);
}

// The generator's real path, Random's sum of three quotients, its fraction
// and the scaled whole part, in software against the unit, at states of
// every kind (random ones, and ones whose sum lies next to a whole number,
// where the near-integer decisions fall).
TEST(X87Soft, TheGeneratorsRealPathAgreesWithTheUnit) {
  constexpr uint32_t kMod[3] = {500009u, 600011u, 765241u};
  const int32_t bounds[] = {1, 2, 3, 7, 63, 64, 1000, 3600, 65536, 1000003, 0x7FFFFFFF};
  std::mt19937_64 rng(0x6e4);
  const uint16_t cw = 0x133F;
  const uint16_t saved = 0x037F;
  int mismatches = 0;
  for (int i = 0; i < 200000; ++i) {
    uint32_t st[3];
    for (int s = 0; s < 3; ++s) st[s] = static_cast<uint32_t>(rng() % kMod[s]);
    if (i % 2) {
      // c chosen so that a/M1 + b/M2 + c/M3 lands within a step of a whole number.
      const double partial = static_cast<double>(st[0]) / kMod[0] + static_cast<double>(st[1]) / kMod[1];
      const double want = std::ceil(partial) - partial;
      st[2] = static_cast<uint32_t>(want * kMod[2] + static_cast<double>(rng() % 3) - 1.0) % kMod[2];
    }
    const int32_t n = bounds[rng() % (sizeof bounds / sizeof bounds[0])];
    // The unit.
    asm volatile("fldcw %0" : : "m"(cw));
    volatile long double va = st[0], vb = st[1], vc = st[2], vn = n;
    long double sum = va / 500009.0L;
    sum = sum + vb / 600011.0L;
    sum = sum + vc / 765241.0L;
    if (sum >= 2.0L) sum = sum - 2.0L;
    else if (sum >= 1.0L) sum = sum - 1.0L;
    const long double scaled = sum * vn;
    int64_t whole;
    const uint16_t truncating = cw | 0x0C00;
    asm volatile("fldcw %1\n\tfistpll %0\n\tfldcw %2" : "=m"(whole) : "m"(truncating), "m"(cw), "t"(scaled) : "st");
    asm volatile("fldcw %0" : : "m"(saved));
    // The software.
    xs::Env env{cw, 0};
    auto of = [](long double v) { return Sw(v); };
    Value s = xs::Div(env, xs::FromInt64(st[0]), of(500009.0L));
    s = xs::Add(env, s, xs::Div(env, xs::FromInt64(st[1]), of(600011.0L)));
    s = xs::Add(env, s, xs::Div(env, xs::FromInt64(st[2]), of(765241.0L)));
    if (xs::Compare(env, s, of(2.0L), false) != xs::Order::Less) s = xs::Sub(env, s, of(2.0L));
    else if (xs::Compare(env, s, of(1.0L), false) != xs::Order::Less) s = xs::Sub(env, s, of(1.0L));
    const Value sc = xs::Mul(env, s, xs::FromInt64(n));
    const int64_t w = xs::ToInt(env, sc, 64, xs::kTowardZero);
    if (!(Sw(sum) == s) || !(Sw(scaled) == sc) || whole != w) {
      if (++mismatches <= 10)
        ADD_FAILURE() << "states " << st[0] << " " << st[1] << " " << st[2] << " n " << n << ": unit " << whole
                      << ", software " << w;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace

#endif
