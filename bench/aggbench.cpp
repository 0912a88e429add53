// aggbench: how fast the walk runs against its own bounds, in one sitting.
//
//   0. today's road: the shipped path drawing one number at a time and
//      probing the eight neighbours, as on a processor without the lanes
//      or under a replaced hook;
//   1. the generator alone: as many Random(3) pairs as the walk draws, in
//      the lanes the walk uses;
//   2. a bare loop: the same walk, lanes, touching map, checks, escape
//      threshold and colour rule on a plain array of palette indices, with
//      no hook, lock or palette: a bound for 3;
//   3. the shipped path: the programs' code through the drawing hooks, the
//      lock and the palette on the in-memory window;
//   4. the shipped path on a live X11 window, run by the desktop build of
//      this program as a child process when a display is there.
// 0, 2, 3 and 4 must stick the same particles in the same order.
//
// Each figure is the walking thread's processor time, not the clock's: on a
// machine shared with other work the clock also counts the time spent
// waiting for a processor.  Where the system keeps no thread times the
// clock is used, and the output says so.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "aggregation/program.h"
#include "bench/bench_args.h"
#include "graph/graph.h"
#include "graph/touching.h"
#include "graph/window.h"
#include "runtime/random_lanes.h"
#ifndef _WIN32
#include "io/process.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using agg::Extended;

bool useClock = false;  // the system keeps no thread times

// A stopwatch of the calling thread's processor time.
struct Stopwatch {
  Clock::time_point wall = Clock::now();
  double cpu = sys::os::ThreadCpuSeconds();
  double Seconds() const {
    if (!useClock) {
      const double used = sys::os::ThreadCpuSeconds() - cpu;
      if (used > 0) return used;
      useClock = true;
    }
    return std::chrono::duration<double>(Clock::now() - wall).count();
  }
};

struct Figures {
  uint64_t steps = 0;
  double seconds = 0;
  uint64_t hash = 0;  // of the stuck particles, in order
  double rate() const { return seconds > 0 ? static_cast<double>(steps) / seconds : 0; }
};

uint32_t seed = 12345;
uint64_t particles = 2000;
int rounds = 3;
uint64_t stuck = 0;
uint64_t hash = 0;

void Record(int16_t x, int16_t y, uint16_t colour) {
  // FNV-1a over the stuck particles.
  for (uint64_t v : {uint64_t(uint16_t(x)), uint64_t(uint16_t(y)), uint64_t(colour)}) {
    hash = (hash ^ v) * 1099511628211ull;
  }
  ++stuck;
}

void FreshGenerator() {
  sys::RandSeed = seed;
  sys::InitialSeed = true;
}

// The walk's surface as a plain array of what each pixel reads back as,
// with its own touching map.
struct ArraySurface {
  static inline std::vector<uint8_t> cells;
  static inline int32_t width = 0, height = 0;
  static inline uint8_t readBack[256];
  static inline graph::TouchingMap touching;

  static void Reset(int32_t w, int32_t h) {
    width = w, height = h;
    cells.assign(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
    touching.Clear();
    // The nearest built-in entry to each entry's colour, lowest index first.
    for (int i = 0; i < 256; ++i) {
      const graph::RGBRec& c = graph::DefaultColors[i];
      int best = 0, bestD = 1 << 30;
      for (int j = 0; j < 256 && bestD != 0; ++j) {
        const graph::RGBRec& e = graph::DefaultColors[j];
        const int d = std::abs(c.Red - e.Red) + std::abs(c.Green - e.Green) + std::abs(c.Blue - e.Blue);
        if (d < bestD) best = j, bestD = d;
      }
      readBack[i] = static_cast<uint8_t>(best);
    }
  }
  static uint16_t Value(int32_t x, int32_t y) {
    if (x < 0 || y < 0 || x >= width || y >= height) return 0;
    return cells[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
  }
  static uint16_t Get(int16_t x, int16_t y) { return Value(x, y); }
  static void Put(int16_t x, int16_t y, uint16_t colour) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    cells[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = readBack[colour & 0xFF];
    touching.Changed(x, y, x, y, [](int32_t px, int32_t py) { return Value(px, py); });
  }

  static bool HasTouching() { return true; }
  static graph::Touching EnterTouching(int32_t lox, int32_t loy, int32_t hix, int32_t hiy, graph::TouchingView& v) {
    if (!touching.Covers(lox, loy, hix, hiy)) return graph::Touching::Missing;
    v.cells = touching.Cells();
    v.stride = touching.Width();
    v.offset = -static_cast<std::ptrdiff_t>(touching.Y0()) * touching.Width() - touching.X0();
    return graph::Touching::Ready;
  }
  static void LeaveTouching() {}
  // Made as the driver makes its own: a quarter more room each side.
  static bool PrepareTouching(int32_t lox, int32_t loy, int32_t hix, int32_t hiy) {
    const int32_t sx = std::max<int32_t>(64, (hix - lox) / 4), sy = std::max<int32_t>(64, (hiy - loy) / 4);
    touching.Build(lox - sx, loy - sy, hix - lox + 1 + 2 * sx, hiy - loy + 1 + 2 * sy,
                   [](int32_t px, int32_t py) { return Value(px, py); });
    return true;
  }
  static void TouchingWaited(uint64_t) {}
};

template <class Rule, class Surface>
Figures Grow() {
  FreshGenerator();
  agg::R = agg::StartRadius;
  agg::SZIN = 200;
  agg::Steps = 0;
  stuck = 0;
  hash = 14695981039346656037ull;
  agg::OnStuck = Record;
  Surface::Put(agg::CentreX, agg::CentreY, Rule::SeedColour);
  const Stopwatch watch;
  while (stuck < particles) {
    agg::Launch();
    agg::TAPAD<Rule, Surface>();
  }
  const double s = watch.Seconds();
  agg::OnStuck = nullptr;
  return {agg::Steps, s, hash};
}

void OpenGraphics() {
  sys::InitSystemUnit();
  graph::InitializeGraph();
  agg::GRAFIKA();
  if (graph::GraphResult() != 0) {
    std::fprintf(stderr, "aggbench: graphics could not be opened\n");
    std::exit(1);
  }
}

template <class Rule>
Figures Shipped() {
  graph::ClearViewPort();
  return Grow<Rule, agg::HookSurface>();
}

// Today's road: the same program with the lanes turned off.
template <class Rule>
Figures OneDrawAtATime() {
  const sys::Lanes set = sys::LanesInUse();
  sys::UseLanes(sys::Lanes::None);
  const Figures f = Shipped<Rule>();
  sys::UseLanes(set);
  return f;
}

// The draws the walk takes, as it takes them: from blocks in the lanes
// in use, or one at a time.
Figures GeneratorBound(uint64_t steps) {
  FreshGenerator();
  int64_t sink = 0;
  const sys::Lanes set = sys::LanesInUse();
  const Stopwatch watch;
  if (set == sys::Lanes::None) {
    for (uint64_t i = 0; i < steps; ++i) sink += sys::Random(3) + sys::Random(3);
  } else {
    static sys::ThirdsBlock block;
    (void)sys::Random(3);
    for (uint64_t draws = 0; draws < 2 * steps; draws += block.kSize) {
      sys::FillThirds(set, sys::RandSeed, sys::Seed2, sys::Seed3, block);
      for (int i = 0; i < block.kSize; ++i) sink += block.step[i];
      sys::RandSeed = sys::OldRandSeed = block.a[block.kSize - 1];
      sys::Seed2 = block.b[block.kSize - 1], sys::Seed3 = block.c[block.kSize - 1];
    }
  }
  const double s = watch.Seconds();
  if (sink == -1) std::puts("");
  return {steps, s, 0};
}

// Best of a few rounds, so that a moment's noise does not decide.
template <class F>
Figures Best(F run) {
  Figures best = run();
  for (int i = 1; i < rounds; ++i) {
    const Figures f = run();
    if (f.seconds < best.seconds) best = f;
  }
  return best;
}

using Rule = agg::RadialRule;

// The walking thread's processor time for one drawn pixel, each drawn after
// `apart` seconds of busy work as a stuck particle is after its walk: drawn
// back to back they would find the display's server still awake, which
// costs far less than waking it.
double DrawnPixelSeconds(double apart) {
  constexpr int kPixels = 400;
  apart = std::clamp(apart, 1e-6, 1e-3);
  double used = 0;
  for (int i = 0; i < kPixels; ++i) {
    const Clock::time_point until = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                       std::chrono::duration<double>(apart));
    while (Clock::now() < until) {
    }
    const Stopwatch watch;
    graph::PutPixel(static_cast<int16_t>(i % 16), 0, static_cast<uint16_t>(1 + i % 15));
    used += watch.Seconds();
  }
  return used / kPixels;
}

void ChildProgram() {
  OpenGraphics();
  const Figures f = Best([] { return Shipped<Rule>(); });
  const double pixel = DrawnPixelSeconds(f.seconds / static_cast<double>(particles));
  std::printf("%llu %.9f %llu %.9f\n", static_cast<unsigned long long>(f.steps), f.seconds,
              static_cast<unsigned long long>(f.hash), pixel);
  std::fflush(stdout);
  graph::CloseGraph();
}

// ---- Where the live-window figure comes from (the helper's lookup) ----

const char* self = "aggbench";  // this program's own file
std::string liveMissing;        // why there is no live-window figure

// The live-window figure from the desktop build's helper, if there is one
// and a display to run it on; otherwise liveMissing says why not.
bool LiveWindow(const char* self, Figures& out, double& pixel) {
#ifdef _WIN32
  (void)self, (void)out, (void)pixel;
  liveMissing = "no X11 window on Windows";
  return false;
#else
  if (!std::getenv("DISPLAY")) {
    liveMissing = "DISPLAY is not set";
    return false;
  }
  std::string looked;
  const std::string helper = bench::FindHelper(self, looked);
  if (helper.empty()) {
    liveMissing = std::string(bench::kHelperName) + " not found" +
                  (looked.empty() ? ": aggbench's own folder is unknown" : " in " + looked);
    return false;
  }
  std::string text;
  liveMissing = helper + " could not measure on DISPLAY " + std::getenv("DISPLAY");
  if (!io::RunChild({helper, "--child", "--seed", std::to_string(seed), "--particles", std::to_string(particles),
                     "--rounds", std::to_string(rounds)},
                    text))
    return false;
  unsigned long long steps = 0, h = 0;
  double s = 0;
  const bool ok = std::sscanf(text.c_str(), "%llu %lf %llu %lf", &steps, &s, &h, &pixel) == 4;
  return ok && (out = {steps, s, h}, true);
#endif
}

// ---- end of the helper's lookup ----

void BenchProgram() {
  OpenGraphics();
  ArraySurface::Reset(graph::GetMaxX() + 1, graph::GetMaxY() + 1);
  const Figures shipped = Best([] { return Shipped<Rule>(); });
  const Figures today = Best([] { return OneDrawAtATime<Rule>(); });
  const Figures bare = Best([] {
    ArraySurface::Reset(ArraySurface::width, ArraySurface::height);
    return Grow<Rule, ArraySurface>();
  });
  const Figures gen = Best([&] { return GeneratorBound(shipped.steps); });
  Figures live;
  double pixel = 0;  // the walking thread's time for one pixel drawn on the live window
  const bool haveLive = LiveWindow(self, live, pixel);

  std::printf("aggradial, seed %u, %llu particles, %llu walk steps, best of %d rounds, %s, lanes %s\n", seed,
              static_cast<unsigned long long>(particles), static_cast<unsigned long long>(shipped.steps), rounds,
              useClock ? "by the clock" : "by processor time", sys::LanesName(sys::LanesInUse()));
  std::printf("  0 one draw at a time%12.0f steps/s\n", today.rate());
  std::printf("  1 generator bound   %12.0f steps/s\n", gen.rate());
  std::printf("  2 bare loop         %12.0f steps/s\n", bare.rate());
  std::printf("  3 shipped, headless %12.0f steps/s\n", shipped.rate());
  if (haveLive)
    std::printf("  4 shipped, X11      %12.0f steps/s\n", live.rate());
#ifndef _WIN32
  // Windows has no X11 window to measure: the figure is left out there.
  else
    std::printf("  4 shipped, X11      not measured (%s)\n", liveMissing.c_str());
#endif
  std::printf("  ratio 3/0 %.3f   ratio 3/2 %.3f   ratio 3/1 %.3f", shipped.rate() / today.rate(),
              shipped.rate() / bare.rate(), shipped.rate() / gen.rate());
  if (haveLive) std::printf("   ratio 4/3 %.3f", live.rate() / shipped.rate());
  std::printf("\n");
  if (haveLive) {
    // Each stuck particle is drawn and sent to the display at once, so 4
    // can be no faster than 3 with one such pixel added per particle: the
    // bound that the display's own cost sets, whatever the walk does.
    const double walk = shipped.seconds / static_cast<double>(particles);
    std::printf("  one pixel drawn on the live window %.1f us, one particle's walk %.1f us: 4/3 at most %.3f\n",
                pixel * 1e6, walk * 1e6, walk / (walk + pixel));
  }
  bool same = bare.hash == shipped.hash && bare.steps == shipped.steps && today.hash == shipped.hash &&
              today.steps == shipped.steps;
  if (haveLive) same = same && live.hash == shipped.hash && live.steps == shipped.steps;
  std::printf("  same particles in the same order: %s\n", same ? "yes" : "NO - FAILURE");
  // Figures that never reached their reader are not a measurement.
  const bool written = std::fflush(stdout) == 0 && !std::ferror(stdout);
  if (!written) std::fprintf(stderr, "aggbench: cannot write the figures: %s\n", std::strerror(errno));
  graph::CloseGraph();
  if (!same || !written) sys::Halt(1);
}

}  // namespace

// ---- The command line (parsed in bench_args.cpp) ----

int main(int argc, char** argv) {
  const bench::BenchArgs args = bench::ParseBenchArgs(std::vector<std::string>(argv + 1, argv + argc));
  if (args.help) {
    std::fputs(bench::BenchHelp().c_str(), stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
  }
  if (!args.error.empty()) {
    std::fprintf(stderr, "aggbench: %s\nTry 'aggbench --help'.\n", args.error.c_str());
    return 2;
  }
  seed = args.seed;
  particles = args.particles;
  rounds = args.rounds;
  // The helper is looked for from this program's real file, wherever it was
  // started from.
#ifndef _WIN32
  static const std::string own = bench::OwnFile(io::SelfPath(), argv[0], std::getenv("PATH"));
  self = own.c_str();
#endif
  sys::Exe_Entry(args.child ? ChildProgram : BenchProgram);
}
