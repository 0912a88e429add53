// aggsim: the programs' own particle loop on the headless backends, for a
// user at a terminal or a script: a run from a seed that ends by a count, a
// time or a radius instead of a key; its outputs (the picture, the trace, a
// film of the growth, the mass-radius profile) and figures; a progress line;
// and ensembles of runs, each in a process of its own.  The command line is
// apps/aggsim/aggsim_args; what is written, io/.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <iterator>
#include <vector>

#include "aggregation/program.h"
#include "graph/geometry.h"
#include "graph/headless/headless_window.h"
#include "graph/window.h"
#include "runtime/headless/scripted_console.h"
#include "apps/aggsim/aggsim_args.h"
#include "apps/aggsim/dla_run.h"
#include "apps/aggsim/ensemble.h"
#include "io/ensemble.h"
#include "io/film.h"
#include "io/giffile.h"
#include "io/growth.h"
#include "io/image.h"
#include "io/outfile.h"
#include "io/picture.h"
#include "io/progress.h"
#include "io/process.h"
#include "io/stats.h"
#include "io/stop.h"
#include "io/utf8.h"

namespace {

using Clock = std::chrono::steady_clock;
using aggsim::RuleKind;

aggsim::AggsimOptions opt;
uint64_t stuck = 0;
bool ended = false;
int stoppedBy = 0;  // the signal that ended the run, if one did
std::string traceText;
std::vector<io::Point> stuckAt;
std::unique_ptr<io::Film> film;
io::PictureCount picture;
io::AggregateStats figures;
io::RunProfile gridProfile;  // a run of an ensemble hands it back
// How the aggregate grew, particle by particle as they stuck (on the
// surface or not), about the seed: the estimators the standard model has too.
io::GyrationTracker growth;
std::string growthCurve, centreProfile;  // as a table holds them
Clock::time_point started;
io::Progress progress;
io::TimeLeft timeLeft;

// Messages may name files: they are written as the names' characters.
[[noreturn]] void Usage(const std::string& why) {
  // One line for the reason, as the common tools do; the whole usage would
  // bury it.
  io::WriteError("aggsim: " + why + "\n" + aggsim::kTryHelp + "\n");
  std::exit(2);
}

[[noreturn]] void Fail(const std::string& why) {
  io::WriteError("aggsim: " + why + "\n");
  std::exit(1);
}

double Elapsed() { return std::chrono::duration<double>(Clock::now() - started).count(); }

// The soonest of the ends asked for, from what the run has done so far.
double SecondsLeft(double now) {
  double left = -1;
  const auto sooner = [&](double l) {
    if (l >= 0) left = left < 0 ? l : std::min(left, l);
  };
  if (opt.particles != UINT64_MAX) {
    timeLeft.Sample(now, static_cast<double>(stuck), static_cast<double>(agg::Steps));
    sooner(timeLeft.To(static_cast<double>(opt.particles)));
  } else if (opt.radius > 0) {
    timeLeft.Sample(now, static_cast<double>(agg::R), static_cast<double>(agg::Steps));
    sooner(timeLeft.To(opt.radius));
  }
  if (opt.seconds > 0) sooner(std::max(0.0, opt.seconds - now));
  return left;
}

// When the run has what it wants, the runner presses Enter in the console,
// which ends the loop and the closing line input as a user's key would.
void CountStuck(int16_t x, int16_t y, uint16_t colour) {
  ++stuck;
  if (!opt.trace.empty()) {
    char line[32];
    const int n = std::snprintf(line, sizeof line, "%d,%d,%u\n", x, y, colour);
    traceText.append(line, static_cast<size_t>(n));
  }
  stuckAt.push_back({x, y});
  if (film) film->Stuck(stuck);
  const bool redraw = progress.Due();
  const double now = redraw || opt.seconds > 0 ? Elapsed() : 0;
  const int stop = io::StopRequested();
  const bool done = stuck >= opt.particles || (opt.seconds > 0 && now >= opt.seconds) ||
                    (opt.radius > 0 && static_cast<double>(agg::R) >= opt.radius) || stop != 0;
  if (redraw) {
    progress.Show({stuck, opt.particles == UINT64_MAX ? 0 : opt.particles, static_cast<double>(agg::R),
                   static_cast<double>(agg::Steps) / std::max(now, 1e-9), SecondsLeft(now), film ? film->Frames() : -1});
  }
  if (done && !ended) {
    ended = true;
    stoppedBy = stop;
    crt::scripted::PushKey(0x0D, 28, 13);
  }
}

// Every output is opened (its temporary made) before any is written, and
// replaced only when all are written: a run's files match each other.
void WriteOutputs() {
  // From here a stop request has nothing left to stop gently: it ends the
  // process, and no temporary stays.
  io::StopAtOnceFromNow();
  io::OutputFile png, trace, gif, profile, grown;
  io::Status err;
  if (!opt.png.empty()) err = png.Open(opt.png);
  if (err.ok() && !opt.trace.empty()) err = trace.Open(opt.trace);
  if (err.ok() && !opt.gif.empty()) err = gif.Open(opt.gif);
  if (err.ok() && !opt.profile.empty()) err = profile.Open(opt.profile);
  if (err.ok() && !opt.growth.empty()) err = grown.Open(opt.growth);
  if (err.ok() && !opt.growth.empty()) err = grown.Write(io::RunGrowthText(growthCurve));
  if (err.ok() && film) {
    std::string bytes;
    err = film->Finish(stuck, bytes);
    err = err.ok() ? gif.Write(bytes) : io::Status("cannot write " + opt.gif + ": " + err.reason());
  }
  if (err.ok() && !opt.profile.empty())
    err = profile.Write(io::ProfileText(io::Profile(picture.points, {agg::CentreX, agg::CentreY}, figures)));
  if (err.ok() && !opt.png.empty()) {
    // The surface is copied under the lock into memory asked for before it,
    // and encoded outside: a heap overflow under the lock would end the
    // program with the window thread waiting for that lock.
    int32_t w = 0, h = 0;
    {
      std::lock_guard<graph::DrawLock> hold(graph::GraphDrawing);
      if (graph::GraphRunning) w = graph::BackBuffer.Width, h = graph::BackBuffer.Height;
    }
    std::vector<uint32_t> copy(static_cast<size_t>(w) * static_cast<size_t>(h));
    bool copied = false;
    {
      std::lock_guard<graph::DrawLock> hold(graph::GraphDrawing);
      if (graph::GraphRunning && graph::BackBuffer.Width == w && graph::BackBuffer.Height == h) {
        std::copy_n(graph::BackBuffer.Pixels, copy.size(), copy.begin());
        copied = true;
      }
    }
    std::string bytes;
    if (!copied) {
      err = "cannot write " + opt.png + ": the surface is gone";
    } else {
      err = io::EncodeImage(io::ImageFormat::Png, {copy.data(), w, h}, bytes);
      if (!err.ok()) err = "cannot write " + opt.png + ": " + err.reason();
    }
    if (err.ok()) err = png.Write(bytes);
  }
  if (err.ok() && !opt.trace.empty()) err = trace.Write(traceText);
  if (err.ok() && !opt.png.empty()) err = png.Commit();
  if (err.ok() && !opt.trace.empty()) err = trace.Commit();
  if (err.ok() && !opt.gif.empty()) err = gif.Commit();
  if (err.ok() && !opt.profile.empty()) err = profile.Commit();
  if (err.ok() && !opt.growth.empty()) err = grown.Commit();
  if (!err.ok()) {
    grown.Abandon();
    png.Abandon();
    trace.Abandon();
    gif.Abandon();
    profile.Abandon();
    io::WriteError("aggsim: " + err.reason() + "\n");
    sys::Halt(1);
  }
}

// The summary goes to standard output unless an output file does.
std::FILE* SummarySink() {
  for (const std::string* path : {&opt.png, &opt.trace, &opt.gif, &opt.profile, &opt.growth})
    if (!path->empty() && io::SameOutput(*path, "-")) return stderr;
  return stdout;
}

void Summary(double seconds) {
  const double rate = seconds > 0 ? static_cast<double>(agg::Steps) / seconds : 0.0;
  std::FILE* out = SummarySink();
  std::fprintf(out, "%s; launched %llu, R %.1f, %.3f s, %.0f steps/s\n", io::DescribeCount(picture).c_str(),
               static_cast<unsigned long long>(agg::Launched), static_cast<double>(agg::R), seconds, rate);
  if (opt.stats) {
    std::fprintf(out, "%s\n", io::Describe(figures).c_str());
    std::fprintf(out, "%s\n", io::DescribeGrowth(growth.Curve()).c_str());
  }
  if (opt.record) {
    const io::RunRecord r{opt.seed, stuck, picture.inPicture, agg::Launched, static_cast<double>(agg::R),
                             figures.gyration, figures.dimension, figures.dimensionError, figures.fitPoints >= 3, {}, {}};
    std::fprintf(out, "%s\n%s\n%s\n", io::RecordLine(r).c_str(), io::ProfileLine(gridProfile).c_str(),
                 io::GrowthLine(growthCurve, centreProfile).c_str());
  }
  if (std::fflush(out) != 0 || std::ferror(out)) {
    const int err = errno;
    std::fprintf(stderr, "aggsim: cannot write the summary: %s\n", std::strerror(err));
    sys::Halt(1);
  }
}

// The film's last frame, the finished picture, stays two seconds before it
// loops.
constexpr int kFinalHold = 200;

// What the picture holds once the run ends, read back as the walk reads it.
// Nothing is allocated under the drawing lock: a heap overflow there would
// end the program with the window thread waiting for the lock.
template <class Rule>
void CountPicture() {
  int32_t w = 0, h = 0;
  {
    std::lock_guard<graph::DrawLock> hold(graph::GraphDrawing);
    if (graph::GraphRunning) w = graph::BackBuffer.Width, h = graph::BackBuffer.Height;
  }
  picture = io::CountPicture(w, h, {agg::CentreX, agg::CentreY}, stuckAt, [](int32_t x, int32_t y) {
    return Rule::Holds(graph::GetPixel(static_cast<int16_t>(x), static_cast<int16_t>(y)));
  });
  figures = io::Measure(picture.points, {agg::CentreX, agg::CentreY});
  if (opt.record) gridProfile = io::ProfileOnGrid(picture.points, {agg::CentreX, agg::CentreY});
  growth.Add(0, 0);
  std::vector<double> x{0}, y{0};
  for (const io::Point& p : stuckAt) {
    growth.Add(p.x - agg::CentreX, p.y - agg::CentreY);
    x.push_back(p.x - agg::CentreX), y.push_back(p.y - agg::CentreY);
  }
  growthCurve = io::CurveField(growth.Curve());
  centreProfile = io::ProfileField(io::ProfileAbout(x, y, growth.CentreX(), growth.CentreY()));
}

// Part of the main program (Program below), as the programs' own steps are.
template <class Rule>
[[gnu::always_inline]] inline void Run() {
  sys::IsConsole = true;
  sys::InitializeUnits();
  // A run-time error's report goes where the summary goes: never into an
  // output written to standard output.
  if (SummarySink() == stderr)
    sys::OpenStdIO(sys::StdOut, sys::fmOutput, sys::os::GetStdHandle(sys::os::StdErrorHandle));
  if (opt.seeded) {
    sys::RandSeed = opt.seed;
  } else {
    sys::Randomize();
  }
  agg::Start<Rule>();
  // The seed sits at a fixed point: on a surface too small to hold it no
  // particle can ever stick, and a run waiting for particles would never end.
  if (graph::GetMaxX() < agg::CentreX || graph::GetMaxY() < agg::CentreY) {
    std::fprintf(stderr, "aggsim: the seed at (%d, %d) lies outside the %d x %d surface of this screen\n",
                 agg::CentreX, agg::CentreY, graph::GetMaxX() + 1, graph::GetMaxY() + 1);
    sys::Halt(2);
  }
  if (opt.startRadiusSet) agg::R = static_cast<sys::Extended>(opt.startRadius);
  agg::OnStuck = CountStuck;
  if (!opt.gif.empty()) {
    film = std::make_unique<io::Film>(opt.frameEvery, static_cast<int>(std::lround(100 / opt.fps)), kFinalHold);
    film->Stuck(0);
  }
  // The runs of an ensemble leave the terminal to the ensemble's lines,
  // and its stopping to the ensemble: a run it stops is not counted, so it
  // ends at once, silently, leaving no temporary.
  if (!opt.record) progress.Start();
  if (opt.record) {
    io::StopAtOnceFromNow();
    io::EndWithParent();
  }
  started = Clock::now();
  agg::Grow<Rule>();
  const double seconds = Elapsed();
  progress.Clear();
  CountPicture<Rule>();
  WriteOutputs();
  agg::Finish();
  Summary(seconds);
  if (stoppedBy) {
    std::fprintf(stderr, "aggsim: interrupted by %s; the outputs hold the %llu particles stuck by then\n",
                 stoppedBy == 2 ? "Ctrl-C (SIGINT)" : stoppedBy == 15 ? "SIGTERM" : "SIGHUP",
                 static_cast<unsigned long long>(stuck));
    sys::Halt(static_cast<uint8_t>(128 + stoppedBy));
  }
}

void Program() {
  switch (opt.rule) {
    case RuleKind::White: Run<agg::WhiteRule>(); break;
    case RuleKind::Radial: Run<agg::RadialRule>(); break;
    case RuleKind::Order: Run<agg::OrderRule>(); break;
  }
}

// The surfaces the run will need, tried before it starts so that a screen
// larger than the memory at hand is named as such.  The window's thread
// makes a back buffer and a window of 32-bit pixels, the graphics module a
// byte map beside them, a PNG wants a copy of the surface and its rows once
// more, and a film keeps three frames of a byte a pixel.  The film's own
// bytes stay in memory until the run ends, a few dozen bytes a frame at
// the least: a film of more frames than that can hold is refused too.
std::string MemoryFor(int32_t w, int32_t h) {
  const size_t pixels = static_cast<size_t>(w) * static_cast<size_t>(h - graph::kDefaultMaximizedLoss);
  const size_t blocks[] = {pixels * 4, pixels * 4, pixels, opt.png.empty() ? 0 : pixels * 7,
                           opt.gif.empty() ? 0 : pixels * 3};
  std::vector<std::unique_ptr<char[]>> held;
  double total = 0;
  for (size_t b : blocks) total += static_cast<double>(b);
  for (size_t b : blocks) {
    if (b == 0) continue;
    held.emplace_back(new (std::nothrow) char[b]);
    if (!held.back()) {
      char line[160];
      std::snprintf(line, sizeof line, "not enough memory for a %d x %d screen (%.0f MiB of surfaces)", w, h,
                    total / 1048576.0);
      return line;
    }
  }
  if (!opt.gif.empty() && opt.particles != UINT64_MAX) {
    const double frames = static_cast<double>(opt.particles / opt.frameEvery) + 2;
    const double bytes = frames * static_cast<double>(io::kGifLeastFrameBytes);
    if (bytes > static_cast<double>(SIZE_MAX / 2) || !held.emplace_back(new (std::nothrow) char[static_cast<size_t>(bytes)])) {
      char line[160];
      std::snprintf(line, sizeof line, "not enough memory for a film of %.0f frames (%.0f MiB at the least)", frames,
                    bytes / 1048576.0);
      return line;
    }
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  io::TakeUtf8Arguments(argc, argv);
  const aggsim::AggsimArgs parsed = aggsim::ParseAggsimArgs(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) Usage(parsed.error);
  opt = parsed.options;
  // Only a run started by an ensemble has this set.
  const char* ensembleRun = std::getenv(aggsim::kEnsembleRunVariable);
  opt.record = ensembleRun && std::string_view(ensembleRun) == "1";
  if (opt.help) {
    std::fputs(aggsim::AggsimHelp().c_str(), stdout);
    // A help that never reached its reader fails as a summary would.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) Fail(std::string("cannot write the help: ") + std::strerror(errno));
    return 0;
  }
  {
    const std::pair<const char*, const std::string*> outputs[] = {
        {"--png", &opt.png}, {"--trace", &opt.trace}, {"--gif", &opt.gif}, {"--profile", &opt.profile}, {"--growth", &opt.growth}, {"--csv", &opt.csv}};
    for (size_t i = 0; i < std::size(outputs); ++i)
      for (size_t j = i + 1; j < std::size(outputs); ++j)
        if (!outputs[i].second->empty() && !outputs[j].second->empty() &&
            io::SameOutput(*outputs[i].second, *outputs[j].second))
          Usage(std::string(outputs[i].first) + " and " + outputs[j].first + " name the same file");
  }
  // Everything that can be known before the run is checked before it.
  if (!opt.png.empty()) {
    const io::Status png = io::ImageSupport(io::ImageFormat::Png);
    if (!png.ok()) Fail("cannot write " + opt.png + ": " + png.reason());
  }
  if (!opt.gif.empty() && opt.model == aggsim::ModelKind::Programs) {
    const io::Status fits = io::GifFrameFits(opt.screenW, static_cast<int64_t>(opt.screenH) - 49);
    if (!fits.ok()) Fail("cannot write " + opt.gif + ": " + fits.reason());
  }
  for (const std::string* path : {&opt.png, &opt.trace, &opt.gif, &opt.profile, &opt.growth, &opt.csv}) {
    // Under --out-dir the runs' own names are checked by the ensemble.
    if (path->empty() || (!opt.outDir.empty() && path != &opt.profile && path != &opt.growth && path != &opt.csv))
      continue;
    const io::Status writable = io::CheckOutput(*path);
    if (!writable.ok()) Fail(writable.reason());
  }
  if (!opt.merge.empty()) {
    // A merge has nothing to stop gently: a stop ends it at once, taking
    // away the temporary of an output half written.
    io::StopAtOnceFromNow();
    io::CatchStopRequests();
    return aggsim::RunMerge(opt);
  }
  // The runs' folder is made as mkdir -p would, so that an example works as
  // written; the names in it are checked by the ensemble.
  if (!opt.outDir.empty()) {
    std::error_code ec;
    const std::filesystem::path dir(std::u8string(opt.outDir.begin(), opt.outDir.end()));
    std::filesystem::create_directories(dir, ec);
    if (ec) Fail("cannot make the folder " + opt.outDir + ": " + ec.message());
  }
  if (opt.runs > 0) {
    io::CatchStopRequests();
    return aggsim::RunEnsemble(opt);
  }
  if (opt.model == aggsim::ModelKind::Dla) {
    io::CatchStopRequests();
    return aggsim::RunDla(opt);
  }
  const std::string memory = MemoryFor(opt.screenW, opt.screenH);
  if (!memory.empty()) Fail(memory);
  if (opt.check) return 0;
  // A run of an ensemble that is asked to stop is not counted, so it ends
  // at once from the start, before it could write outputs of a run cut
  // short.
  if (opt.record) io::StopAtOnceFromNow();
  io::CatchStopRequests();
  graph::headless::SetScreen(opt.screenW, opt.screenH);
  crt::scripted::Reset();
  agg::InstallUnitTable();
  sys::Exe_Entry(Program);
}
