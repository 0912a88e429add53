// Checked integer arithmetic of the programs: every signed 32-bit addition,
// subtraction and multiplication is tested for overflow (215), every store
// into a narrower destination for range (201), every division for its
// divisor (200).  A passing check costs a
// compare and a not-taken branch; the failing path is one cold call, so the
// error address is the instruction after the check in the routine that
// holds it.
#pragma once

#include <cstdint>

#include "runtime/system.h"

namespace sys {

struct RangeRecord {
  int32_t Low;
  int32_t High;
};
inline constexpr RangeRecord RangeInt16{-32768, 32767};
inline constexpr RangeRecord RangeWord{0, 65535};

[[gnu::always_inline]] inline int32_t AddChecked(int32_t a, int32_t b) {
  int32_t r;
  if (__builtin_add_overflow(a, b, &r)) [[unlikely]]
    Int_Overflow();
  return r;
}

[[gnu::always_inline]] inline int32_t SubChecked(int32_t a, int32_t b) {
  int32_t r;
  if (__builtin_sub_overflow(a, b, &r)) [[unlikely]]
    Int_Overflow();
  return r;
}

[[gnu::always_inline]] inline int32_t MulChecked(int32_t a, int32_t b) {
  int32_t r;
  if (__builtin_mul_overflow(a, b, &r)) [[unlikely]]
    Int_Overflow();
  return r;
}

// Division and remainder: a zero divisor, and the least value by -1 (its
// quotient does not fit), are run-time error 200.  x86 traps on both and the
// fault hook reports the division instruction itself, so there the
// division is left plain and costs nothing more.  s390x traps on a zero
// divisor but divides 32-bit values in 64 bits, where the least by -1 fits;
// arm64 traps on neither (a zero divisor gives 0).  What the processor does
// not trap on is checked here, and reported just after the check's call,
// in the same routine as on x86.
#if defined(__x86_64__) || defined(__i386__)
inline constexpr bool kZeroDivisorTraps = true, kQuotientOverflowTraps = true;
#elif defined(__s390x__)
inline constexpr bool kZeroDivisorTraps = true, kQuotientOverflowTraps = false;
#else
inline constexpr bool kZeroDivisorTraps = false, kQuotientOverflowTraps = false;
#endif

[[gnu::always_inline]] inline void Int_DivisorCheck(int32_t a, int32_t b) {
  if ((!kZeroDivisorTraps && b == 0) || (!kQuotientOverflowTraps && b == -1 && a == INT32_MIN)) [[unlikely]]
    Int_DivByZero();
}

[[gnu::always_inline]] inline int32_t DivChecked(int32_t a, int32_t b) {
  Int_DivisorCheck(a, b);
  return a / b;
}

[[gnu::always_inline]] inline int32_t ModChecked(int32_t a, int32_t b) {
  Int_DivisorCheck(a, b);
  return a % b;
}

[[gnu::always_inline]] inline void Int_BoundCheck(int32_t value, const RangeRecord& range) {
  if (value < range.Low || value > range.High) [[unlikely]]
    Int_RangeError();
}

// Range-checked narrowing stores.
[[gnu::always_inline]] inline int16_t ToInt16(int32_t v) {
  Int_BoundCheck(v, RangeInt16);
  return static_cast<int16_t>(v);
}

[[gnu::always_inline]] inline uint16_t ToWord(int32_t v) {
  Int_BoundCheck(v, RangeWord);
  return static_cast<uint16_t>(v);
}

// A 64-bit conversion result narrowed to 16 bits: the high half must be
// zero, then the low half is range-checked as a signed 32-bit value.
[[gnu::always_inline]] inline uint16_t Int64ToWord(int64_t v) {
  if (static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32) != 0) [[unlikely]]
    Int_RangeError();
  return ToWord(static_cast<int32_t>(static_cast<uint32_t>(v)));
}

}  // namespace sys
