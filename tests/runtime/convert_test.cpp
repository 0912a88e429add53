// Float-to-integer conversions: rounding rules, limits, and the caller's
// control word left as it was.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "runtime/system.h"
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

}  // namespace
