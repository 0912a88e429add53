// The programs' own logic: open graphics, set the seed pixel, launch
// particles from the launch circle and walk each one until it touches the
// aggregate or escapes.  The aggregate lives only in the graphics surface;
// a place is occupied when its pixel reads back as a particle.
//
// The three programs differ only in their colour rule, a compile-time
// parameter, so the walk compiles to straight code for each.
#pragma once

#include <cstdint>
#include <type_traits>

#include "graph/blockread.h"
#include "graph/graph.h"
#include "graph/touching.h"
#include "runtime/checks.h"
#include "runtime/crt.h"
#include "runtime/random_lanes.h"
#include "runtime/system.h"

namespace agg {

using sys::Extended;

// Program-wide variables.
extern int16_t SZOG;   // launch angle, tenths of a degree
extern int16_t X;      // column of the walking particle
extern int16_t Y;      // row of the walking particle
extern Extended R;     // launch radius
extern int32_t SZIN;   // arrival counter of the order rule

// Figures for the headless runner; counting costs one add per step.
extern uint64_t Steps;
extern uint64_t Launched;
// Called after each stuck particle has been drawn and the launch radius
// updated; unset in the programs.
extern void (*OnStuck)(int16_t x, int16_t y, uint16_t colour);

inline constexpr int32_t CentreX = 512;
inline constexpr int32_t CentreY = 384;
inline constexpr Extended StartRadius = 60.0L;
inline constexpr Extended EscapeFactor = 1.05L;
inline constexpr Extended RadiusStep = 3.0L;

// The runtime's cosine, sine and root, alike in every build of the
// programs, so that the launch point and distances are too.
using sys::Cos;
using sys::Sin;
using sys::Sqrt;
inline constexpr Extended Pi = 3.14159265358979323846264338327950288L;

// Squared distance of (X, Y) from the centre, in checked 32-bit integers:
// never negative, so below 2^31.
[[gnu::always_inline]] inline int32_t SquaredDistance() {
  const int32_t dx = sys::SubChecked(X, CentreX);
  const int32_t dy = sys::SubChecked(Y, CentreY);
  return sys::AddChecked(sys::MulChecked(dx, dx), sys::MulChecked(dy, dy));
}

// Distance of (X, Y) from the centre: the root in extended precision.
[[gnu::always_inline]] inline Extended Distance() { return Sqrt(static_cast<Extended>(SquaredDistance())); }

// The escape test without a root: Distance() >= EscapeFactor * r holds
// exactly when SquaredDistance() >= EscapeLeast(r), the least squared
// distance whose extended root reaches the escape distance (2^31, which no
// squared distance reaches, when there is none).  The extended root of an
// integer is the correctly rounded root under the control word, and both
// the root and rounding are monotone, so the squared distances that pass
// the test are exactly those from some least one upward; EscapeLeast finds
// that one with the same root and comparison the test makes, under the
// control word in force.
uint32_t EscapeLeast(Extended r);

// EscapeLeast(R), worked out again only when R or the control word changed.
uint32_t EscapeLeastOfR();

// The colour rules.
struct WhiteRule {
  static constexpr uint16_t SeedColour = 15;
  static constexpr uint8_t TouchBit = graph::TouchWhite;
  static bool Holds(uint16_t v) { return v == 15; }
  static uint16_t Colour() { return 15; }
  static void AfterDraw() {}
};

struct RadialRule {
  static constexpr uint16_t SeedColour = 1;
  static constexpr uint8_t TouchBit = graph::TouchAny;
  static bool Holds(uint16_t v) { return v > 0; }
  static uint16_t Colour() { return sys::ToWord(sys::Round(Distance() + 20.0L)); }
  static void AfterDraw() {}
};

struct OrderRule {
  static constexpr uint16_t SeedColour = 1;
  static constexpr uint8_t TouchBit = graph::TouchAny;
  static bool Holds(uint16_t v) { return v > 0; }
  static uint16_t Colour() {
    return sys::Int64ToWord(sys::Trunc(static_cast<Extended>(SZIN) / 10.0L));
  }
  static void AfterDraw() { SZIN = sys::AddChecked(SZIN, 1); }
};

void GRAFIKA();

// Where the walk finds and draws the aggregate: in the programs, the
// graphics surface through its hooks.  The benchmark puts a plain array in
// its place to measure what the graphics module costs.
struct HookSurface {
  static uint16_t Get(int16_t x, int16_t y) { return graph::GetPixel(x, y); }
  static void Put(int16_t x, int16_t y, uint16_t colour) { graph::PutPixel(x, y, colour); }
  // The touching map, which only the driver's own GetPixel has.
  static bool HasTouching() { return graph::GetPixel == graph::GetPixel16Win32GUI; }
  static graph::Touching EnterTouching(int32_t lox, int32_t loy, int32_t hix, int32_t hiy, graph::TouchingView& v) {
    return graph::EnterTouching(lox, loy, hix, hiy, v);
  }
  static void LeaveTouching() { graph::LeaveTouching(); }
  static bool PrepareTouching(int32_t lox, int32_t loy, int32_t hix, int32_t hiy) {
    return graph::PrepareTouching(lox, loy, hix, hiy);
  }
  static void TouchingWaited(uint64_t steps) { graph::TouchingWaited(steps); }
};

// ------------------------------------------------------------------ lanes
// The walk's fast road: Random(3) results from a block computed ahead in
// vector lanes, and the neighbour test as one load from the touching map.
// It is taken only where it cannot differ from the walk below: the map
// answers as eight probes through the driver's GetPixel would, the lanes
// give the generator's own results, and every place the walk can reach
// lies so near the centre that none of the walk's checks can fail.  At
// each end (stuck, escaped, or handed back) the generator's states, the
// place and the step count are what the walk one draw at a time leaves.
namespace lanes {

// The block, and the index of its next draw (-1 before the first fill); it
// carries over from walk to walk when the launch between took one draw.
extern sys::ThirdsBlock Block;
extern int32_t Next;

// The largest escape threshold the fast road takes: places within about
// 2 000 of the centre, far inside 16 bits, with squared distances far
// below 2^31.
inline constexpr uint32_t kMaxEscape = 2000u * 2000u;

enum class End : uint8_t { Stuck, Escaped, Busy, Missing };

// The places a walk inside the escape circle can reach, and their
// neighbours' bytes: the circle's bounding square and two more.
struct Box {
  int32_t lox, loy, hix, hiy;
};
Box BoxOf(uint32_t escape);

// The generator's states after draw i of the block put back.
[[gnu::always_inline]] inline void Leave(int32_t i) {
  if (i > 0) {
    sys::RandSeed = sys::OldRandSeed = Block.a[i - 1];
    sys::Seed2 = Block.b[i - 1];
    sys::Seed3 = Block.c[i - 1];
  }
}

// Finds the generator's states in the block near where the last walk left
// it (the launch between takes one draw), else fills it anew.
[[gnu::always_inline]] inline int32_t Resume(sys::Lanes set) {
  if (Next < 0) [[unlikely]] {
    sys::FillThirds(set, sys::RandSeed, sys::Seed2, sys::Seed3, Block);
    return 0;
  }
  const int32_t from = Next > 0 ? Next - 1 : 0, to = Next + 2 < Block.kSize ? Next + 2 : Block.kSize - 1;
  for (int32_t j = from; j <= to; ++j)
    if (Block.a[j] == sys::RandSeed && Block.b[j] == sys::Seed2 && Block.c[j] == sys::Seed3) return j + 1;
  sys::FillThirds(set, sys::RandSeed, sys::Seed2, sys::Seed3, Block);
  return 0;
}

// A draw the lanes left to the exact path.
[[gnu::noinline]] int32_t ExactStep(int32_t i);

// Walks on the fast road from (X, Y) until the particle sticks or escapes,
// or the map cannot answer; the walk then goes on one draw at a time.
template <class Rule, class Surface>
[[gnu::always_inline]] inline End Walk(sys::Lanes set, uint32_t escape, const Box& box) {
  graph::TouchingView view;
  graph::Touching t = Surface::EnterTouching(box.lox, box.loy, box.hix, box.hiy, view);
  if (t != graph::Touching::Ready) return t == graph::Touching::Busy ? End::Busy : End::Missing;
  int32_t i = Resume(set);
  int32_t x = X, y = Y;
  uint64_t steps = 0;
  End end;
  for (;;) {
    if (i + 2 > Block.kSize) [[unlikely]] {
      // A fresh block from the last draw taken, the map's lock let go
      // meanwhile so that the window thread is never kept waiting long.
      Surface::LeaveTouching();
      Leave(i);
      sys::FillThirds(set, sys::RandSeed, sys::Seed2, sys::Seed3, Block);
      i = 0;
      t = Surface::EnterTouching(box.lox, box.loy, box.hix, box.hiy, view);
      if (t != graph::Touching::Ready) {
        end = t == graph::Touching::Busy ? End::Busy : End::Missing;
        break;
      }
    }
    int32_t dx = Block.step[i], dy = Block.step[i + 1];
    if (((dx + 1) | (dy + 1)) & ~3) [[unlikely]] {
      if (dx == sys::ThirdsBlock::kExact) dx = ExactStep(i);
      if (dy == sys::ThirdsBlock::kExact) dy = ExactStep(i + 1);
    }
    i += 2;
    x += dx, y += dy;
    ++steps;
    if (view.cells[static_cast<std::ptrdiff_t>(y) * view.stride + x + view.offset] & Rule::TouchBit) {
      end = End::Stuck;
      Surface::LeaveTouching();
      break;
    }
    const int32_t ex = x - CentreX, ey = y - CentreY;
    if (static_cast<uint32_t>(ex * ex + ey * ey) >= escape) {
      end = End::Escaped;
      Surface::LeaveTouching();
      break;
    }
  }
  Leave(i);
  Next = i;
  X = static_cast<int16_t>(x), Y = static_cast<int16_t>(y);
  Steps += steps;
  return end;
}

// Whether this walk may take the fast road at all.
template <class Surface>
[[gnu::always_inline]] inline bool Wanted(sys::Lanes set, uint32_t escape) {
  if (set == sys::Lanes::None || escape > kMaxEscape || !Surface::HasTouching()) return false;
  // A generator about to reseed, or a particle outside the circle, goes the
  // plain way.
  if (sys::InitialSeed || sys::RandSeed != sys::OldRandSeed) return false;
  const int64_t dx = X - CentreX, dy = Y - CentreY;
  return static_cast<uint64_t>(dx * dx + dy * dy) < escape;
}

}  // namespace lanes

// Probes one neighbour through get(x, y); its coordinates are checked
// before the call.
template <class Rule, class Get>
[[gnu::always_inline]] inline bool Neighbour(int32_t dx, int32_t dy, Get get) {
  const int16_t nx = dx == 0 ? X : sys::ToInt16(sys::AddChecked(X, dx));
  const int16_t ny = dy == 0 ? Y : sys::ToInt16(sys::AddChecked(Y, dy));
  return Rule::Holds(get(nx, ny));
}

// The neighbour test: the eight neighbours in their fixed order, up to the
// first that holds.
template <class Rule, class Get>
[[gnu::always_inline]] inline bool AnyNeighbour(Get get) {
  return Neighbour<Rule>(1, 1, get) || Neighbour<Rule>(1, 0, get) || Neighbour<Rule>(1, -1, get) ||
         Neighbour<Rule>(0, 1, get) || Neighbour<Rule>(0, -1, get) || Neighbour<Rule>(-1, 1, get) ||
         Neighbour<Rule>(-1, 0, get) || Neighbour<Rule>(-1, -1, get);
}

// The neighbour test on the walk's surface.  Through the hooks, a step's
// eight probes are read as one block when the GetPixel hook is the window
// driver's own routine (the same answers, one lock entry); any other hook
// sees every probe.
template <class Rule, class Surface>
[[gnu::always_inline]] inline bool NeighbourFound() {
  if constexpr (std::is_same_v<Surface, HookSurface>) {
    graph::BlockReader block;
    if (block.Enter(X, Y)) [[likely]] {
      const int16_t x = X, y = Y;
      const bool found = AnyNeighbour<Rule>([&](int16_t nx, int16_t ny)
                                                __attribute__((always_inline)) { return block.At(nx - x, ny - y); });
      block.Leave();
      return found;
    }
  }
  return AnyNeighbour<Rule>(Surface::Get);
}

// Walks the particle placed at (X, Y) until it sticks or escapes.  A
// routine of its own, so that a run-time error report shows the call.
template <class Rule, class Surface = HookSurface>
[[gnu::noinline]] void TAPAD() {
  bool JO = false;
  const uint32_t escape = EscapeLeastOfR();  // R stays as it is until the walk ends
  // The fast road first, where it can be taken; the walk below one draw at
  // a time where it cannot.
  const sys::Lanes set = sys::LanesInUse();
  bool fast = lanes::Wanted<Surface>(set, escape);
  bool asked = false, waited = false;
  const uint64_t first = Steps;
  lanes::Box box{};
  if (fast) box = lanes::BoxOf(escape);
  for (;;) {
    if (fast) [[likely]] {
      const lanes::End end = lanes::Walk<Rule, Surface>(set, escape, box);
      if (end == lanes::End::Stuck) {
        JO = true;
        break;
      }
      if (end == lanes::End::Escaped) break;
      if (end == lanes::End::Missing) {
        if (!asked) {
          asked = true;
          if (Surface::PrepareTouching(box.lox, box.loy, box.hix, box.hiy)) continue;
        }
        fast = false;
        waited = true;
      }
    }
    X = sys::ToInt16(sys::SubChecked(sys::AddChecked(X, sys::Random(3)), 1));
    Y = sys::ToInt16(sys::SubChecked(sys::AddChecked(Y, sys::Random(3)), 1));
    ++Steps;
    JO = NeighbourFound<Rule, Surface>();
    if (JO) break;
    if (static_cast<uint32_t>(SquaredDistance()) >= escape) break;
  }
  if (waited) [[unlikely]]
    Surface::TouchingWaited(Steps - first);
  if (JO) {
    const uint16_t colour = Rule::Colour();
    Surface::Put(X, Y, colour);
    Rule::AfterDraw();
    if (Distance() >= R - RadiusStep) R = R + RadiusStep;
    if (OnStuck) OnStuck(X, Y, colour);
  }
}

// Places the particle on the launch circle at angle SZOG.  Both this and
// Launch are part of their caller, as a report's frame lines show.
[[gnu::always_inline]] inline void Place() {
  const Extended angle = Pi * static_cast<Extended>(SZOG) / 1800.0L;
  X = sys::ToInt16(sys::AddChecked(CentreX, sys::Round(R * Cos(angle))));
  Y = sys::ToInt16(sys::AddChecked(CentreY, sys::Round(R * Sin(angle))));
}

// Draws a launch angle and places the particle.
[[gnu::always_inline]] inline void Launch() {
  SZOG = sys::ToInt16(sys::Random(3600));
  Place();
  ++Launched;
}

// Start: launch radius, graphics, seed pixel.
template <class Rule>
[[gnu::always_inline]] inline void Start() {
  R = StartRadius;
  SZIN = 200;
  GRAFIKA();
  graph::PutPixel(static_cast<int16_t>(CentreX), static_cast<int16_t>(CentreY), Rule::SeedColour);
}

// The particle loop: a key in the console ends it between particles.  It is
// part of the main program, not a routine of its own.
template <class Rule>
[[gnu::always_inline]] inline void Grow() {
  do {
    Launch();
    TAPAD<Rule>();
  } while (!crt::KeyPressed());
}

// The closing line input, then graphics closed.
[[gnu::always_inline]] inline void Finish() {
  sys::ReadLn_End(sys::Input);
  sys::Int_IOCheck();
  graph::CloseGraph();
}

// The whole main program after the module initialisation.
template <class Rule>
void MainProgram() {
  sys::IsConsole = true;
  sys::InitializeUnits();
  sys::Randomize();
  Start<Rule>();
  Grow<Rule>();
  Finish();
}

// The programs' module table, in its fixed order.
void InstallUnitTable();

}  // namespace agg
