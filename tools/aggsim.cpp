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
#include "graph/headless/headless_window.h"
#include "graph/window.h"
#include "runtime/headless/scripted_console.h"
#include "tools/pngfile.h"

namespace {

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
};

Options opt;
uint64_t stuck = 0;
std::string traceText;

constexpr const char* kUsage =
    "usage: aggsim [--rule white|radial|order] [--seed N] [--particles N] [--screen WxH] "
    "[--png FILE] [--trace FILE] [--start-radius R]";

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
}

// After the last wanted particle the runner presses Enter in the console,
// which ends the loop and the closing line input as a user's key would.
void CountStuck(int16_t x, int16_t y, uint16_t colour) {
  if (!opt.trace.empty()) {
    char line[32];
    const int n = std::snprintf(line, sizeof line, "%d,%d,%u\n", x, y, colour);
    traceText.append(line, static_cast<size_t>(n));
  }
  if (++stuck == opt.particles) crt::scripted::PushKey(0x0D, 28, 13);
}

void WriteOutputs() {
  std::string err;
  if (!opt.png.empty()) {
    std::lock_guard<graph::DrawLock> hold(graph::GraphDrawing);
    if (graph::GraphRunning) {
      err = tools::WritePng(opt.png, graph::BackBuffer.Pixels, graph::BackBuffer.Width, graph::BackBuffer.Height);
    } else {
      err = "cannot write " + opt.png + ": the surface is gone";
    }
  }
  if (err.empty() && !opt.trace.empty()) err = tools::WriteTextFile(opt.trace, traceText);
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
  if (opt.startRadiusSet) agg::R = opt.startRadius;
  agg::OnStuck = CountStuck;
  const auto t0 = std::chrono::steady_clock::now();
  agg::Grow<Rule>();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  WriteOutputs();
  agg::Finish();
  Summary(seconds);
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
    const std::string err = tools::CheckWritable(*path);
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
