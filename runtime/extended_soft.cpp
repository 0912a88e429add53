// The software extended type's run-time side: the unit's state (control
// and status word, one per thread as on the processor), its operations with
// the faults of the control word's unmasked exceptions, the conversions of
// convert.cpp, and Cos and Sin.  Built only where the type is the
// software one.
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "runtime/faults.h"
#include "runtime/frames.h"
#include "runtime/system.h"

#if AGG_SOFT_EXTENDED

namespace sys {

namespace {

namespace xs = x87soft;
using xs::Value;

thread_local xs::Env Unit;

// The unmasked exceptions pending, by the unit's priority, as the fault
// hook numbers them; the unit's state then starts afresh, as after a fault
// of the unit itself.
[[noreturn, gnu::noinline, gnu::cold]] void Raise(uint16_t pending, const void* addr, void* frame) {
  const int n = pending & xs::kInvalid      ? 207
                : pending & xs::kDenormal   ? 216
                : pending & xs::kZeroDivide ? 200
                : pending & xs::kOverflow   ? 205
                : pending & xs::kUnderflow  ? 206
                                            : 0;
  if (n == 0) {
    // An unmasked precision fault is not one of the system's: as the
    // fault hook does with the unit's, it is left to the system.
    os::RunProcessEndHooks();
    std::signal(SIGFPE, SIG_DFL);
    std::raise(SIGFPE);
    std::abort();
  }
  ResetFloatingUnit();
  SetFPUControlWord(FPUCW);
  HandleErrorAddrFrame(n, addr, frame);
}

}  // namespace

// The end of each operation: an unmasked exception is a fault reported just
// after the operation's call, in its caller's frame.
#define AGG_SOFT_DONE(result)                                                                       \
  do {                                                                                              \
    const auto done = (result);                                                                     \
    if (const uint16_t pending = Unit.sw & ~Unit.cw & xs::kAllFlags) [[unlikely]]                   \
      Raise(pending, __builtin_return_address(0), frames::Caller(__builtin_frame_address(0)));      \
    return done;                                                                                    \
  } while (0)

namespace soft {

Value Add(Value a, Value b) { AGG_SOFT_DONE(xs::Add(Unit, a, b)); }
Value Sub(Value a, Value b) { AGG_SOFT_DONE(xs::Sub(Unit, a, b)); }
Value Mul(Value a, Value b) { AGG_SOFT_DONE(xs::Mul(Unit, a, b)); }
Value Div(Value a, Value b) { AGG_SOFT_DONE(xs::Div(Unit, a, b)); }
Value Sqrt(Value a) { AGG_SOFT_DONE(xs::Sqrt(Unit, a)); }
xs::Order Ordered(Value a, Value b) { AGG_SOFT_DONE(xs::Compare(Unit, a, b, false)); }
xs::Order Unordered(Value a, Value b) { AGG_SOFT_DONE(xs::Compare(Unit, a, b, true)); }
int64_t Truncate(Value a) { AGG_SOFT_DONE(xs::ToInt(Unit, a, 64, xs::kTowardZero)); }

namespace {

// Cosine or sine: the unit's own results for the launch angles; elsewhere
// the platform's long double function rounded to 64 bits (which on x86 is
// the unit's instruction again).  An argument of 2^63 or more is left as
// it is, as the unit leaves it.
Value Trig(Value a, bool sine) {
  const int exp = a.se & 0x7FFF;
  if (exp == 0x7FFF) {
    if ((a.sig << 1) == 0 || !(a.sig >> 63)) {
      Unit.sw |= xs::kInvalid;
      return xs::kIndefinite;
    }
    if (!((a.sig >> 62) & 1)) Unit.sw |= xs::kInvalid;
    return {a.sig | (uint64_t{1} << 62), a.se};
  }
  if (exp >= 16383 + 63) return a;
  Value c, s;
  if (((Unit.cw >> 10) & 3) == xs::kNearest && LaunchTrig(a, c, s)) {
    if (exp != 0 || a.sig != 0) Unit.sw |= xs::kInexact;
    return sine ? s : c;
  }
  if (exp == 0 && a.sig != 0) Unit.sw |= xs::kDenormal;
  const long double x = ToLongDouble(a);
  const long double r = sine ? std::sin(x) : std::cos(x);
  Unit.sw |= xs::kInexact;
  return Extended(r).Bits();
}

}  // namespace

Value Cos(Value a) { AGG_SOFT_DONE(Trig(a, false)); }
Value Sin(Value a) { AGG_SOFT_DONE(Trig(a, true)); }

double ToDouble(Value a) {
  // Rounded to 53 bits under the control word's rounding, in a scratch
  // state: the unit's fst flags are not the programs' business.
  xs::Env env{static_cast<uint16_t>((Unit.cw & 0x0C00) | 0x023F), 0};
  const Value r = xs::Add(env, a, Value{0, static_cast<uint16_t>(a.se & 0x8000)});
  const int exp = r.se & 0x7FFF;
  const double sign = (r.se & 0x8000) ? -1.0 : 1.0;
  if (exp == 0x7FFF) return (r.sig << 1) == 0 ? sign * HUGE_VAL : std::nan("");
  if (r.sig == 0) return sign * 0.0;
  return sign * std::ldexp(static_cast<double>(r.sig >> 11), exp - 16383 - 52);
}

long double ToLongDouble(Value a) {
#if defined(__x86_64__) || defined(__i386__)
  long double x = 0;
  std::memcpy(&x, &a.sig, 8);
  std::memcpy(reinterpret_cast<char*>(&x) + 8, &a.se, 2);
  return x;
#else
  const int exp = a.se & 0x7FFF;
  const long double sign = (a.se & 0x8000) ? -1.0L : 1.0L;
  if (exp == 0x7FFF) return (a.sig << 1) == 0 ? sign * HUGE_VALL : std::nanl("");
  if (a.sig == 0) return sign * 0.0L;
  return sign * std::ldexp(static_cast<long double>(a.sig), (exp == 0 ? 1 : exp) - 16383 - 63);
#endif
}

}  // namespace soft

Extended frexp(Extended x, int* exp) {
  Value v = x.Bits();
  const int e = v.se & 0x7FFF;
  if (e == 0x7FFF || v.sig == 0) {
    *exp = 0;
    return x;
  }
  int biased = e == 0 ? 1 : e;
  const int shift = __builtin_clzll(v.sig);
  v.sig <<= shift;
  biased -= shift;
  *exp = biased - 16382;
  v.se = static_cast<uint16_t>((v.se & 0x8000) | 16382);
  return Extended::FromBits(v);
}

Extended ldexp(Extended x, int exp) {
  // Scaled by whole powers of two through the multiplication, which rounds
  // and flags as the unit would.
  const int step = exp > 0 ? 16000 : -16000;
  while (exp > 16000 || exp < -16000) {
    x = x * Extended::FromBits(Value{uint64_t{1} << 63, static_cast<uint16_t>(16383 + step)});
    exp -= step;
  }
  return x * Extended::FromBits(Value{uint64_t{1} << 63, static_cast<uint16_t>(16383 + exp)});
}

// ---------------------------------------------------------------- conversions

uint16_t GetFPUControlWord() { return Unit.cw; }

// As the unit keeps it: the reserved bits clear, bit 6 set.
void SetFPUControlWord(uint16_t cw) { Unit.cw = static_cast<uint16_t>((cw & 0x1F3F) | 0x0040); }

void ResetFloatingUnit() { Unit = xs::Env{}; }

namespace {
[[noreturn, gnu::noinline, gnu::cold]] void RaiseAt(int32_t n, const void* addr, void* frame) {
  HandleErrorAddrFrame(n, addr, frame);
}
}  // namespace

// As on the unit: the flags cleared before and after, invalid detected with
// its fault masked and raised as 207 at the caller.
[[gnu::noinline]] int32_t Round(Extended x) {
  xs::Env env{static_cast<uint16_t>(FPUCW | 0x0001), 0};
  const int64_t r = xs::ToInt(env, x.Bits(), 32, xs::kNearest);
  Unit.sw = 0;
  if (env.sw & xs::kInvalid) [[unlikely]]
    RaiseAt(207, __builtin_return_address(0), frames::Caller(__builtin_frame_address(0)));
  return static_cast<int32_t>(r);
}

[[gnu::noinline]] int64_t Trunc(Extended x) {
  xs::Env env{static_cast<uint16_t>(Unit.cw | 0x0C3F), 0};
  const int64_t r = xs::ToInt(env, x.Bits(), 64, xs::kTowardZero);
  Unit.sw = 0;
  if (env.sw & xs::kInvalid) [[unlikely]]
    RaiseAt(207, __builtin_return_address(0), frames::Caller(__builtin_frame_address(0)));
  return r;
}

Extended Frac(Extended x) {
  xs::Env env{static_cast<uint16_t>(Unit.cw | 0x0C3F), 0};
  const Value whole = xs::RoundToInt(env, x.Bits());
  const Value r = xs::Sub(env, x.Bits(), whole);
  Unit.sw = 0;
  return Extended::FromBits(r);
}

}  // namespace sys

#endif
