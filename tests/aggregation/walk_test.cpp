// The walk's shortcuts held to the plain computations they stand for: the
// escape test's squared-distance threshold against the extended root, the
// window driver's block reads against probes through a hook, and each failed
// check reported at an address of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "aggregation/program.h"
#include "graph/headless/headless_window.h"
#include "tests/support/report.h"

namespace {

using agg::Extended;

constexpr uint32_t kNone = uint32_t{1} << 31;

// The escape test as the walk made it with a root.
bool RootReaches(uint32_t s, Extended r) { return agg::Sqrt(static_cast<Extended>(s)) >= agg::EscapeFactor * r; }

#ifdef __SIZEOF_INT128__
// The least squared distance that escapes, in exact integers and without a
// root.  Rounded to nearest, the root of s reaches e exactly when the true
// root lies above the midpoint m between e and the extended number below
// it (it never equals m: an integer's root is an integer or irrational, m
// has 65 significant bits and is not one), that is when s > m².  m is
// K / 2^k with K odd, so m² is no integer and the least s is ⌊m²⌋ + 1.
uint32_t ExactLeast(Extended e) {
  if (!(e > 0.0L)) return 0;
  int exp = 0;
  using std::frexp, std::ldexp;  // or the runtime's own, by argument lookup
  const Extended frac = frexp(e, &exp);  // e = frac · 2^exp, frac in [1/2, 1)
  const uint64_t M = static_cast<uint64_t>(ldexp(frac, 64));
  using U = unsigned __int128;
  // Below a power of two the spacing halves.
  const bool power = M == uint64_t{1} << 63;
  const U K = power ? 4 * U{M} - 1 : 2 * U{M} - 1;
  const int k = 64 - exp + (power ? 2 : 1);  // m = K / 2^k
  EXPECT_GT(k, 0);
  EXPECT_LE(k, 60);  // escape distances of 1 or more
  const U q = K >> k, frac_part = K & ((U{1} << k) - 1);
  // m² = q² + 2q·f/2^k + f²/2^2k, f the fraction's numerator.
  const U a = 2 * q * frac_part, aHigh = a >> k, aLow = a & ((U{1} << k) - 1);
  const U floorSquare = q * q + aHigh + (((aLow << k) + frac_part * frac_part) >> (2 * k));
  return floorSquare + 1 >= kNone ? kNone : static_cast<uint32_t>(floorSquare + 1);
}
#endif

// Every launch radius a run meets (60, then steps of 3), up to where no
// squared distance below 2^31 escapes any more.
TEST(EscapeThreshold, EqualsTheRootTestAtEveryRadiusARunMeets) {
  EXPECT_EQ(agg::EscapeLeast(60.0L), 3969u) << "1.05 × 60 is 63 exactly: 63² escapes, one less does not";
  int checked = 0;
  for (Extended r = agg::StartRadius;; r += agg::RadiusStep) {
    const uint32_t t = agg::EscapeLeast(r);
    SCOPED_TRACE(static_cast<double>(r));
    // The test's answer changes at t, and only there.
    for (uint32_t s = t > 3 ? t - 3 : 0; s <= t + 3 && s < kNone; ++s)
      ASSERT_EQ(RootReaches(s, r), s >= t) << "s = " << s;
#ifdef __SIZEOF_INT128__
    ASSERT_EQ(t, ExactLeast(agg::EscapeFactor * r));
#endif
    ++checked;
    if (t == kNone) break;
  }
  EXPECT_GT(checked, 14000);
  // Far beyond: nothing escapes, and a radius of 0 lets everything out.
  EXPECT_EQ(agg::EscapeLeast(50000.0L), kNone);
  EXPECT_EQ(agg::EscapeLeast(0.0L), 0u);
}

TEST(EscapeThreshold, FollowsTheRadius) {
  agg::R = 60.0L;
  EXPECT_EQ(agg::EscapeLeastOfR(), 3969u);
  agg::R = 63.0L;
  EXPECT_EQ(agg::EscapeLeastOfR(), agg::EscapeLeast(63.0L));
  agg::R = 60.0L;
  EXPECT_EQ(agg::EscapeLeastOfR(), 3969u);
}

// ---------------------------------------------------------------- the hooks

class Walk : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (graph::IsGraphMode) return;  // another suite of this program opened it
    graph::headless::SetScreen(1024, 768);
    graph::InitializeGraph();
    agg::GRAFIKA();
    ASSERT_EQ(graph::GraphResult(), 0);
  }
  void TearDown() override {
    graph::GetPixel = graph::GetPixel16Win32GUI;
    graph::SetViewPort(0, 0, graph::GetMaxX(), graph::GetMaxY(), true);
    agg::OnStuck = nullptr;
  }
};

using Trail = std::vector<std::tuple<int16_t, int16_t, uint16_t>>;
Trail trail;
void Record(int16_t x, int16_t y, uint16_t c) { trail.emplace_back(x, y, c); }

struct Probe {
  int16_t x, y;
  uint16_t answer;
};
std::vector<Probe> probes;
uint16_t RecordingHook(int16_t x, int16_t y) {
  const uint16_t answer = graph::GetPixel16Win32GUI(x, y);
  probes.push_back({x, y, answer});
  return answer;
}

// A seeded run of the radial rule from the given launch radius; the seed
// pixel is drawn through the PutPixel hook and so lands in the viewport.
Trail Grow(uint32_t seed, size_t particles, Extended radius, uint64_t& steps) {
  // The whole surface cleared, whatever the viewport.
  graph::ViewPortType view;
  graph::GetViewSettings(view);
  graph::SetViewPort(0, 0, graph::GetMaxX(), graph::GetMaxY(), true);
  graph::ClearViewPort();
  graph::SetViewPort(view.x1, view.y1, view.x2, view.y2, view.Clip);
  trail.clear();
  agg::OnStuck = Record;
  sys::RandSeed = seed;
  sys::InitialSeed = true;
  agg::R = radius;
  agg::SZIN = 200;
  agg::Steps = 0;
  graph::PutPixel(agg::CentreX, agg::CentreY, agg::RadialRule::SeedColour);
  while (trail.size() < particles) {
    agg::Launch();
    agg::TAPAD<agg::RadialRule>();
  }
  steps = agg::Steps;
  return trail;
}

TEST_F(Walk, AnotherHookSeesEveryProbeInTheNeighbourTestsOrder) {
  probes.clear();
  graph::GetPixel = RecordingHook;
  uint64_t steps = 0;
  const Trail hooked = Grow(5, 60, agg::StartRadius, steps);
  // Each step probes its neighbours in the fixed order, up to the first
  // that holds, and the next step's place is one of the nine around.
  static constexpr int kOrder[8][2] = {{1, 1}, {1, 0}, {1, -1}, {0, 1}, {0, -1}, {-1, 1}, {-1, 0}, {-1, -1}};
  uint64_t groups = 0;
  size_t i = 0;
  while (i < probes.size()) {
    const int cx = probes[i].x - 1, cy = probes[i].y - 1;
    ++groups;
    for (int k = 0; k < 8; ++k, ++i) {
      ASSERT_LT(i, probes.size()) << "a step's probes end early";
      ASSERT_EQ(probes[i].x, cx + kOrder[k][0]) << "probe " << i;
      ASSERT_EQ(probes[i].y, cy + kOrder[k][1]) << "probe " << i;
      if (agg::RadialRule::Holds(probes[i].answer)) {
        ++i;
        break;
      }
    }
  }
  EXPECT_EQ(groups, steps);
  // The driver's own hook, read by blocks, gives the same walk.
  graph::GetPixel = graph::GetPixel16Win32GUI;
  uint64_t direct = 0;
  EXPECT_EQ(Grow(5, 60, agg::StartRadius, direct), hooked);
  EXPECT_EQ(direct, steps);
}

uint16_t PassThrough(int16_t x, int16_t y) { return graph::GetPixel16Win32GUI(x, y); }

// Where block reads must decline: the surface's edges, a viewport that
// clips, and one that does not, at an origin away from the corner.  The
// walks escape far beyond the surface, and each must match the walk through
// a hook that takes every probe.
TEST_F(Walk, BlockReadsGiveTheHooksAnswersAtEdgesAndViewports) {
  struct Case {
    int16_t x1, y1, x2, y2;
    bool clip;
    Extended radius;
  };
  const int16_t maxX = graph::GetMaxX(), maxY = graph::GetMaxY();
  for (const Case c : {Case{0, 0, maxX, maxY, true, 380.0L}, Case{0, 0, maxX, maxY, false, 380.0L},
                       Case{40, 30, 900, 600, true, 420.0L}, Case{40, 30, 900, 600, false, 420.0L}}) {
    SCOPED_TRACE(testing::Message() << c.x1 << "," << c.y1 << " clip " << c.clip);
    graph::SetViewPort(c.x1, c.y1, c.x2, c.y2, c.clip);
    graph::GetPixel = PassThrough;
    uint64_t hookSteps = 0, blockSteps = 0;
    const Trail hooked = Grow(77, 4, c.radius, hookSteps);
    graph::GetPixel = graph::GetPixel16Win32GUI;
    EXPECT_EQ(Grow(77, 4, c.radius, blockSteps), hooked);
    EXPECT_EQ(blockSteps, hookSteps);
  }
}

// A palette change leaves the read-back map stale; the walk then goes
// through the hook until the map is rebuilt, with the same answers.
TEST_F(Walk, AStaleReadBackMapGivesTheSameWalk) {
  uint64_t fresh = 0, stale = 0;
  const Trail before = Grow(9, 40, agg::StartRadius, fresh);
  int16_t red = 0, green = 0, blue = 0;
  graph::GetRGBPalette(200, red, green, blue);
  graph::SetRGBPalette(200, 1, 2, 3);  // an entry the rule's colours never use
  EXPECT_EQ(Grow(9, 40, agg::StartRadius, stale), before);
  EXPECT_EQ(stale, fresh);
  graph::SetRGBPalette(200, red, green, blue);
}

// The window closed while the walk reads by blocks: the teardown waits for
// the block in hand, and from then on every probe reads 0 with the result
// code -11 and no particle sticks.
TEST_F(Walk, AWindowClosedMidWalkReadsAsNothing) {
  uint64_t steps = 0;
  Grow(3, 5, agg::StartRadius, steps);  // an aggregate to stick to
  std::atomic<bool> walking{false}, closed{false};
  std::thread user([&] {
    while (!walking) std::this_thread::yield();
    graph::headless::UserClose();
    closed = true;
  });
  while (!closed) {
    agg::Launch();
    agg::TAPAD<agg::RadialRule>();
    walking = true;
  }
  user.join();
  graph::_GraphResult = graph::result::Ok;
  const size_t stuck = trail.size();
  for (int i = 0; i < 20; ++i) {
    agg::Launch();
    agg::TAPAD<agg::RadialRule>();
  }
  EXPECT_EQ(trail.size(), stuck) << "nothing sticks to a surface that is gone";
  EXPECT_EQ(graph::GraphResult(), graph::result::Failure);
  EXPECT_FALSE(graph::headless::WindowOpen());
  // A window again for the tests after this one.
  graph::CloseGraph();
  graph::WindowStop();
  graph::GraphExitProc();
  graph::DefaultHooks();
  graph::FirstCallOfInitGraph = true;
  graph::InitializeGraph();
  agg::GRAFIKA();
  ASSERT_EQ(graph::GraphResult(), 0);
}

// ---------------------------------------------------------------- check sites

// Takes a death test's output whole, to be read afterwards.
class Capture : public testing::MatcherInterface<const std::string&> {
 public:
  explicit Capture(std::string* out) : out_(out) {}
  bool MatchAndExplain(const std::string& s, testing::MatchResultListener*) const override {
    *out_ = s;
    return true;
  }
  void DescribeTo(std::ostream* os) const override { *os << "any output"; }

 private:
  std::string* out_;
};

using Walker = void (*)();
constexpr Walker kWalk = agg::TAPAD<agg::WhiteRule>;

uint16_t Nothing(int16_t, int16_t) { return 0; }
uint16_t White(int16_t, int16_t) { return 15; }
void Drop(int16_t, int16_t, uint16_t) {}

// From a fresh start the first step is (+1, 0).
void WalkFrom(int16_t x, int16_t y, graph::GetPixelFunc hook) {
  testsupport::ReportToStderr();
  std::fprintf(stderr, "walk at 0x%08X\n", static_cast<unsigned>(reinterpret_cast<uintptr_t>(kWalk)));
  std::fflush(stderr);
  graph::GetPixel = hook;
  graph::PutPixel = Drop;
  agg::R = agg::StartRadius;
  sys::RandSeed = 0;
  sys::InitialSeed = true;
  agg::X = x, agg::Y = y;
  kWalk();
}

// The call instruction that returns to `after`, and its target where the
// instruction names it (0 for a call through a register).
struct CallBefore {
  bool found = false;
  uintptr_t target = 0;
};

CallBefore CallEndingAt(const uint8_t* after) {
  CallBefore call;
#if defined(__x86_64__) || defined(__i386__)
  // CALL rel32: E8, then the target's distance from the next instruction.
  int32_t displacement;
  std::memcpy(&displacement, after - 4, 4);
  call.found = after[-5] == 0xE8;
  call.target = reinterpret_cast<uintptr_t>(after) + static_cast<uintptr_t>(static_cast<intptr_t>(displacement));
#elif defined(__aarch64__)
  // BL: 100101 and a signed 26-bit count of words from the BL itself.
  uint32_t word;
  std::memcpy(&word, after - 4, 4);
  call.found = (word >> 26) == 0x25;
  const auto words = static_cast<int32_t>(word << 6) >> 6;
  call.target = reinterpret_cast<uintptr_t>(after - 4) + static_cast<uintptr_t>(static_cast<intptr_t>(words) * 4);
#elif defined(__s390x__)
  // BRASL %r14: C0 E5 and a signed 32-bit count of halfwords from the
  // instruction itself; or BASR %r14,%rN (0D EN), through a register.
  int32_t halfwords;
  std::memcpy(&halfwords, after - 4, 4);
  if (after[-6] == 0xC0 && after[-5] == 0xE5) {
    call.found = true;
    call.target = reinterpret_cast<uintptr_t>(after - 6) + static_cast<uintptr_t>(static_cast<intptr_t>(halfwords) * 2);
  } else {
    call.found = after[-2] == 0x0D && (after[-1] >> 4) == 0xE && (after[-1] & 0xF) != 0;
  }
#else
#error "no call decoding for this processor"
#endif
  return call;
}

TEST(CheckSiteDeathTest, EachFailedCheckOfTheWalkReportsItsOwnAddress) {
  struct Case {
    const char* what;
    int16_t x, y;
    graph::GetPixelFunc hook;
    int error;
  };
  const Case cases[] = {
      {"the step's column", 32767, 0, Nothing, 201},
      {"the first neighbour's column", 32766, 0, Nothing, 201},
      {"the first neighbour's row", 0, 32767, Nothing, 201},
      {"the escape test's sum", -32767, -32767, Nothing, 215},
      {"the sticking particle's distance", -32767, -32767, White, 215},
  };
  // Every death test first, then the reading: where a death test runs in a
  // fresh process (Windows), that process runs this body up to its own
  // death test, past the others without their output.
  std::string outs[std::size(cases)];
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    EXPECT_EXIT(WalkFrom(c.x, c.y, c.hook), testing::ExitedWithCode(c.error),
                testing::MakeMatcher(new Capture(&outs[i])))
        << c.what;
  }
  std::set<uint32_t> sites;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    const std::string& out = outs[i];
    SCOPED_TRACE(c.what);
    std::smatch walk, report;
    if (!std::regex_search(out, walk, std::regex("walk at 0x([0-9A-F]{8})")) ||
        !std::regex_search(out, report, std::regex("Runtime error ([0-9]+) at 0x([0-9A-F]{8})"))) {
      ADD_FAILURE() << "no address in: " << out;
      continue;
    }
    EXPECT_EQ(std::stoi(report[1]), c.error);
    const uint32_t offset = static_cast<uint32_t>(std::stoul(report[2], nullptr, 16)) -
                            static_cast<uint32_t>(std::stoul(walk[1], nullptr, 16));
    // Inside the walk's code, just after a call of the error routine; the
    // bound is loose because a sanitizer's build makes the walk several
    // times larger, and the call found there is what proves the site.
    if (offset >= 65536u) {
      ADD_FAILURE() << "not in the walk: offset " << offset;
      continue;
    }
    const auto* after = reinterpret_cast<const uint8_t*>(kWalk) + offset;
    const CallBefore call = CallEndingAt(after);
    if (!call.found) {
      ADD_FAILURE() << "no call returns to offset " << offset;
      continue;
    }
    if (call.target != 0)
      EXPECT_EQ(call.target, reinterpret_cast<uintptr_t>(c.error == 201 ? &sys::Int_RangeError : &sys::Int_Overflow));
    EXPECT_TRUE(sites.insert(offset).second) << "another check reported the same address";
  }
}

}  // namespace
