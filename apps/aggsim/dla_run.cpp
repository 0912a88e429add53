#include "apps/aggsim/dla_run.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "dla/model.h"
#include "io/cluster_image.h"
#include "io/ensemble.h"
#include "io/giffile.h"
#include "io/growth.h"
#include "io/image.h"
#include "io/outfile.h"
#include "io/process.h"
#include "io/progress.h"
#include "io/stop.h"
#include "io/utf8.h"
#include "runtime/procsvc.h"

namespace aggsim {

namespace {

using Clock = std::chrono::steady_clock;

int Failed(const std::string& why) {
  io::WriteError("aggsim: " + why + "\n");
  return 1;
}

dla::Lattice LatticeOf(LatticeKind k) {
  return k == LatticeKind::Off ? dla::Lattice::Off : k == LatticeKind::Square4 ? dla::Lattice::Square4 : dla::Lattice::Square8;
}

bool Given(const AggsimOptions& opt, std::string_view name) {
  for (const auto& [spec, value] : opt.given)
    if (spec->name == name) return true;
  return false;
}

// A film of about a hundred frames unless the user chose the spacing: a
// frame every ten particles, the programs' default, would be far too many
// for clusters of millions.
uint64_t FrameEvery(const AggsimOptions& opt, uint64_t stuck) {
  if (Given(opt, "--frame-every")) return opt.frameEvery;
  return std::max<uint64_t>(1, stuck / 100);
}

// The memory the run will hold at its largest: the cluster's own, and the
// pictures' (a byte a pixel to draw in, four for the PNG's pixels and about
// as much again for its encoding; the film's frames and their bytes).
std::string MemoryFor(const AggsimOptions& opt, dla::Lattice lattice) {
  const double pixels = static_cast<double>(opt.imageSize) * opt.imageSize;
  double total = 0;
  if (opt.particles != UINT64_MAX) total += static_cast<double>(dla::EstimateBytes(lattice, opt.particles));
  if (!opt.png.empty()) total += pixels * 9;
  if (!opt.gif.empty()) total += pixels * 4;
  if (!opt.trace.empty() && opt.particles != UINT64_MAX) total += 64.0 * static_cast<double>(opt.particles);
  char line[200];
  if (opt.particles != UINT64_MAX && opt.particles > dla::kMaxParticles) {
    std::snprintf(line, sizeof line, "--particles %llu is more than the %llu a run can grow",
                  static_cast<unsigned long long>(opt.particles), static_cast<unsigned long long>(dla::kMaxParticles));
    return line;
  }
  // Asked for (not touched) at once, so that the system refuses what it
  // cannot give before any work is done.
  std::unique_ptr<char[]> held;
  if (total > static_cast<double>(SIZE_MAX / 2) ||
      !(held = std::unique_ptr<char[]>(new (std::nothrow) char[static_cast<size_t>(total)]))) {
    std::snprintf(line, sizeof line, "not enough memory for this run: it needs about %.0f MiB", total / 1048576.0);
    return line;
  }
  return {};
}

std::string Number(double v) {
  char buf[32];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, ec == std::errc() ? end : buf);
}

// One line a particle in order of arrival: its place and the particle it
// touched (the seed, line 1, touches itself).
std::string TraceText(const std::vector<dla::Particle>& particles) {
  std::string text;
  text.reserve(particles.size() * 24);
  for (const dla::Particle& p : particles) {
    text += Number(p.x);
    text += ',';
    text += Number(p.y);
    text += ',';
    text += std::to_string(p.parent);
    text += '\n';
  }
  return text;
}

// N(r) about the seed on the ensembles' shared radii.
io::RunProfile GridProfile(const std::vector<dla::Particle>& particles) {
  std::vector<double> dist;
  dist.reserve(particles.size());
  for (const dla::Particle& p : particles) dist.push_back(std::sqrt(p.x * p.x + p.y * p.y));
  std::sort(dist.begin(), dist.end());
  io::RunProfile profile;
  if (!dist.empty()) profile.farthest = dist.back();
  for (size_t i = 0;; ++i) {
    const double r = io::GridRadius(i);
    profile.counts.push_back(static_cast<uint64_t>(std::upper_bound(dist.begin(), dist.end(), r) - dist.begin()));
    if (r >= profile.farthest) break;
  }
  return profile;
}

double Gyration(const std::vector<dla::Particle>& particles) {
  double sx = 0, sy = 0, sr = 0;
  for (const dla::Particle& p : particles) sx += p.x, sy += p.y, sr += p.x * p.x + p.y * p.y;
  const double n = static_cast<double>(particles.size());
  const double cx = sx / n, cy = sy / n;
  return std::sqrt(std::max(0.0, sr / n - cx * cx - cy * cy));
}

io::Status Picture(const AggsimOptions& opt, const std::vector<dla::Particle>& particles, std::string& bytes) {
  const io::ClusterFrame frame = io::FrameFor(particles, opt.imageSize);
  std::vector<uint8_t> indices;
  io::DrawParticles(indices, frame, particles, 0, particles.size(), opt.white);
  const std::vector<uint32_t> pixels = io::ToPixels(indices, io::ClusterPalette());
  return io::EncodeImage(io::ImageFormat::Png, {pixels.data(), frame.size, frame.size}, bytes);
}

// The film's frames, all at the final cluster's scale: the seed, a frame
// every so many particles, and the whole cluster held before the loop.
io::Status Film(const AggsimOptions& opt, const std::vector<dla::Particle>& particles, std::string& bytes) {
  const io::ClusterFrame frame = io::FrameFor(particles, opt.imageSize);
  io::GifFilm film(frame.size, frame.size, io::ClusterPalette());
  std::vector<uint8_t> indices;
  const int delay = static_cast<int>(std::lround(100 / opt.fps));
  const uint64_t every = FrameEvery(opt, particles.size());
  size_t drawn = 0;
  io::Status status;
  while (status.ok()) {
    const size_t upTo = std::min<size_t>(particles.size(), drawn == 0 ? 1 : drawn + every);
    io::DrawParticles(indices, frame, particles, drawn, upTo, opt.white);
    drawn = upTo;
    const bool last = drawn == particles.size();
    status = film.AddFrame(indices.data(), last ? 200 : delay);
    if (last) break;
  }
  if (status.ok()) status = film.Finish(bytes);
  return status;
}

}  // namespace

int RunDla(const AggsimOptions& opt) {
  // As the programs' runs do: a closed standard handle reads as /dev/null,
  // and a reader that goes away is a failed write, reported, not a signal.
  sys::os::PrepareStandardHandles();
  const dla::Lattice lattice = LatticeOf(opt.lattice);
  if (!opt.png.empty()) {
    const io::Status png = io::ImageSupport(io::ImageFormat::Png);
    if (!png.ok()) return Failed("cannot write " + opt.png + ": " + png.reason());
  }
  if (const std::string memory = MemoryFor(opt, lattice); !memory.empty()) return Failed(memory);
  if (opt.check) return 0;
  const uint64_t seed =
      opt.seeded ? opt.seed : static_cast<uint32_t>(std::chrono::system_clock::now().time_since_epoch().count());
  std::unique_ptr<dla::Model> model;
  try {
    model = dla::MakeModel({.lattice = lattice, .seed = seed, .stick = opt.stick},
                           opt.particles == UINT64_MAX ? 0 : opt.particles);
  } catch (const std::exception& e) {
    return Failed(e.what());
  }
  io::Progress progress;
  io::TimeLeft timeLeft;
  if (opt.record) {
    io::StopAtOnceFromNow();
    io::EndWithParent();
  } else {
    progress.Start();
  }
  const auto started = Clock::now();
  const auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - started).count(); };
  int stoppedBy = 0;
  io::GyrationTracker growth;
  growth.Add(0, 0);
  try {
    // The seed is particle 0: a count of N particles is N stuck beside it.
    const uint64_t target = opt.particles == UINT64_MAX ? dla::kMaxParticles : opt.particles;
    while (model->Particles().size() - 1 < target) {
      const dla::Particle& p = model->Particles()[model->Grow()];
      if (!growth.Add(p.x, p.y)) return Failed(growth.Error());
      const uint64_t stuck = model->Particles().size() - 1;
      if ((stoppedBy = io::StopRequested()) != 0) break;
      const bool redraw = progress.Due();
      const double now = redraw || opt.seconds > 0 ? elapsed() : 0;
      if (opt.seconds > 0 && now >= opt.seconds) break;
      if (opt.radius > 0 && model->MaxRadius() >= opt.radius) break;
      if (redraw) {
        timeLeft.Sample(now, static_cast<double>(stuck), static_cast<double>(model->Moves()));
        double left = opt.particles == UINT64_MAX ? -1 : timeLeft.To(static_cast<double>(opt.particles));
        if (opt.seconds > 0) left = left < 0 ? opt.seconds - now : std::min(left, opt.seconds - now);
        progress.Show({stuck, opt.particles == UINT64_MAX ? 0 : opt.particles, model->MaxRadius(),
                       static_cast<double>(model->Moves()) / std::max(now, 1e-9), left, -1});
      }
    }
  } catch (const std::bad_alloc&) {
    progress.Clear();
    return Failed("out of memory after " + std::to_string(model->Particles().size() - 1) + " particles");
  }
  const double seconds = elapsed();
  progress.Clear();
  const std::vector<dla::Particle>& particles = model->Particles();
  const uint64_t stuck = particles.size() - 1;

  // Every output is made before any is replaced, so that they match.
  io::StopAtOnceFromNow();
  io::OutputFile png, trace, gif, profileFile, grown;
  io::Status err;
  if (!opt.png.empty()) err = png.Open(opt.png);
  if (err.ok() && !opt.trace.empty()) err = trace.Open(opt.trace);
  if (err.ok() && !opt.gif.empty()) err = gif.Open(opt.gif);
  if (err.ok() && !opt.profile.empty()) err = profileFile.Open(opt.profile);
  if (err.ok() && !opt.growth.empty()) err = grown.Open(opt.growth);
  const std::string curve = io::CurveField(growth.Curve());
  if (err.ok() && !opt.growth.empty()) err = grown.Write(io::RunGrowthText(curve));
  const io::RunProfile grid = GridProfile(particles);
  if (err.ok() && !opt.png.empty()) {
    std::string bytes;
    err = Picture(opt, particles, bytes);
    err = err.ok() ? png.Write(bytes) : io::Status("cannot write " + opt.png + ": " + err.reason());
  }
  if (err.ok() && !opt.gif.empty()) {
    std::string bytes;
    err = Film(opt, particles, bytes);
    err = err.ok() ? gif.Write(bytes) : io::Status("cannot write " + opt.gif + ": " + err.reason());
  }
  if (err.ok() && !opt.trace.empty()) err = trace.Write(TraceText(particles));
  if (err.ok() && !opt.profile.empty()) {
    std::string text;
    for (size_t i = 0; i < grid.counts.size(); ++i) text += Number(io::GridRadius(i)) + "," + std::to_string(grid.counts[i]) + "\n";
    err = profileFile.Write(text);
  }
  const std::pair<io::OutputFile*, const std::string*> outputs[] = {
      {&png, &opt.png}, {&trace, &opt.trace}, {&gif, &opt.gif}, {&profileFile, &opt.profile}, {&grown, &opt.growth}};
  for (const auto& [file, path] : outputs)
    if (err.ok() && !path->empty()) err = file->Commit();
  if (!err.ok()) {
    for (io::OutputFile* f : {&png, &trace, &gif, &profileFile, &grown}) f->Abandon();
    return Failed(err.reason());
  }

  std::FILE* out = stdout;
  for (const std::string* path : {&opt.png, &opt.trace, &opt.gif, &opt.profile, &opt.growth})
    if (!path->empty() && io::SameOutput(*path, "-")) out = stderr;
  const double gyration = Gyration(particles);
  std::fprintf(out, "stuck %llu, radius %.1f, radius of gyration %.2f; %.3f s, %.0f particles/s\n",
               static_cast<unsigned long long>(stuck), model->MaxRadius(), gyration, seconds,
               seconds > 0 ? static_cast<double>(stuck) / seconds : 0.0);
  std::vector<double> x, y;
  if (opt.stats || opt.record) {
    x.reserve(particles.size()), y.reserve(particles.size());
    for (const dla::Particle& q : particles) x.push_back(q.x), y.push_back(q.y);
  }
  if (opt.stats) {
    const io::RadiusWindow window = io::FrozenWindow(growth.Gyration() / io::kFixedUnit);
    const io::GrowthFit seedFit = io::FitProfile(io::ProfileAbout(x, y, 0, 0), window);
    const io::GrowthFit centreFit = io::FitProfile(io::ProfileAbout(x, y, growth.CentreX(), growth.CentreY()), window);
    std::fprintf(out, "%s\n", io::DescribeGrowth(growth.Curve()).c_str());
    if (centreFit.points >= 3) {
      std::fprintf(out, "mass-radius D %.3f +- %.3f about the centre of mass, %.3f +- %.3f about the seed (r %.1f..%.1f, the frozen inner part; regression errors)\n",
                   centreFit.dimension, centreFit.dimensionError, seedFit.dimension, seedFit.dimensionError,
                   window.from, window.to);
    } else {
      std::fprintf(out, "too small for a mass-radius D\n");
    }
    if (lattice != dla::Lattice::Off) {
      // A lattice cluster grows along its axes (+1) or its diagonals (-1)
      // as it grows large: shown by octave of radius, for the octaves that
      // hold a hundredth of it.
      std::string line = "anisotropy <cos 4 theta>:";
      const std::vector<io::Shell> shells = io::Anisotropy(x, y);
      for (size_t from = 0; from < shells.size(); from += 8) {
        double sum = 0;
        uint64_t n = 0;
        const size_t to = std::min(shells.size(), from + 8);
        for (size_t i = from; i < to; ++i) sum += shells[i].meanCos4 * static_cast<double>(shells[i].particles), n += shells[i].particles;
        if (n * 100 < particles.size()) continue;
        char item[80];
        std::snprintf(item, sizeof item, " %.3f at r %.0f..%.0f,", sum / static_cast<double>(n),
                      from == 0 ? 0.0 : shells[from - 1].outer, shells[to - 1].outer);
        line += item;
      }
      if (line.back() == ',') line.pop_back();
      std::fputs((line + "\n").c_str(), out);
    }
  }
  if (opt.record) {
    io::EnsembleProfile one;
    one.Add(grid);
    const io::ProfileFit fit = io::FitMean(one);
    io::RunRecord r;
    r.seed = static_cast<uint32_t>(seed);
    r.stuck = r.inPicture = r.launched = stuck;
    r.finalRadius = model->MaxRadius();
    r.gyration = gyration;
    r.dimension = fit.dimension, r.dimensionError = fit.error, r.fitted = fit.points >= 3;
    std::fprintf(out, "%s\n%s\n%s\n", io::RecordLine(r).c_str(), io::ProfileLine(grid).c_str(),
                 io::GrowthLine(curve, io::ProfileField(io::ProfileAbout(x, y, growth.CentreX(), growth.CentreY()))).c_str());
  }
  if (std::fflush(out) != 0 || std::ferror(out)) return Failed(std::string("cannot write the summary: ") + std::strerror(errno));
  if (stoppedBy) {
    std::fprintf(stderr, "aggsim: interrupted by %s; the outputs hold the %llu particles stuck by then\n",
                 stoppedBy == 2 ? "Ctrl-C (SIGINT)" : stoppedBy == 15 ? "SIGTERM" : "SIGHUP",
                 static_cast<unsigned long long>(stuck));
    return 128 + stoppedBy;
  }
  return 0;
}

}  // namespace aggsim
