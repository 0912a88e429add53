// The particle loop on an open headless surface: launch points, colour
// rules, sticking, escaping, the growth of the launch radius and whole
// seeded runs.
#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "aggregation/program.h"
#include "graph/headless/headless_window.h"
#include "tests/support/report.h"

namespace {

using agg::Extended;

// A generator restarted from seed, as after writing RandSeed.
void Seed(uint32_t seed) {
  sys::RandSeed = seed;
  sys::InitialSeed = true;
}

class Program : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    graph::headless::SetScreen(1024, 768);
    graph::InitializeGraph();
    agg::GRAFIKA();
    ASSERT_EQ(graph::GraphResult(), 0);
  }
  void SetUp() override {
    graph::ClearViewPort();
    agg::Steps = 0;
    agg::R = agg::StartRadius;
    agg::SZIN = 200;
    agg::OnStuck = nullptr;
  }
};

TEST_F(Program, OpensTheLargest256ColourSurface) {
  EXPECT_EQ(graph::GetMaxX(), 1023);
  EXPECT_EQ(graph::GetMaxY(), 718);
  EXPECT_EQ(graph::GetMaxColor(), 255);
}

TEST_F(Program, LaunchPointsOnTheStartCircle) {
  const std::tuple<int16_t, int16_t, int16_t> cases[] = {
      {0, 572, 384}, {450, 554, 426}, {900, 512, 444}, {1800, 452, 384}, {2700, 512, 324}};
  for (auto [angle, x, y] : cases) {
    agg::SZOG = angle;
    agg::Place();
    EXPECT_EQ(std::make_pair(agg::X, agg::Y), std::make_pair(x, y)) << angle;
  }
}

TEST_F(Program, ColourRules) {
  agg::X = 513, agg::Y = 384;  // distance 1
  EXPECT_EQ(agg::RadialRule::Colour(), 21);
  agg::X = 513, agg::Y = 385;  // distance sqrt(2)
  EXPECT_EQ(agg::RadialRule::Colour(), 21);
  agg::X = 572, agg::Y = 384;
  EXPECT_EQ(agg::RadialRule::Colour(), 80);

  const std::pair<int32_t, uint16_t> order[] = {{200, 20}, {209, 20}, {210, 21}, {2480, 248}, {2560, 256}};
  for (auto [szin, colour] : order) {
    agg::SZIN = szin;
    EXPECT_EQ(agg::OrderRule::Colour(), colour) << szin;
  }
  agg::SZIN = 200;
  agg::OrderRule::AfterDraw();
  EXPECT_EQ(agg::SZIN, 201);

  EXPECT_TRUE(agg::WhiteRule::Holds(15));
  EXPECT_FALSE(agg::WhiteRule::Holds(14));
  EXPECT_FALSE(agg::WhiteRule::Holds(0));
  EXPECT_TRUE(agg::RadialRule::Holds(1));
  EXPECT_FALSE(agg::RadialRule::Holds(0));
}

// From a fresh start the first two draws of Random(3) are 2 and 1: the
// first step is (+1, 0).
TEST_F(Program, StickingAtRMinus3WidensTheRadiusAndLessDoesNot) {
  graph::PutPixel(570, 384, 15);
  Seed(0);
  agg::X = 568, agg::Y = 384;
  agg::TAPAD<agg::WhiteRule>();
  EXPECT_EQ(agg::Steps, 1u);
  EXPECT_EQ(graph::GetPixel(569, 384), 15);
  EXPECT_EQ(agg::R, 63.0L) << "stuck at distance 57 = R - 3";

  graph::PutPixel(560, 390, 15);
  agg::R = 60.0L;
  Seed(0);
  agg::X = 558, agg::Y = 390;  // steps to (559, 390), distance 47.4
  agg::TAPAD<agg::WhiteRule>();
  EXPECT_EQ(graph::GetPixel(559, 390), 15);
  EXPECT_EQ(agg::R, 60.0L) << "stuck well inside the circle";
}

TEST_F(Program, ReachingExactlyTheEscapeDistanceDropsTheParticle) {
  Seed(0);
  agg::X = 574, agg::Y = 384;  // steps to (575, 384): distance 63 = 1.05 * 60
  agg::TAPAD<agg::WhiteRule>();
  EXPECT_EQ(agg::Steps, 1u);
  EXPECT_EQ(graph::GetPixel(575, 384), 0) << "nothing is drawn for an escaped particle";
  EXPECT_EQ(agg::R, 60.0L);
}

TEST_F(Program, WhiteRuleIgnoresOtherColoursAndAFirstStepOntoTheAggregateSticks) {
  // A non-white pixel next to the first place does not hold in white...
  graph::PutPixel(570, 384, 14);
  graph::PutPixel(575, 384, 15);  // ...and something to end the walk with.
  Seed(0);
  agg::X = 568, agg::Y = 384;
  agg::R = 200.0L;
  agg::TAPAD<agg::WhiteRule>();
  EXPECT_GT(agg::Steps, 1u);
  EXPECT_EQ(graph::GetPixel(570, 384), 14);

  // In the radial rule any value above 0 holds, and the particle's colour
  // replaces the pixel it stepped onto.
  graph::ClearViewPort();
  graph::PutPixel(569, 384, 5);
  graph::PutPixel(570, 384, 31);  // reads back as 15
  Seed(0);
  agg::X = 568, agg::Y = 384;
  agg::Steps = 0;
  agg::TAPAD<agg::RadialRule>();
  EXPECT_EQ(agg::Steps, 1u);
  EXPECT_EQ(graph::GetPixel(569, 384), 77) << "Round(57 + 20)";
}

// A whole run: every stuck particle touched the aggregate at the moment it
// stuck, and the same seed gives the same particles.
std::vector<std::tuple<int16_t, int16_t, uint16_t>> trail;
void Record(int16_t x, int16_t y, uint16_t c) { trail.emplace_back(x, y, c); }

template <class Rule>
std::vector<std::tuple<int16_t, int16_t, uint16_t>> Grow(uint32_t seed, size_t particles) {
  graph::ClearViewPort();
  trail.clear();
  agg::OnStuck = Record;
  Seed(seed);
  agg::R = agg::StartRadius;
  agg::SZIN = 200;
  graph::PutPixel(agg::CentreX, agg::CentreY, Rule::SeedColour);
  while (trail.size() < particles) {
    agg::Launch();
    agg::TAPAD<Rule>();
  }
  return trail;
}

TEST_F(Program, SeededRunsRepeatAndEveryParticleTouchesTheAggregate) {
  const auto first = Grow<agg::WhiteRule>(12345, 400);
  const auto again = Grow<agg::WhiteRule>(12345, 400);
  EXPECT_EQ(first, again);
  const auto other = Grow<agg::WhiteRule>(54321, 400);
  EXPECT_NE(first, other);

  std::set<std::pair<int, int>> cluster{{agg::CentreX, agg::CentreY}};
  for (auto [x, y, c] : first) {
    EXPECT_EQ(c, 15);
    bool touches = false;
    for (int dx = -1; dx <= 1; ++dx)
      for (int dy = -1; dy <= 1; ++dy)
        touches |= (dx || dy) && cluster.count({x + dx, y + dy});
    EXPECT_TRUE(touches) << x << "," << y;
    cluster.insert({x, y});
  }
}

TEST_F(Program, OrderRuleCountsArrivals) {
  const auto run = Grow<agg::OrderRule>(7, 25);
  for (size_t i = 0; i < run.size(); ++i) EXPECT_EQ(std::get<2>(run[i]), 20 + i / 10) << i;
  EXPECT_EQ(agg::SZIN, 225);
}

TEST(ProgramDeathTest, ALaunchPointBeyond16BitsIsRangeError201) {
  EXPECT_EXIT(
      {
        testsupport::ReportToStderr();
        agg::R = 32300.0L;  // 512 + 32300 does not fit
        agg::SZOG = 0;
        agg::Place();
      },
      testing::ExitedWithCode(201), AGG_REPORT_RE(201));
}

TEST(ProgramDeathTest, AnOverflowingDistanceIs215) {
  EXPECT_EXIT(
      {
        testsupport::ReportToStderr();
        agg::X = -32768;
        agg::Y = -32768;
        (void)agg::Distance();
      },
      testing::ExitedWithCode(215), AGG_REPORT_RE(215));
}

}  // namespace
