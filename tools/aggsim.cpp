// aggsim: the programs' own particle loop on the headless backends, for a
// user at a terminal: reproducible seeds, a particle count instead of a
// key, a trace of the stuck particles and the picture as a PNG.
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "aggregation/program.h"
#include "tools/progress.h"
#include "graph/headless/headless_window.h"
#include "graph/window.h"
#include "runtime/headless/scripted_console.h"
#include "tools/image.h"
#include "tools/outfile.h"
#include "tools/stats.h"

namespace {

using Clock = std::chrono::steady_clock;

enum class RuleKind { White, Radial, Order };

struct Options {
  RuleKind rule = RuleKind::White;
  bool seeded = false;
  uint32_t seed = 0;
  uint64_t particles = 1000;
  int32_t screenW = 1024, screenH = 768;
  std::string png, trace;
  bool startRadiusSet = false;
  sys::Extended startRadius = 0;
  bool particlesSet = false;
  double seconds = 0;  // 0: no time limit
  double radius = 0;   // 0: no radius limit
  bool stats = false;
};

Options opt;
uint64_t stuck = 0;
bool ended = false;
std::string traceText;
std::vector<tools::Point> cluster;
Clock::time_point started;

constexpr const char* kUsage =
    "usage: aggsim [--rule white|radial|order] [--seed N] [--particles N] [--seconds S] [--radius R]\n"
    "              [--screen WxH] [--png FILE] [--trace FILE] [--stats] [--start-radius R]";

[[noreturn]] void Usage(const std::string& why) {
  std::fprintf(stderr, "aggsim: %s\n%s\n", why.c_str(), kUsage);
  std::exit(2);
}

template <class T>
bool ParseNumber(std::string_view s, T& out) {
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

void Parse(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--help" || a == "-h") {
      std::printf("%s\n", kUsage);
      std::exit(0);
    }
    if (a == "--stats") {
      opt.stats = true;
      continue;
    }
    if (i + 1 >= argc) Usage("missing value for " + std::string(a));
    const std::string_view v = argv[++i];
    const std::string bad = "bad value for " + std::string(a) + ": " + std::string(v);
    if (a == "--rule") {
      if (v == "white") opt.rule = RuleKind::White;
      else if (v == "radial") opt.rule = RuleKind::Radial;
      else if (v == "order") opt.rule = RuleKind::Order;
      else Usage(bad);
    } else if (a == "--seed") {
      if (!ParseNumber(v, opt.seed)) Usage(bad);
      opt.seeded = true;
    } else if (a == "--particles") {
      if (!ParseNumber(v, opt.particles) || opt.particles == 0) Usage(bad);
      opt.particlesSet = true;
    } else if (a == "--seconds") {
      if (!ParseNumber(v, opt.seconds) || !(opt.seconds > 0) || opt.seconds > 1e7) Usage(bad);
    } else if (a == "--radius") {
      if (!ParseNumber(v, opt.radius) || !(opt.radius > 0) || opt.radius > 1e6) Usage(bad);
    } else if (a == "--screen") {
      const size_t x = v.find('x');
      if (x == std::string_view::npos || !ParseNumber(v.substr(0, x), opt.screenW) ||
          !ParseNumber(v.substr(x + 1), opt.screenH) || opt.screenW < 1 || opt.screenH < 50 ||
          opt.screenW > 16384 || opt.screenH > 16384)
        Usage(bad);
    } else if (a == "--png") {
      opt.png = v;
    } else if (a == "--trace") {
      opt.trace = v;
    } else if (a == "--start-radius") {
      double r = 0;
      if (!ParseNumber(v, r) || !(r >= 0) || r > 1e9) Usage(bad);
      opt.startRadius = static_cast<sys::Extended>(r);
      opt.startRadiusSet = true;
    } else {
      Usage("unknown option " + std::string(a));
    }
  }
  // A time or a radius to reach ends the run by itself; a count then
  // applies only when one is given too.
  if (!opt.particlesSet && (opt.seconds > 0 || opt.radius > 0)) opt.particles = UINT64_MAX;
}

double Elapsed() { return std::chrono::duration<double>(Clock::now() - started).count(); }

tools::Progress progress;

// When the run has what it wants, the runner presses Enter in the console,
// which ends the loop and the closing line input as a user's key would.
void CountStuck(int16_t x, int16_t y, uint16_t colour) {
  ++stuck;
  if (!opt.trace.empty()) {
    char line[32];
    const int n = std::snprintf(line, sizeof line, "%d,%d,%u\n", x, y, colour);
    traceText.append(line, static_cast<size_t>(n));
  }
  if (opt.stats) cluster.push_back({x, y});
  const bool redraw = progress.Due();
  const double now = redraw || opt.seconds > 0 ? Elapsed() : 0;
  const bool done = stuck >= opt.particles || (opt.seconds > 0 && now >= opt.seconds) ||
                    (opt.radius > 0 && static_cast<double>(agg::R) >= opt.radius);
  if (redraw) {
    double left = -1;
    if (opt.particles != UINT64_MAX) left = now / static_cast<double>(stuck) * static_cast<double>(opt.particles - stuck);
    if (opt.seconds > 0) left = left < 0 ? opt.seconds - now : std::min(left, opt.seconds - now);
    progress.Show(stuck, opt.particles == UINT64_MAX ? 0 : opt.particles, static_cast<double>(agg::R),
                  static_cast<double>(agg::Steps) / std::max(now, 1e-9), left);
  }
  if (done && !ended) {
    ended = true;
    crt::scripted::PushKey(0x0D, 28, 13);
  }
}

void WriteOutputs() {
  std::string err;
  if (!opt.png.empty()) {
    std::string bytes;
    {
      std::lock_guard<graph::DrawLock> hold(graph::GraphDrawing);
      if (graph::GraphRunning) {
        err = tools::EncodeImage(tools::ImageFormat::Png,
                                 {graph::BackBuffer.Pixels, graph::BackBuffer.Width, graph::BackBuffer.Height}, bytes);
        if (!err.empty()) err = "cannot write " + opt.png + ": " + err;
      } else {
        err = "cannot write " + opt.png + ": the surface is gone";
      }
    }
    if (err.empty()) err = tools::WriteOutput(opt.png, bytes);
  }
  if (err.empty() && !opt.trace.empty()) err = tools::WriteOutput(opt.trace, traceText);
  if (!err.empty()) {
    sys::WriteStr(sys::StdErr, ("aggsim: " + err).c_str());
    sys::WriteLnEnd(sys::StdErr);
    sys::Halt(1);
  }
}

void Summary(double seconds) {
  char line[200];
  const double rate = seconds > 0 ? static_cast<double>(agg::Steps) / seconds : 0.0;
  std::snprintf(line, sizeof line, "stuck %llu, launched %llu, R %.1f, %.3f s, %.0f steps/s",
                static_cast<unsigned long long>(stuck), static_cast<unsigned long long>(agg::Launched),
                static_cast<double>(agg::R), seconds, rate);
  sys::WriteStr(sys::StdOut, line);
  sys::WriteLnEnd(sys::StdOut);
}

// Part of the main program (Program below), as the programs' own steps are.
template <class Rule>
[[gnu::always_inline]] inline void Run() {
  sys::IsConsole = true;
  sys::InitializeUnits();
  if (opt.seeded) {
    sys::RandSeed = opt.seed;
  } else {
    sys::Randomize();
  }
  agg::Start<Rule>();
  // The seed sits at a fixed point: on a surface too small to hold it no
  // particle can ever stick, and a run waiting for particles would never end.
  if (graph::GetMaxX() < agg::CentreX || graph::GetMaxY() < agg::CentreY) {
    char line[160];
    std::snprintf(line, sizeof line, "aggsim: the seed at (%d, %d) lies outside the %d x %d surface of this screen",
                  agg::CentreX, agg::CentreY, graph::GetMaxX() + 1, graph::GetMaxY() + 1);
    sys::WriteStr(sys::StdErr, line);
    sys::WriteLnEnd(sys::StdErr);
    sys::Halt(2);
  }
  if (opt.startRadiusSet) agg::R = opt.startRadius;
  agg::OnStuck = CountStuck;
  if (opt.stats) cluster.push_back({agg::CentreX, agg::CentreY});
  progress.Start(sys::os::IsTerminal(sys::os::GetStdHandle(sys::os::StdErrorHandle)));
  started = Clock::now();
  agg::Grow<Rule>();
  const double seconds = Elapsed();
  progress.Clear();
  WriteOutputs();
  agg::Finish();
  Summary(seconds);
  if (opt.stats) {
    sys::WriteStr(sys::StdOut, tools::Describe(tools::Measure(cluster)).c_str());
    sys::WriteLnEnd(sys::StdOut);
  }
}

void Program() {
  switch (opt.rule) {
    case RuleKind::White: Run<agg::WhiteRule>(); break;
    case RuleKind::Radial: Run<agg::RadialRule>(); break;
    case RuleKind::Order: Run<agg::OrderRule>(); break;
  }
}

}  // namespace

int main(int argc, char** argv) {
  Parse(argc, argv);
  for (const std::string* path : {&opt.png, &opt.trace}) {
    if (path->empty()) continue;
    const std::string err = tools::CheckOutput(*path);
    if (!err.empty()) {
      std::fprintf(stderr, "aggsim: %s\n", err.c_str());
      return 1;
    }
  }
  graph::headless::SetScreen(opt.screenW, opt.screenH);
  crt::scripted::Reset();
  agg::InstallUnitTable();
  sys::Exe_Entry(Program);
}
