// The x87's extended arithmetic in software; see x87soft.h.  Every finite
// result goes through one rounding routine, RoundPack, which takes the
// exact result (or the exact result's leading 127 bits and a sticky bit) as
// a 128-bit significand and an unbounded exponent.
#include "runtime/x87soft.h"

namespace sys::x87soft {

namespace {

using U128 = unsigned __int128;

constexpr int32_t kBias = 16383;
constexpr int32_t kMaxExp = 0x7FFF;

enum class Kind : uint8_t { Zero, Finite, Inf, QNaN, SNaN, Unsupported };

// An operand taken apart: a finite one with its significand normalised
// (bit 63 set) and the exponent that goes with it, below 1 for a denormal.
struct Parts {
  bool sign;
  bool denormal;
  Kind kind;
  int32_t exp;
  uint64_t sig;
};

int Clz64(uint64_t v) { return __builtin_clzll(v); }

int Clz128(U128 v) {
  const uint64_t hi = static_cast<uint64_t>(v >> 64);
  return hi != 0 ? Clz64(hi) : 64 + Clz64(static_cast<uint64_t>(v));
}

Parts Unpack(Value v) {
  Parts p{static_cast<bool>(v.se >> 15), false, Kind::Finite, v.se & 0x7FFF, v.sig};
  const bool integerBit = v.sig >> 63;
  if (p.exp == kMaxExp) {
    // An infinity or NaN without the integer bit (a pseudo-infinity or
    // pseudo-NaN) is an encoding the unit no longer supports.
    if (!integerBit) p.kind = Kind::Unsupported;
    else if ((v.sig << 1) == 0) p.kind = Kind::Inf;
    else p.kind = (v.sig >> 62) & 1 ? Kind::QNaN : Kind::SNaN;
  } else if (p.exp == 0) {
    if (v.sig == 0) {
      p.kind = Kind::Zero;
    } else {
      // A denormal, or a pseudo-denormal (integer bit set), which counts as
      // exponent 1 as well.
      p.denormal = true;
      const int shift = Clz64(v.sig);
      p.sig = v.sig << shift;
      p.exp = 1 - shift;
    }
  } else if (!integerBit) {
    p.kind = Kind::Unsupported;  // an unnormal
  }
  return p;
}

bool IsNaNKind(Kind k) { return k == Kind::QNaN || k == Kind::SNaN; }

Value Pack(bool sign, int32_t exp, uint64_t sig) {
  return {sig, static_cast<uint16_t>((sign ? 0x8000 : 0) | exp)};
}
Value Zero(bool sign) { return Pack(sign, 0, 0); }
Value Infinity(bool sign) { return Pack(sign, kMaxExp, uint64_t{1} << 63); }
Value Quiet(Value v) { return {v.sig | (uint64_t{1} << 62), v.se}; }

Value Invalid(Env& env) {
  env.sw |= kInvalid;
  return kIndefinite;
}

int Rounding(const Env& env) { return (env.cw >> 10) & 3; }

// Significand bits kept under the precision field: 24, 53 or 64; the
// reserved value 1 gives 64 on the units the tests have met.
int PrecisionBits(const Env& env) {
  switch ((env.cw >> 8) & 3) {
    case 0: return 24;
    case 2: return 53;
    default: return 64;
  }
}

// A NaN operand's result: the unit delivers a quiet NaN, the quiet one when
// one of two NaNs is signalling, the one with the larger significand when
// both are alike.  A signalling operand is invalid.
Value PropagateNaN(Env& env, const Parts& pa, Value a, const Parts& pb, Value b) {
  if (pa.kind == Kind::SNaN || pb.kind == Kind::SNaN) env.sw |= kInvalid;
  if (!IsNaNKind(pb.kind)) return Quiet(a);
  if (!IsNaNKind(pa.kind)) return Quiet(b);
  if (pa.kind != pb.kind) return pa.kind == Kind::QNaN ? a : b;
  const uint64_t ma = a.sig | (uint64_t{1} << 62), mb = b.sig | (uint64_t{1} << 62);
  if (ma != mb) return Quiet(ma > mb ? a : b);
  return Quiet((a.se & 0x8000) == 0 ? a : b);
}

U128 ShiftRightJam(U128 m, int32_t count) {
  if (count <= 0) return m;
  if (count >= 128) return m != 0 ? 1 : 0;
  const U128 lost = m & ((U128{1} << count) - 1);
  return (m >> count) | (lost != 0 ? 1 : 0);
}

// Rounds sign * m * 2^(exp - kBias - 127), m with bit 127 set, to the
// control word's precision and rounding, and packs it.  Tininess is judged
// after rounding, as on the unit: a result that rounds (with an unbounded
// exponent) to the least normal is not tiny.
Value RoundPack(Env& env, bool sign, int32_t exp, U128 m) {
  const int bits = PrecisionBits(env);
  const int rc = Rounding(env);
  const U128 unit = U128{1} << (128 - bits);
  const U128 roundMask = unit - 1;
  const U128 half = unit >> 1;

  auto increments = [&](U128 v) {
    const U128 rest = v & roundMask;
    if (rest == 0) return false;
    switch (rc) {
      case kNearest: return rest > half || (rest == half && (v & unit) != 0);
      case kUp: return !sign;
      case kDown: return sign;
      default: return false;
    }
  };

  bool tiny = false;
  if (exp <= 0) {
    // With an unbounded exponent only a carry out of the top bit, at
    // exponent 0, reaches the least normal.
    const bool carries = (m | roundMask) == ~U128{0} && increments(m);
    tiny = !(exp == 0 && carries);
    m = ShiftRightJam(m, 1 - exp);
    exp = 0;
  }
  const bool inexact = (m & roundMask) != 0;
  if (tiny && (inexact || !(env.cw & kUnderflow))) env.sw |= kUnderflow;
  if (inexact) env.sw |= kInexact;
  const bool up = increments(m);
  m &= ~roundMask;
  if (up) {
    m += unit;
    if (m == 0) {  // carried out of the top
      m = U128{1} << 127;
      ++exp;
    }
  }
  // A denormal that rounded up to the least normal.
  if (exp == 0 && (m >> 127) != 0) exp = 1;
  if (exp >= kMaxExp) {
    env.sw |= kOverflow | kInexact;
    const bool toInfinity = rc == kNearest || (rc == kUp && !sign) || (rc == kDown && sign);
    if (toInfinity) return Infinity(sign);
    return Pack(sign, kMaxExp - 1, static_cast<uint64_t>(~roundMask >> 64));
  }
  return Pack(sign, exp, static_cast<uint64_t>(m >> 64));
}

// |a| + |b| or |a| - |b| of two finite non-zero operands, signed.
Value AddMagnitudes(Env& env, bool sign, Parts a, Parts b) {
  if (a.exp < b.exp) {
    const Parts t = a;
    a = b, b = t;
  }
  const U128 ma = U128{a.sig} << 64;
  const U128 mb = ShiftRightJam(U128{b.sig} << 64, a.exp - b.exp);
  U128 sum = ma + mb;
  int32_t exp = a.exp;
  if (sum < ma) {
    sum = (sum >> 1) | (sum & 1) | (U128{1} << 127);
    ++exp;
  }
  return RoundPack(env, sign, exp, sum);
}

Value SubMagnitudes(Env& env, bool signA, Parts a, bool signB, Parts b) {
  bool sign = signA;
  if (a.exp < b.exp || (a.exp == b.exp && a.sig < b.sig)) {
    const Parts t = a;
    a = b, b = t;
    sign = signB;
  }
  if (a.exp == b.exp && a.sig == b.sig) return Zero(Rounding(env) == kDown);
  const U128 ma = U128{a.sig} << 64;
  const U128 mb = ShiftRightJam(U128{b.sig} << 64, a.exp - b.exp);
  U128 diff = ma - mb;
  const int shift = Clz128(diff);
  diff <<= shift;
  return RoundPack(env, sign, a.exp - shift, diff);
}

Value AddSigned(Env& env, Value va, Value vb, bool negateB) {
  const Parts a = Unpack(va), b = Unpack(vb);
  if (a.kind == Kind::Unsupported || b.kind == Kind::Unsupported) return Invalid(env);
  if (IsNaNKind(a.kind) || IsNaNKind(b.kind)) return PropagateNaN(env, a, va, b, vb);
  const bool signB = b.sign != negateB;
  if (a.kind == Kind::Inf || b.kind == Kind::Inf) {
    if (a.kind == Kind::Inf && b.kind == Kind::Inf && a.sign != signB) return Invalid(env);
    if (a.denormal || b.denormal) env.sw |= kDenormal;
    return Infinity(a.kind == Kind::Inf ? a.sign : signB);
  }
  if (a.denormal || b.denormal) env.sw |= kDenormal;
  if (a.kind == Kind::Zero && b.kind == Kind::Zero)
    return Zero(a.sign == signB ? a.sign : Rounding(env) == kDown);
  if (a.kind == Kind::Zero) return RoundPack(env, signB, b.exp, U128{b.sig} << 64);
  if (b.kind == Kind::Zero) return RoundPack(env, a.sign, a.exp, U128{a.sig} << 64);
  if (a.sign == signB) return AddMagnitudes(env, a.sign, a, b);
  return SubMagnitudes(env, a.sign, a, signB, b);
}

// The whole part of m * 2^-fractionBits in the given rounding, and
// whether anything was dropped.
U128 RoundMagnitude(U128 m, int32_t fractionBits, bool sign, int rc, bool& inexact) {
  if (fractionBits <= 0) {
    inexact = false;
    return m;  // callers keep fractionBits >= 0
  }
  U128 whole, rest, half;
  bool restAboveHalf, restIsHalf;
  if (fractionBits >= 128) {
    whole = 0;
    rest = m;
    // The callers' m is below 2^64, far below half of 2^fractionBits.
    restAboveHalf = false;
    restIsHalf = false;
  } else {
    whole = m >> fractionBits;
    rest = m & ((U128{1} << fractionBits) - 1);
    half = U128{1} << (fractionBits - 1);
    restAboveHalf = rest > half;
    restIsHalf = rest == half;
  }
  inexact = rest != 0;
  if (!inexact) return whole;
  bool up = false;
  switch (rc) {
    case kNearest: up = restAboveHalf || (restIsHalf && (whole & 1) != 0); break;
    case kUp: up = !sign; break;
    case kDown: up = sign; break;
    default: break;
  }
  return whole + (up ? 1 : 0);
}

Value FromMagnitude(bool sign, U128 whole) {
  if (whole == 0) return Zero(sign);
  const int lead = 127 - Clz128(whole);  // whole < 2^65
  const U128 m = whole << (127 - lead);
  return Pack(sign, kBias + lead, static_cast<uint64_t>(m >> 64));
}

}  // namespace

Value Add(Env& env, Value a, Value b) { return AddSigned(env, a, b, false); }

Value Sub(Env& env, Value a, Value b) { return AddSigned(env, a, b, true); }

Value Mul(Env& env, Value va, Value vb) {
  const Parts a = Unpack(va), b = Unpack(vb);
  if (a.kind == Kind::Unsupported || b.kind == Kind::Unsupported) return Invalid(env);
  if (IsNaNKind(a.kind) || IsNaNKind(b.kind)) return PropagateNaN(env, a, va, b, vb);
  const bool sign = a.sign != b.sign;
  if (a.kind == Kind::Inf || b.kind == Kind::Inf) {
    if (a.kind == Kind::Zero || b.kind == Kind::Zero) return Invalid(env);
    if (a.denormal || b.denormal) env.sw |= kDenormal;
    return Infinity(sign);
  }
  if (a.denormal || b.denormal) env.sw |= kDenormal;
  if (a.kind == Kind::Zero || b.kind == Kind::Zero) return Zero(sign);
  U128 m = U128{a.sig} * b.sig;
  int32_t exp = a.exp + b.exp - (kBias - 1);
  if ((m >> 127) == 0) {
    m <<= 1;
    --exp;
  }
  return RoundPack(env, sign, exp, m);
}

Value Div(Env& env, Value va, Value vb) {
  const Parts a = Unpack(va), b = Unpack(vb);
  if (a.kind == Kind::Unsupported || b.kind == Kind::Unsupported) return Invalid(env);
  if (IsNaNKind(a.kind) || IsNaNKind(b.kind)) return PropagateNaN(env, a, va, b, vb);
  const bool sign = a.sign != b.sign;
  if (a.kind == Kind::Inf) {
    if (b.kind == Kind::Inf) return Invalid(env);
    if (b.denormal) env.sw |= kDenormal;
    return Infinity(sign);
  }
  if (b.kind == Kind::Inf) {
    if (a.denormal) env.sw |= kDenormal;
    return Zero(sign);
  }
  if (b.kind == Kind::Zero) {
    if (a.kind == Kind::Zero) return Invalid(env);
    // Division by zero ranks above a denormal operand, which it hides.
    env.sw |= kZeroDivide;
    return Infinity(sign);
  }
  if (a.denormal || b.denormal) env.sw |= kDenormal;
  if (a.kind == Kind::Zero) return Zero(sign);
  // Two 64-bit digits of the quotient: sigA * 2^63 / sigB lies in
  // (2^62, 2^64), and its remainder, brought down a digit, gives 64 more.
  const U128 n = U128{a.sig} << 63;
  const U128 q1 = n / b.sig;
  const U128 r1 = n % b.sig;
  const U128 n2 = r1 << 64;
  const U128 q2 = n2 / b.sig;
  const U128 r2 = n2 % b.sig;
  U128 m = (q1 << 64) | q2 | (r2 != 0 ? 1 : 0);
  int32_t exp = a.exp - b.exp + kBias;
  if ((m >> 127) == 0) {
    m <<= 1;
    --exp;
  }
  return RoundPack(env, sign, exp, m);
}

Value Sqrt(Env& env, Value va) {
  const Parts a = Unpack(va);
  if (a.kind == Kind::Unsupported) return Invalid(env);
  if (a.kind == Kind::SNaN) {
    env.sw |= kInvalid;
    return Quiet(va);
  }
  if (a.kind == Kind::QNaN || a.kind == Kind::Zero) return va;
  if (a.sign) return Invalid(env);
  if (a.kind == Kind::Inf) return va;
  if (a.denormal) env.sw |= kDenormal;
  // sig * 2^(e - 63) with e - 63 - t even, t 63 or 64: the root of
  // x = sig * 2^t, in [2^126, 2^128), is below 2^64, and its remainder
  // decides the bits beyond (a square root is never a half-way case).
  const int32_t e = a.exp - kBias;
  const int t = ((e - 63 - 63) % 2 == 0) ? 63 : 64;
  const U128 x = U128{a.sig} << t;
  // Digit by digit, two bits of x a step.
  U128 rem = 0, root = 0;
  for (int i = 126; i >= 0; i -= 2) {
    rem = (rem << 2) | ((x >> i) & 3);
    const U128 trial = (root << 2) | 1;
    root <<= 1;
    if (rem >= trial) {
      rem -= trial;
      root |= 1;
    }
  }
  U128 m = root << 64;
  if (rem > root) m |= (U128{1} << 63) | 1;  // past the half
  else if (rem != 0) m |= 1;
  const int32_t exp = (e - 63 - t) / 2 + kBias + 127 - 64;
  return RoundPack(env, false, exp, m);
}

Value RoundToInt(Env& env, Value va) {
  const Parts a = Unpack(va);
  if (a.kind == Kind::Unsupported) return Invalid(env);
  if (a.kind == Kind::SNaN) {
    env.sw |= kInvalid;
    return Quiet(va);
  }
  if (a.kind != Kind::Finite) return va;
  if (a.denormal) env.sw |= kDenormal;
  const int32_t fractionBits = kBias + 63 - a.exp;
  if (fractionBits <= 0) return va;
  bool inexact = false;
  const U128 whole = RoundMagnitude(U128{a.sig}, fractionBits, a.sign, Rounding(env), inexact);
  if (inexact) env.sw |= kInexact;
  return FromMagnitude(a.sign, whole);
}

Order Compare(Env& env, Value va, Value vb, bool quiet) {
  const Parts a = Unpack(va), b = Unpack(vb);
  if (a.kind == Kind::Unsupported || b.kind == Kind::Unsupported) {
    env.sw |= kInvalid;
    return Order::Unordered;
  }
  if (IsNaNKind(a.kind) || IsNaNKind(b.kind)) {
    if (!quiet || a.kind == Kind::SNaN || b.kind == Kind::SNaN) env.sw |= kInvalid;
    return Order::Unordered;
  }
  if (a.denormal || b.denormal) env.sw |= kDenormal;
  if (a.kind == Kind::Zero && b.kind == Kind::Zero) return Order::Equal;
  // Magnitudes as (class, exponent, significand), in that order.
  auto key = [](const Parts& p, int32_t& exp, uint64_t& sig) {
    if (p.kind == Kind::Zero) exp = INT32_MIN, sig = 0;
    else if (p.kind == Kind::Inf) exp = INT32_MAX, sig = 0;
    else exp = p.exp, sig = p.sig;
  };
  int32_t ea, eb;
  uint64_t sa, sb;
  key(a, ea, sa);
  key(b, eb, sb);
  const bool negA = a.kind != Kind::Zero && a.sign, negB = b.kind != Kind::Zero && b.sign;
  if (negA != negB) return negA ? Order::Less : Order::Greater;
  int c = ea != eb ? (ea < eb ? -1 : 1) : sa != sb ? (sa < sb ? -1 : 1) : 0;
  if (negA) c = -c;
  return c < 0 ? Order::Less : c > 0 ? Order::Greater : Order::Equal;
}

Value FromInt64(int64_t v) {
  const bool sign = v < 0;
  const uint64_t mag = sign ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  return FromMagnitude(sign, mag);
}

int64_t ToInt(Env& env, Value va, int bits, int rounding) {
  const int64_t indefinite = static_cast<int64_t>(~uint64_t{0} << (bits - 1));
  const Parts a = Unpack(va);
  if (a.kind == Kind::Unsupported || a.kind == Kind::Inf || IsNaNKind(a.kind)) {
    env.sw |= kInvalid;
    return indefinite;
  }
  if (a.kind == Kind::Zero) return 0;
  const int32_t fractionBits = kBias + 63 - a.exp;
  // Beyond 2^64 no width fits.
  if (fractionBits < 0) {
    env.sw |= kInvalid;
    return indefinite;
  }
  bool inexact = false;
  const U128 whole = RoundMagnitude(U128{a.sig}, fractionBits, a.sign, rounding, inexact);
  const U128 limit = (U128{1} << (bits - 1)) - (a.sign ? 0 : 1);
  if (whole > limit) {
    env.sw |= kInvalid;
    return indefinite;
  }
  if (inexact) env.sw |= kInexact;
  const uint64_t mag = static_cast<uint64_t>(whole);
  return a.sign ? static_cast<int64_t>(0 - mag) : static_cast<int64_t>(mag);
}

}  // namespace sys::x87soft
