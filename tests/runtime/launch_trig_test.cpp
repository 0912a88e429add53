// The launch angles' cosines and sines: the table the software type uses
// against the x87 that wrote it, and every launch point the programs can
// reach, software against the unit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>

#include "runtime/system.h"
#include "runtime/x87soft.h"

#if defined(__x86_64__)

namespace {

namespace xs = sys::x87soft;

long double Hw(xs::Value v) {
  long double x = 0;
  std::memcpy(&x, &v.sig, 8);
  std::memcpy(reinterpret_cast<char*>(&x) + 8, &v.se, 2);
  return x;
}

xs::Value Sw(long double x) {
  xs::Value v;
  std::memcpy(&v.sig, &x, 8);
  std::memcpy(&v.se, reinterpret_cast<const char*>(&x) + 8, 2);
  return v;
}

// The unit under the programs' word (everything a launch does is exact or
// rounds to nearest at 64 bits; no fault can arise).
struct UnitWord {
  UnitWord() { asm volatile("fnstcw %0" : "=m"(saved)); asm volatile("fldcw %0" : : "m"(kWord)); }
  ~UnitWord() { asm volatile("fldcw %0" : : "m"(saved)); }
  static constexpr uint16_t kWord = 0x133F;
  uint16_t saved;
};

long double UnitAngle(int n) {
  volatile long double pi = 3.14159265358979323846264338327950288L, whole = n;
  return pi * whole / 1800.0L;
}

int32_t UnitRound(long double x) {
  int32_t r;
  asm volatile("fistpl %0" : "=m"(r) : "t"(x) : "st");
  return r;
}

long double UnitCos(long double a) {
  long double r;
  asm volatile("fcos" : "=t"(r) : "0"(a));
  return r;
}

long double UnitSin(long double a) {
  long double r;
  asm volatile("fsin" : "=t"(r) : "0"(a));
  return r;
}

// Equal, or neighbours in the 64-bit format.
bool WithinOneUlp(xs::Value table, long double unit) {
  const long double t = Hw(table);
  return t == unit || t == std::nextafter(unit, 2.0L) || t == std::nextafter(unit, -2.0L);
}

// The table was written on one x87.  Units of other makers and generations
// round some of these results the other way in the last place (226 of the
// 7200 on a 2023 Intel Xeon against the table), never further, and none of
// those changes a launch point: the exhaustive test below holds every one
// to this unit.
TEST(LaunchTrig, TheTableIsAnX87sOwn) {
  UnitWord word;
  int found = 0, lastPlace = 0;
  for (int n = 0; n < xs::kLaunchAngles; ++n) {
    const long double angle = UnitAngle(n);
    xs::Value c, s;
    ASSERT_TRUE(xs::LaunchTrig(Sw(angle), c, s)) << "angle " << n;
    ++found;
    const long double uc = UnitCos(angle), us = UnitSin(angle);
    EXPECT_TRUE(WithinOneUlp(c, uc)) << "cos at " << n;
    EXPECT_TRUE(WithinOneUlp(s, us)) << "sin at " << n;
    lastPlace += (c != Sw(uc)) + (s != Sw(us));
  }
  EXPECT_EQ(found, 3600);
  // A unit that differs from the writer's far more often than another
  // maker's does computes something else.
  EXPECT_LT(lastPlace, 720) << "results one place from the table";
  // Its neighbours are not launch angles.
  xs::Value c, s;
  xs::Value beside = Sw(UnitAngle(1200));
  ++beside.sig;
  EXPECT_FALSE(xs::LaunchTrig(beside, c, s));
  EXPECT_FALSE(xs::LaunchTrig(xs::Negate(Sw(UnitAngle(5))), c, s));
}

// The build's own Cos and Sin, of the angle its own arithmetic computes,
// give the unit's results: in the hardware build trivially, in the
// software build by the table, to the last place in which x87 units differ
// (above).
TEST(LaunchTrig, TheBuildsCosineAndSineAreTheUnits) {
  const uint16_t saved = sys::GetFPUControlWord();
  sys::SetFPUControlWord(sys::FPUCW);
  UnitWord word;
  const sys::Extended pi = 3.14159265358979323846264338327950288L;
  int mismatches = 0;
  for (int n = 0; n < xs::kLaunchAngles; ++n) {
    const sys::Extended angle = pi * static_cast<sys::Extended>(static_cast<int16_t>(n)) / 1800.0L;
    const long double unit = UnitAngle(n);
    mismatches += static_cast<long double>(angle) != unit;
    mismatches += !WithinOneUlp(Sw(static_cast<long double>(sys::Cos(angle))), UnitCos(unit));
    mismatches += !WithinOneUlp(Sw(static_cast<long double>(sys::Sin(angle))), UnitSin(unit));
  }
  sys::SetFPUControlWord(saved);
  EXPECT_EQ(mismatches, 0);
}

// Every launch point: each angle at each radius the programs reach (60,
// 63, ... until the point leaves the 16-bit range at 512 + R), the
// software's product and rounding against the unit's.
TEST(LaunchTrig, EveryLaunchPointIsTheUnits) {
  UnitWord word;
  xs::Env env{0x133F, 0};
  int64_t points = 0, mismatches = 0;
  for (int n = 0; n < xs::kLaunchAngles; ++n) {
    const long double angle = UnitAngle(n);
    const long double c = UnitCos(angle), s = UnitSin(angle);
    xs::Value sc, ss;
    ASSERT_TRUE(xs::LaunchTrig(Sw(angle), sc, ss));
    for (int32_t r = 60; r <= 32767 - 512 + 1; r += 3) {
      const xs::Value radius = xs::FromInt64(r);
      const long double R = r;
      const int64_t x = xs::ToInt(env, xs::Mul(env, radius, sc), 32, xs::kNearest);
      const int64_t y = xs::ToInt(env, xs::Mul(env, radius, ss), 32, xs::kNearest);
      mismatches += (x != UnitRound(R * c)) + (y != UnitRound(R * s));
      points += 2;
    }
  }
  EXPECT_EQ(mismatches, 0) << "of " << points;
  EXPECT_GT(points, 7000000);
}

// The runner's own start radius is any number: a sample of them, 3 added
// at a time, at random angles.
TEST(LaunchTrig, LaunchPointsFromAnyStartRadiusAreTheUnits) {
  UnitWord word;
  xs::Env env{0x133F, 0};
  std::mt19937_64 rng(0x1a0c4);
  std::uniform_real_distribution<double> start(0.0, 33000.0);
  int64_t mismatches = 0;
  for (int i = 0; i < 200000; ++i) {
    const int n = static_cast<int>(rng() % xs::kLaunchAngles);
    const long double angle = UnitAngle(n);
    xs::Value sc, ss;
    ASSERT_TRUE(xs::LaunchTrig(Sw(angle), sc, ss));
    long double R = start(rng) + 3.0L * static_cast<long double>(rng() % 100);
    const xs::Value radius = Sw(R);
    mismatches += xs::ToInt(env, xs::Mul(env, radius, sc), 32, xs::kNearest) != UnitRound(R * UnitCos(angle));
    mismatches += xs::ToInt(env, xs::Mul(env, radius, ss), 32, xs::kNearest) != UnitRound(R * UnitSin(angle));
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace

#endif
