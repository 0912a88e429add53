// The walk's fast road held to the plain one: the window driver's touching
// map against eight probes through GetPixel after every kind of drawing,
// each walk against the same walk through a hook that takes every probe,
// and a hook put in mid-run seeing every probe from then on.
#include <gtest/gtest.h>

#include <thread>
#include <tuple>
#include <vector>

#include "aggregation/program.h"
#include "graph/headless/headless_window.h"
#include "graph/touching.h"
#include "graph/window.h"

namespace {

class FastRoad : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!graph::IsGraphMode) {
      graph::headless::SetScreen(1024, 768);
      graph::InitializeGraph();
      agg::GRAFIKA();
      ASSERT_EQ(graph::GraphResult(), 0);
    }
  }
  void SetUp() override {
    graph::TouchingPatience = 0;
    // A new window's read-back map is made fresh by reads, an eighth of
    // the surface's worth; the touching map is made only from a fresh one.
    for (int32_t i = 0; i <= 1024 * 768 / 8; ++i)
      (void)graph::GetPixel16Win32GUI(static_cast<int16_t>(i % 1024), static_cast<int16_t>(i / 1024));
  }
  void TearDown() override {
    graph::TouchingPatience = 1;
    graph::GetPixel = graph::GetPixel16Win32GUI;
    graph::PutPixel = graph::PutPixel16Win32GUI;
    graph::CurrentWriteMode = 0;
    graph::SetViewPort(0, 0, graph::GetMaxX(), graph::GetMaxY(), true);
    graph::ClearViewPort();
    agg::OnStuck = nullptr;
  }
};

// A small generator of the test's own, apart from the walk's.
struct Dice {
  uint64_t s;
  uint32_t operator()(uint32_t n) {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>((s >> 33) % n);
  }
};

// The neighbour test through eight probes of the driver's GetPixel.
bool ProbedTouching(int32_t x, int32_t y, uint8_t bit) {
  static constexpr int kAround[8][2] = {{1, 1}, {1, 0}, {1, -1}, {0, 1}, {0, -1}, {-1, 1}, {-1, 0}, {-1, -1}};
  uint8_t bits = 0;
  for (const auto& d : kAround)
    bits |= graph::HoldBits(graph::GetPixel16Win32GUI(static_cast<int16_t>(x + d[0]), static_cast<int16_t>(y + d[1])));
  return (bits & bit) != 0;
}

// The places the test asks about, in viewport coordinates: well beyond the
// surface on every side.
constexpr agg::lanes::Box kBox{-200, -200, 1250, 1000};

// Compares the map, where it answers, with the probes at a sample of
// places and along a few rows; counts the places compared.
int CompareMap(Dice& dice, int samples) {
  graph::TouchingView view;
  if (graph::EnterTouching(kBox.lox, kBox.loy, kBox.hix, kBox.hiy, view) != graph::Touching::Ready) return 0;
  struct Place {
    int32_t x, y;
    uint8_t byte;
  };
  std::vector<Place> places;
  auto take = [&](int32_t x, int32_t y) {
    places.push_back({x, y, view.cells[static_cast<std::ptrdiff_t>(y) * view.stride + x + view.offset]});
  };
  for (int i = 0; i < samples; ++i)
    take(kBox.lox + static_cast<int32_t>(dice(kBox.hix - kBox.lox + 1)),
         kBox.loy + static_cast<int32_t>(dice(kBox.hiy - kBox.loy + 1)));
  // Rows across the centre and the surface's edges, where answers change.
  for (const int32_t y : {383, 384, 385, -1, 0, 1, 767, 768})
    for (int32_t x = -3; x <= 1027; ++x) take(x, y);
  graph::LeaveTouching();  // the probes take the lock themselves
  for (const Place& p : places) {
    EXPECT_EQ((p.byte & graph::TouchWhite) != 0, ProbedTouching(p.x, p.y, graph::TouchWhite)) << p.x << "," << p.y;
    EXPECT_EQ((p.byte & graph::TouchAny) != 0, ProbedTouching(p.x, p.y, graph::TouchAny)) << p.x << "," << p.y;
    if (testing::Test::HasFailure()) return 0;
  }
  return static_cast<int>(places.size());
}

uint16_t PassThrough(int16_t x, int16_t y) { return graph::GetPixel16Win32GUI(x, y); }
void NoDrawing(int16_t, int16_t, uint16_t) {}

struct WalkResult {
  int16_t x, y;
  uint64_t steps;
  uint32_t a, old, b, c;
  bool operator==(const WalkResult&) const = default;
};
WalkResult After() { return {agg::X, agg::Y, agg::Steps, sys::RandSeed, sys::OldRandSeed, sys::Seed2, sys::Seed3}; }

// One particle walked twice from the same start: through a hook that takes
// every probe (drawing nothing), then on the driver's own roads.
template <class Rule>
void WalkBothWays() {
  const int16_t x = agg::X, y = agg::Y;
  const uint32_t a = sys::RandSeed, old = sys::OldRandSeed, b = sys::Seed2, c = sys::Seed3;
  const bool initial = sys::InitialSeed;
  const agg::Extended r = agg::R;
  const int32_t szin = agg::SZIN;
  const graph::PutPixelFunc put = graph::PutPixel;
  graph::GetPixel = PassThrough;
  graph::PutPixel = NoDrawing;
  agg::Steps = 0;
  agg::TAPAD<Rule>();
  const WalkResult probed = After();
  graph::GetPixel = graph::GetPixel16Win32GUI;
  graph::PutPixel = put;
  agg::X = x, agg::Y = y, agg::R = r, agg::SZIN = szin;
  sys::RandSeed = a, sys::OldRandSeed = old, sys::Seed2 = b, sys::Seed3 = c, sys::InitialSeed = initial;
  agg::Steps = 0;
  agg::TAPAD<Rule>();
  EXPECT_EQ(After(), probed) << "from " << x << "," << y;
}

// Drawing of every kind, viewports with and without clipping, palette and
// mode changes, another thread's drawing and hook swaps, between walks and
// comparisons; the map must agree with the probes wherever it answers, and
// every walk with its probed twin.
TEST_F(FastRoad, TheTouchingMapAnswersAsEightProbesAfterAnyDrawing) {
  Dice dice{2024};
  sys::RandSeed = 99;
  sys::InitialSeed = true;
  agg::R = 150.0L;
  agg::SZIN = 200;
  graph::PutPixel(agg::CentreX, agg::CentreY, 1);
  int compared = 0, walks = 0;
  for (int round = 0; round < 160; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    const int16_t maxX = graph::GetMaxX(), maxY = graph::GetMaxY();
    auto nearCentre = [&](int spread) {
      return std::pair<int16_t, int16_t>(static_cast<int16_t>(agg::CentreX - spread + dice(2 * spread + 1)),
                                         static_cast<int16_t>(agg::CentreY - spread + dice(2 * spread + 1)));
    };
    switch (dice(12)) {
      case 0:
      case 1: {  // pixels, some at the surface's edges and beyond
        for (int i = 0; i < 20; ++i) {
          auto [x, y] = dice(4) == 0 ? std::pair<int16_t, int16_t>(static_cast<int16_t>(dice(3) * 512 - 1),
                                                                    static_cast<int16_t>(dice(maxY + 3) - 1))
                                     : nearCentre(120);
          graph::PutPixel(x, y, static_cast<uint16_t>(dice(3) == 0 ? 15 : dice(3) == 0 ? 0 : dice(300)));
        }
        break;
      }
      case 2: {  // lines through the hooks, in a write mode
        graph::CurrentColor = static_cast<uint16_t>(dice(20));
        graph::CurrentWriteMode = static_cast<int16_t>(dice(4));
        auto [x, y] = nearCentre(150);
        if (dice(2))
          graph::HLine(x, static_cast<int16_t>(x + dice(40)), y);
        else
          graph::VLine(x, y, static_cast<int16_t>(y + dice(40)));
        graph::CurrentWriteMode = 0;
        break;
      }
      case 3: {  // a viewport, clipping or not
        const int16_t x1 = static_cast<int16_t>(dice(3) == 0 ? 0 : dice(300)), y1 = static_cast<int16_t>(dice(200));
        graph::SetViewPort(x1, y1, static_cast<int16_t>(x1 + 300 + dice(maxX - x1 - 300)),
                           static_cast<int16_t>(y1 + 300 + dice(maxY - y1 - 300)), dice(2) == 0);
        break;
      }
      case 4:
        if (dice(3) == 0) graph::ClearViewPort();
        else graph::SetViewPort(0, 0, maxX, maxY, dice(2) == 0);
        break;
      case 5: {  // the palette: what pixels read back as changes, the map goes stale
        const int16_t entry = static_cast<int16_t>(dice(3) == 0 ? 15 : 1 + dice(40));
        graph::SetRGBPalette(entry, static_cast<int16_t>(dice(64)), static_cast<int16_t>(dice(64)),
                             static_cast<int16_t>(dice(64)));
        break;
      }
      case 6:  // the mode set again: palette and surface as a new mode has them
        graph::SetGraphMode(graph::IntCurrentMode);
        graph::PutPixel(agg::CentreX, agg::CentreY, 1);
        break;
      case 7: {  // another thread draws
        auto [x, y] = nearCentre(100);
        std::thread([x = x, y = y] {
          for (int i = 0; i < 5; ++i) graph::PutPixel(static_cast<int16_t>(x + i), y, 15);
        }).join();
        break;
      }
      case 8:  // a hook in place of the driver's: the map must not answer
        graph::GetPixel = PassThrough;
        {
          graph::TouchingView view;
          EXPECT_EQ(graph::EnterTouching(kBox.lox, kBox.loy, kBox.hix, kBox.hiy, view), graph::Touching::Missing);
          EXPECT_FALSE(graph::PrepareTouching(kBox.lox, kBox.loy, kBox.hix, kBox.hiy));
        }
        graph::GetPixel = graph::GetPixel16Win32GUI;
        break;
      default:  // walks, each against its probed twin
        for (int i = 0; i < 3; ++i) {
          agg::Launch();
          if (round % 2)
            WalkBothWays<agg::WhiteRule>();
          else
            WalkBothWays<agg::RadialRule>();
          ++walks;
          if (HasFailure()) return;
        }
        break;
    }
    graph::PrepareTouching(kBox.lox, kBox.loy, kBox.hix, kBox.hiy);
    compared += CompareMap(dice, 3000);
    if (HasFailure()) return;
  }
  // The comparisons must have met the map often, and walks many times.
  EXPECT_GT(compared, 100 * 3000);
  EXPECT_GT(walks, 60);
}

// The map made for one viewport does not answer for another, and one made
// while a palette change left the read-back map stale is not made at all.
TEST_F(FastRoad, TheMapAnswersOnlyForTheViewportAndPaletteItWasMadeFor) {
  ASSERT_TRUE(graph::PrepareTouching(kBox.lox, kBox.loy, kBox.hix, kBox.hiy));
  graph::TouchingView view;
  ASSERT_EQ(graph::EnterTouching(kBox.lox, kBox.loy, kBox.hix, kBox.hiy, view), graph::Touching::Ready);
  graph::LeaveTouching();
  graph::SetViewPort(10, 10, 500, 500, true);
  EXPECT_EQ(graph::EnterTouching(kBox.lox, kBox.loy, kBox.hix, kBox.hiy, view), graph::Touching::Missing);
  graph::SetViewPort(0, 0, graph::GetMaxX(), graph::GetMaxY(), true);
  int16_t r = 0, g = 0, b = 0;
  graph::GetRGBPalette(3, r, g, b);
  graph::SetRGBPalette(3, 1, 2, 3);
  EXPECT_EQ(graph::EnterTouching(kBox.lox, kBox.loy, kBox.hix, kBox.hiy, view), graph::Touching::Missing);
  EXPECT_FALSE(graph::PrepareTouching(kBox.lox, kBox.loy, kBox.hix, kBox.hiy));
  graph::SetRGBPalette(3, r, g, b);
}

// Every instruction set the lanes can use, and none, grows the same
// aggregate in the same number of steps, the generator holding the same
// states at every stuck particle (where a hook may look) and at the end.
std::vector<std::tuple<int16_t, int16_t, uint16_t, uint32_t, uint32_t, uint32_t, uint64_t>> grown;
void Keep(int16_t x, int16_t y, uint16_t c) {
  grown.emplace_back(x, y, c, sys::RandSeed, sys::Seed2, sys::Seed3, agg::Steps);
}

TEST_F(FastRoad, EveryLaneSetGrowsTheSameAggregate) {
  const sys::Lanes before = sys::LanesInUse();
  std::vector<std::tuple<int16_t, int16_t, uint16_t, uint32_t, uint32_t, uint32_t, uint64_t>> first;
  WalkResult firstEnd{};
  for (const sys::Lanes set : {sys::Lanes::None, sys::Lanes::Portable, sys::Lanes::SSE2, sys::Lanes::AVX2, sys::Lanes::NEON}) {
    if (!sys::LanesHave(set)) continue;
    SCOPED_TRACE(sys::LanesName(set));
    sys::UseLanes(set);
    graph::ClearViewPort();
    grown.clear();
    agg::OnStuck = Keep;
    sys::RandSeed = 31;
    sys::InitialSeed = true;
    agg::R = agg::StartRadius;
    agg::SZIN = 200;
    agg::Steps = 0;
    graph::PutPixel(agg::CentreX, agg::CentreY, agg::WhiteRule::SeedColour);
    while (grown.size() < 300) {
      agg::Launch();
      agg::TAPAD<agg::WhiteRule>();
    }
    if (set == sys::Lanes::None) {
      first = grown, firstEnd = After();
    } else {
      EXPECT_EQ(grown, first);
      EXPECT_EQ(After(), firstEnd);
    }
  }
  sys::UseLanes(before);
}

// A hook put in place of the driver's in the middle of a run, from a
// particle's sticking, sees every probe of every later step in order.
struct Seen {
  int16_t x, y;
  uint16_t answer;
};
std::vector<Seen> seen;
uint16_t Recorder(int16_t x, int16_t y) {
  const uint16_t answer = graph::GetPixel16Win32GUI(x, y);
  seen.push_back({x, y, answer});
  return answer;
}
int stuckCount = 0;
uint64_t stepsAtSwap = 0;
void SwapAtTen(int16_t, int16_t, uint16_t) {
  if (++stuckCount != 10) return;
  graph::GetPixel = Recorder;
  stepsAtSwap = agg::Steps;
}

TEST_F(FastRoad, AHookPutInMidRunSeesEveryProbeInOrder) {
  seen.clear();
  stuckCount = 0;
  sys::RandSeed = 4;
  sys::InitialSeed = true;
  agg::R = agg::StartRadius;
  agg::SZIN = 200;
  graph::PutPixel(agg::CentreX, agg::CentreY, agg::RadialRule::SeedColour);
  agg::OnStuck = SwapAtTen;
  agg::Steps = 0;
  while (stuckCount < 30) {
    agg::Launch();
    agg::TAPAD<agg::RadialRule>();
  }
  ASSERT_GT(stepsAtSwap, 0u);
  // Every step after the swap made its probes, in the fixed order, each
  // group one step from the last.
  static constexpr int kOrder[8][2] = {{1, 1}, {1, 0}, {1, -1}, {0, 1}, {0, -1}, {-1, 1}, {-1, 0}, {-1, -1}};
  uint64_t groups = 0;
  size_t i = 0;
  while (i < seen.size()) {
    const int cx = seen[i].x - 1, cy = seen[i].y - 1;
    ++groups;
    for (int k = 0; k < 8; ++k, ++i) {
      ASSERT_LT(i, seen.size());
      ASSERT_EQ(seen[i].x, cx + kOrder[k][0]);
      ASSERT_EQ(seen[i].y, cy + kOrder[k][1]);
      if (agg::RadialRule::Holds(seen[i].answer)) {
        ++i;
        break;
      }
    }
  }
  EXPECT_EQ(groups, agg::Steps - stepsAtSwap);
}

}  // namespace
