// The x87's 80-bit extended arithmetic in software: a 64-bit significand
// with an explicit integer bit, a 15-bit exponent biased by 16383, and a
// sign.  Each operation rounds as the unit's control word says (rounding
// and precision fields) and raises the unit's exception flags in a status
// word, with the unit's rules for NaNs, denormals and the encodings it does
// not support.  Nothing here faults: the operations only report flags, and
// the layer above (extended.h) decides what an unmasked one means.
//
// The routines are plain functions of their operands and an environment
// (control and status word), so that the tests can hold each of them
// against the unit itself under any control word.
#pragma once

#include <cstdint>

namespace sys::x87soft {

struct Value {
  uint64_t sig = 0;  // bit 63 is the integer bit
  uint16_t se = 0;   // sign in bit 15, biased exponent below
  friend constexpr bool operator==(Value, Value) = default;
};

// Status and mask bits, as the unit numbers them.
constexpr uint16_t kInvalid = 0x01;
constexpr uint16_t kDenormal = 0x02;
constexpr uint16_t kZeroDivide = 0x04;
constexpr uint16_t kOverflow = 0x08;
constexpr uint16_t kUnderflow = 0x10;
constexpr uint16_t kInexact = 0x20;
constexpr uint16_t kAllFlags = 0x3F;

// Rounding-control values (bits 10-11 of the control word).
constexpr int kNearest = 0, kDown = 1, kUp = 2, kTowardZero = 3;

// The control word the unit starts with (all masked, 64 bits, nearest).
constexpr uint16_t kInitialControl = 0x037F;

struct Env {
  uint16_t cw = kInitialControl;
  uint16_t sw = 0;  // sticky exception flags
};

// The unit's default NaN, the "indefinite" result of an invalid operation.
constexpr Value kIndefinite{0xC000000000000000u, 0xFFFF};

Value Add(Env& env, Value a, Value b);
Value Sub(Env& env, Value a, Value b);
Value Mul(Env& env, Value a, Value b);
Value Div(Env& env, Value a, Value b);
Value Sqrt(Env& env, Value a);
// To a whole number in the control word's rounding (frndint).
Value RoundToInt(Env& env, Value a);

enum class Order : uint8_t { Less, Equal, Greater, Unordered };
// quiet: only a signalling NaN is invalid (fucomi); otherwise any NaN is
// (fcomi, which the compiler uses for <, <=, > and >=).
Order Compare(Env& env, Value a, Value b, bool quiet);

// Exact conversion from an integer (fild).
Value FromInt64(int64_t v);
// To a signed integer of `bits` bits (16, 32 or 64) in the given rounding;
// a NaN, an infinity or a result out of range is invalid and gives the
// "integer indefinite", the most negative value (fist).
int64_t ToInt(Env& env, Value a, int bits, int rounding);

// Classification, as the layer above needs it.
constexpr bool IsNaN(Value v) { return (v.se & 0x7FFF) == 0x7FFF && (v.sig << 1) != 0; }
constexpr Value Negate(Value v) { return {v.sig, static_cast<uint16_t>(v.se ^ 0x8000)}; }

}  // namespace sys::x87soft

namespace sys::x87soft {

// The launch angles pi * n / 1800 (n from 0 to 3599) as the programs
// compute them, rounded to nearest at 64 bits, with the x87's own fcos and
// fsin of each, kept as data generated on the unit: the unit's results are
// not correctly rounded (at n = 600 its cosine is exactly 1/2), and the
// launch points depend on every bit.  True, with the unit's results, when
// `angle` is one of them.
bool LaunchTrig(Value angle, Value& cos, Value& sin);
constexpr int kLaunchAngles = 3600;

}  // namespace sys::x87soft
