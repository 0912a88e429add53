// Float-to-integer conversions: rounding rules, limits, and the caller's
// control word left as it was.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "runtime/system.h"
#include "runtime/x87soft.h"
#include "tests/support/report.h"

namespace {

using sys::Extended;

TEST(Round, TiesGoToEvenAndResultsAreSigned32) {
  const struct {
    Extended x;
    int32_t expect;
  } cases[] = {
      {2.5L, 2},         {3.5L, 4},          {-2.5L, -2},          {-3.5L, -4},
      {0.49999999L, 0},  {21.41421356L, 21}, {-0.5L, 0},           {1e-4000L, 0},
      {2147483647.0L, 2147483647},           {2147483646.5L, 2147483646},
      {-2147483648.5L, -2147483648},         {-2147483647.5L, -2147483648},
  };
  for (const auto& c : cases) EXPECT_EQ(sys::Round(c.x), c.expect) << static_cast<double>(c.x);
}

TEST(Trunc, TowardZeroOverTheSigned64Range) {
  EXPECT_EQ(sys::Trunc(-2.7L), -2);
  EXPECT_EQ(sys::Trunc(2.7L), 2);
  EXPECT_EQ(sys::Trunc(9223372036854775807.0L - 1024.0L), 9223372036854774783LL);
  EXPECT_EQ(sys::Trunc(-9223372036854775808.0L), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(sys::Trunc(2360.0L / 10.0L), 236);
}

TEST(Frac, KeepsTheSignAndLeavesNoFlags) {
  EXPECT_EQ(sys::Frac(2.75L), 0.75L);
  EXPECT_EQ(sys::Frac(-2.75L), -0.75L);
  EXPECT_EQ(sys::Frac(5.0L), 0.0L);
}

TEST(Conversions, RestoreTheCallersControlWord) {
  const uint16_t saved = sys::GetFPUControlWord();
  // Round up, 53-bit precision: Round must still round to nearest even,
  // Trunc toward zero, and the word must come back unchanged.
  const uint16_t callers = 0x0A7F;
  sys::SetFPUControlWord(callers);
  const int32_t r = sys::Round(2.5L);
  const uint16_t afterRound = sys::GetFPUControlWord();
  const int64_t t = sys::Trunc(-2.7L);
  const uint16_t afterTrunc = sys::GetFPUControlWord();
  const Extended f = sys::Frac(1.5L);
  const uint16_t afterFrac = sys::GetFPUControlWord();
  sys::SetFPUControlWord(saved);
  EXPECT_EQ(r, 2);
  EXPECT_EQ(t, -2);
  EXPECT_EQ(f, 0.5L);
  EXPECT_EQ(afterRound, callers);
  EXPECT_EQ(afterTrunc, callers);
  EXPECT_EQ(afterFrac, callers);
}

TEST(ConversionsDeathTest, InvalidResultsAreRunTimeError207) {
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  const Extended nan = std::numeric_limits<Extended>::quiet_NaN();
  EXPECT_EXIT((testsupport::ReportToStderr(), sys::Round(2147483647.5L)), testing::ExitedWithCode(207),
              AGG_REPORT_RE(207));
  EXPECT_EXIT((testsupport::ReportToStderr(), sys::Round(-2147483649.0L)), testing::ExitedWithCode(207),
              AGG_REPORT_RE(207));
  EXPECT_EXIT((testsupport::ReportToStderr(), sys::Round(nan)), testing::ExitedWithCode(207),
              AGG_REPORT_RE(207));
  EXPECT_EXIT((testsupport::ReportToStderr(), sys::Trunc(1e19L)), testing::ExitedWithCode(207),
              AGG_REPORT_RE(207));
  EXPECT_EXIT((testsupport::ReportToStderr(), sys::Trunc(nan)), testing::ExitedWithCode(207),
              AGG_REPORT_RE(207));
}

// The control word as the unit keeps it: reserved bits clear, bit 6 set.
TEST(ControlWord, KeepsTheUnitsBits) {
  const uint16_t saved = sys::GetFPUControlWord();
  const struct {
    uint16_t set, kept;
  } cases[] = {{0x1332, 0x1372}, {0x0000, 0x0040}, {0xFFFF, 0x1F7F}, {0x037F, 0x037F}, {0x0C3F, 0x0C7F}};
  for (const auto& c : cases) {
    sys::SetFPUControlWord(c.set);
    EXPECT_EQ(sys::GetFPUControlWord(), c.kept) << std::hex << c.set;
  }
  sys::SetFPUControlWord(saved);
}

#if defined(__x86_64__)
[[gnu::noipa]] Extended Quotient(Extended a, Extended b) { return a / b; }
[[gnu::noipa]] Extended Sum(Extended a, Extended b) { return a + b; }

// The build's arithmetic follows the control word it was given, whichever
// type it is: each rounding and precision against the software's own
// routine under the same word.
TEST(ControlWord, RoundingAndPrecisionApplyToTheArithmetic) {
  const uint16_t saved = sys::GetFPUControlWord();
  namespace xs = sys::x87soft;
  auto bits = [](Extended x) {
    const long double l = static_cast<long double>(x);
    xs::Value v;
    std::memcpy(&v.sig, &l, 8);
    std::memcpy(&v.se, reinterpret_cast<const char*>(&l) + 8, 2);
    return v;
  };
  int distinct = 0;
  xs::Value previous{};
  for (uint16_t precision : {0x000, 0x200, 0x300})
    for (uint16_t rounding = 0; rounding < 4; ++rounding) {
      const uint16_t cw = static_cast<uint16_t>(0x107F | precision | rounding << 10);
      sys::SetFPUControlWord(cw);
      const xs::Value q = bits(Quotient(-1.0L, 3.0L));
      const xs::Value s = bits(Sum(1.0L, 1e-30L));
      sys::SetFPUControlWord(saved);
      xs::Env env{cw, 0};
      EXPECT_EQ(q, xs::Div(env, bits(-1.0L), bits(3.0L))) << std::hex << cw;
      EXPECT_EQ(s, xs::Add(env, bits(1.0L), bits(1e-30L))) << std::hex << cw;
      distinct += !(q == previous);
      previous = q;
    }
  EXPECT_GE(distinct, 6) << "the words give different quotients";
}
#endif

}  // namespace
