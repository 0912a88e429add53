// The x87's cosines and sines of the launch angles; see x87soft.h.
#include <cmath>

#include "runtime/x87soft.h"

namespace sys::x87soft {

namespace {

struct Entry {
  Value angle, cos, sin;
};

constexpr Entry kTable[kLaunchAngles] = {
#include "runtime/launch_trig.inc"
};

}  // namespace

bool LaunchTrig(Value angle, Value& cos, Value& sin) {
  if (angle.se & 0x8000) return false;
  // The angle's n from a double close enough to tell neighbours apart
  // (they lie 1.7e-3 apart); the bits then decide.
  const int exp = angle.se & 0x7FFF;
  if (angle.sig == 0 && exp == 0) {
    cos = kTable[0].cos, sin = kTable[0].sin;
    return true;
  }
  if (exp < 16383 - 20 || exp > 16383 + 3) return false;
  const double a = std::ldexp(static_cast<double>(angle.sig), exp - 16383 - 63);
  const long n = std::lround(a * (1800.0 / 3.14159265358979323846));
  for (long k = n - 1; k <= n + 1; ++k) {
    if (k < 0 || k >= kLaunchAngles || !(kTable[k].angle == angle)) continue;
    cos = kTable[k].cos, sin = kTable[k].sin;
    return true;
  }
  return false;
}

}  // namespace sys::x87soft
