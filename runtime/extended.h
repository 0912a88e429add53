// The programs' real type, 80-bit extended.  Where the processor has an
// x87 unit it is `long double` and the unit itself, the reference; where it
// has none, or the build asks for it with AGG_SOFT_EXTENDED, it is a type
// of this runtime's own with the same format, rounding, flags and faults
// (x87soft.h).  Code outside the runtime writes the same expressions for
// both: literals, the four operations, comparisons, casts to and from
// integers, Sqrt, Cos and Sin.
#pragma once

#include <cstdint>
#include <limits>
#include <type_traits>

#if !defined(AGG_SOFT_EXTENDED) && !defined(__x86_64__) && !defined(__i386__)
#define AGG_SOFT_EXTENDED 1
#endif

#if AGG_SOFT_EXTENDED
#include <bit>
#include <cstring>

#include "runtime/x87soft.h"
#endif

namespace sys {

#if !AGG_SOFT_EXTENDED

static_assert(std::numeric_limits<long double>::digits == 64,
              "all real arithmetic of the programs is 80-bit extended");

using Extended = long double;

// The unit's transcendental and root instructions, so that every build
// computes the launch point and distances alike.
inline Extended Cos(Extended a) {
  Extended r;
  asm("fcos" : "=t"(r) : "0"(a));
  return r;
}
inline Extended Sin(Extended a) {
  Extended r;
  asm("fsin" : "=t"(r) : "0"(a));
  return r;
}
inline Extended Sqrt(Extended a) {
  Extended r;
  asm("fsqrt" : "=t"(r) : "0"(a));
  return r;
}

#else

class Extended;

namespace soft {
using x87soft::Value;
// The operations under the runtime's control word, each out of line so
// that a fault it raises is reported just after its call, in the routine
// that asked for the operation.
[[gnu::noinline]] Value Add(Value a, Value b);
[[gnu::noinline]] Value Sub(Value a, Value b);
[[gnu::noinline]] Value Mul(Value a, Value b);
[[gnu::noinline]] Value Div(Value a, Value b);
[[gnu::noinline]] Value Sqrt(Value a);
[[gnu::noinline]] Value Cos(Value a);
[[gnu::noinline]] Value Sin(Value a);
// Ordered comparisons signal on any NaN, as the compiler's fcomi does;
// equality only on a signalling one (fucomi).
[[gnu::noinline]] x87soft::Order Ordered(Value a, Value b);
[[gnu::noinline]] x87soft::Order Unordered(Value a, Value b);
// Toward zero into 64 bits, as a cast does.
[[gnu::noinline]] int64_t Truncate(Value a);
// Rounded to double under the control word's rounding.
double ToDouble(Value a);
long double ToLongDouble(Value a);

constexpr Value OfMagnitude(bool negative, uint64_t mag) {
  if (mag == 0) return {0, static_cast<uint16_t>(negative ? 0x8000 : 0)};
  const int shift = std::countl_zero(mag);
  return {mag << shift, static_cast<uint16_t>((negative ? 0x8000 : 0) | (16383 + 63 - shift))};
}

// A long double taken apart exactly when it has 64 significand bits, else
// rounded to nearest-even at 64 bits; constant at compile time, so that
// the programs' literals cost nothing.
constexpr Value OfLongDouble(long double v) {
  static_assert(std::numeric_limits<long double>::digits >= 64,
                "literals of the extended type need a long double at least as wide");
#if defined(__x86_64__) || defined(__i386__)
  if (!std::is_constant_evaluated()) {
    Value r;
    std::memcpy(&r.sig, &v, 8);
    std::memcpy(&r.se, reinterpret_cast<const char*>(&v) + 8, 2);
    return r;
  }
#endif
#if defined(__x86_64__) || defined(__i386__)
  const bool negative = __builtin_signbit(v);
#else
  // A quadruple-precision long double: its sign is its top bit.
  static_assert(sizeof(long double) == 16);
  const bool negative = (std::bit_cast<unsigned __int128>(v) >> 127) != 0;
#endif
  if (v != v) return {0xC000000000000000u, static_cast<uint16_t>(negative ? 0xFFFF : 0x7FFF)};
  long double m = negative ? -v : v;
  const uint16_t sign = negative ? 0x8000 : 0;
  if (m == 0) return {0, sign};
  if (m > std::numeric_limits<long double>::max()) return {uint64_t{1} << 63, static_cast<uint16_t>(sign | 0x7FFF)};
  int32_t exp = 16383 + 63;  // of the integer bit, once m lies in [2^63, 2^64)
  constexpr long double two64 = 18446744073709551616.0L;
  while (m >= two64) m /= two64, exp += 64;
  while (m < 1.0L) m *= two64, exp -= 64;
  while (m < two64 / 2) m *= 2, --exp;
  uint64_t sig = static_cast<uint64_t>(m);
  const long double rest = m - static_cast<long double>(sig);
  if (rest > 0.5L || (rest == 0.5L && (sig & 1))) {
    if (++sig == 0) sig = uint64_t{1} << 63, ++exp;
  }
  if (exp <= 0) {  // below the extended range's normals: truncated, literals never are
    sig = exp > -64 ? sig >> (1 - exp) : 0;
    exp = 0;
  }
  return {sig, static_cast<uint16_t>(sign | exp)};
}
}  // namespace soft

class Extended {
 public:
  constexpr Extended() = default;
  template <class T>
    requires std::is_arithmetic_v<T>
  constexpr Extended(T v) : bits_(Of(v)) {}
  static constexpr Extended FromBits(x87soft::Value v) {
    Extended e;
    e.bits_ = v;
    return e;
  }
  constexpr x87soft::Value Bits() const { return bits_; }

  template <class T>
    requires std::is_integral_v<T>
  explicit operator T() const {
    if constexpr (std::is_same_v<T, bool>) {
      return soft::Unordered(bits_, {}) != x87soft::Order::Equal;
    } else if constexpr (std::is_same_v<T, uint64_t> || std::is_same_v<T, unsigned long long>) {
      // As the compiler does: above 2^63 the cast takes off 2^63 first.
      constexpr x87soft::Value two63{uint64_t{1} << 63, 16383 + 63};
      if (soft::Ordered(bits_, two63) == x87soft::Order::Less)
        return static_cast<T>(static_cast<uint64_t>(soft::Truncate(bits_)));
      return static_cast<T>(static_cast<uint64_t>(soft::Truncate(soft::Sub(bits_, two63))) + (uint64_t{1} << 63));
    } else {
      return static_cast<T>(soft::Truncate(bits_));
    }
  }
  explicit operator double() const { return soft::ToDouble(bits_); }
  explicit operator float() const { return static_cast<float>(soft::ToDouble(bits_)); }
  explicit operator long double() const { return soft::ToLongDouble(bits_); }

  friend Extended operator+(Extended a, Extended b) { return FromBits(soft::Add(a.bits_, b.bits_)); }
  friend Extended operator-(Extended a, Extended b) { return FromBits(soft::Sub(a.bits_, b.bits_)); }
  friend Extended operator*(Extended a, Extended b) { return FromBits(soft::Mul(a.bits_, b.bits_)); }
  friend Extended operator/(Extended a, Extended b) { return FromBits(soft::Div(a.bits_, b.bits_)); }
  friend constexpr Extended operator-(Extended a) { return FromBits(x87soft::Negate(a.bits_)); }
  friend constexpr Extended operator+(Extended a) { return a; }
  Extended& operator+=(Extended b) { return *this = *this + b; }
  Extended& operator-=(Extended b) { return *this = *this - b; }
  Extended& operator*=(Extended b) { return *this = *this * b; }
  Extended& operator/=(Extended b) { return *this = *this / b; }

  friend bool operator<(Extended a, Extended b) { return soft::Ordered(a.bits_, b.bits_) == x87soft::Order::Less; }
  friend bool operator>(Extended a, Extended b) { return soft::Ordered(a.bits_, b.bits_) == x87soft::Order::Greater; }
  friend bool operator<=(Extended a, Extended b) {
    const x87soft::Order o = soft::Ordered(a.bits_, b.bits_);
    return o == x87soft::Order::Less || o == x87soft::Order::Equal;
  }
  friend bool operator>=(Extended a, Extended b) {
    const x87soft::Order o = soft::Ordered(a.bits_, b.bits_);
    return o == x87soft::Order::Greater || o == x87soft::Order::Equal;
  }
  friend bool operator==(Extended a, Extended b) { return soft::Unordered(a.bits_, b.bits_) == x87soft::Order::Equal; }
  friend bool operator!=(Extended a, Extended b) { return !(a == b); }

 private:
  template <class T>
  static constexpr x87soft::Value Of(T v) {
    if constexpr (std::is_integral_v<T>) {
      if constexpr (std::is_signed_v<T>) {
        const bool negative = v < 0;
        const uint64_t mag = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
        return soft::OfMagnitude(negative, mag);
      } else {
        return soft::OfMagnitude(false, static_cast<uint64_t>(v));
      }
    } else {
      return soft::OfLongDouble(static_cast<long double>(v));
    }
  }
  x87soft::Value bits_{};
};

inline Extended Sqrt(Extended a) { return Extended::FromBits(soft::Sqrt(a.Bits())); }
inline Extended Cos(Extended a) { return Extended::FromBits(soft::Cos(a.Bits())); }
inline Extended Sin(Extended a) { return Extended::FromBits(soft::Sin(a.Bits())); }

// frexp and ldexp for the tests' arithmetic, found by argument lookup
// where std's are named for long double.
Extended frexp(Extended x, int* exp);
Extended ldexp(Extended x, int exp);

#endif

}  // namespace sys

#if AGG_SOFT_EXTENDED
template <>
class std::numeric_limits<sys::Extended> {
 public:
  static constexpr bool is_specialized = true;
  static constexpr bool is_signed = true;
  static constexpr bool has_infinity = true;
  static constexpr bool has_quiet_NaN = true;
  static constexpr bool has_signaling_NaN = true;
  static constexpr int digits = 64;
  static constexpr int radix = 2;
  static constexpr int min_exponent = -16381;
  static constexpr int max_exponent = 16384;
  using V = sys::x87soft::Value;
  static constexpr sys::Extended min() { return sys::Extended::FromBits(V{uint64_t{1} << 63, 1}); }
  static constexpr sys::Extended max() { return sys::Extended::FromBits(V{~uint64_t{0}, 0x7FFE}); }
  static constexpr sys::Extended lowest() { return sys::Extended::FromBits(V{~uint64_t{0}, 0xFFFE}); }
  static constexpr sys::Extended epsilon() { return sys::Extended::FromBits(V{uint64_t{1} << 63, 16383 - 63}); }
  static constexpr sys::Extended infinity() { return sys::Extended::FromBits(V{uint64_t{1} << 63, 0x7FFF}); }
  static constexpr sys::Extended quiet_NaN() { return sys::Extended::FromBits(V{0xC000000000000000u, 0x7FFF}); }
  static constexpr sys::Extended signaling_NaN() { return sys::Extended::FromBits(V{0xA000000000000000u, 0x7FFF}); }
  static constexpr sys::Extended denorm_min() { return sys::Extended::FromBits(V{1, 0}); }
};
#endif
