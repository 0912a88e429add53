// dlabench: how fast the standard model grows, in one sitting.  For each
// geometry asked for it grows clusters at sizes spaced by a factor of ten
// and prints particles per second of processor time, the walker moves per
// particle, the memory per particle, and the exponent of the cost's growth
// fitted between the smallest and the largest size (a cost that grows as
// N^a; a = 1 when each particle costs the same).
//
//   dlabench [--lattice off|square4|square8|all] [--from N] [--to N] [--seed S]
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "dla/model.h"
#include "runtime/procsvc.h"

namespace {

[[noreturn]] void Usage(const std::string& why) {
  std::fprintf(stderr, "dlabench: %s\nTry 'dlabench --help'.\n", why.c_str());
  std::exit(2);
}

uint64_t Number(std::string_view option, std::string_view text) {
  uint64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v == 0)
    Usage("bad value for " + std::string(option) + ": " + std::string(text));
  return v;
}

struct Figure {
  uint64_t particles;
  double seconds, movesPerParticle, bytesPerParticle;
};

Figure Grow(dla::Lattice lattice, uint64_t n, uint64_t seed) {
  const double start = sys::os::ThreadCpuSeconds();
  auto model = dla::MakeModel({.lattice = lattice, .seed = seed}, n);
  while (model->Particles().size() < n) model->Grow();
  const double seconds = sys::os::ThreadCpuSeconds() - start;
  return {n, seconds, static_cast<double>(model->Moves()) / static_cast<double>(n),
          static_cast<double>(dla::EstimateBytes(lattice, n)) / static_cast<double>(n)};
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<dla::Lattice> lattices{dla::Lattice::Off, dla::Lattice::Square4, dla::Lattice::Square8};
  uint64_t from = 100000, to = 1000000, seed = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--help" || a == "-h") {
      std::printf("usage: dlabench [--lattice off|square4|square8|all] [--from N] [--to N] [--seed S]\n"
                  "Grows clusters of the standard model at N = FROM, 10 FROM, ... up to TO (default\n"
                  "100000 to 1000000) and prints particles per second of processor time, walker\n"
                  "moves per particle, bytes per particle, and the exponent a of cost ~ N^a.\n");
      return 0;
    }
    if (i + 1 >= argc) Usage(std::string(a) + " wants a value");
    const std::string_view v = argv[++i];
    if (a == "--lattice") {
      if (v == "all") continue;
      const auto l = dla::ParseLattice(v);
      if (!l) Usage("no such lattice: " + std::string(v));
      lattices = {*l};
    } else if (a == "--from") {
      from = Number(a, v);
    } else if (a == "--to") {
      to = Number(a, v);
    } else if (a == "--seed") {
      seed = Number(a, v);
    } else {
      Usage("unknown option: " + std::string(a));
    }
  }
  if (to < from) Usage("--to is below --from");
  for (dla::Lattice lattice : lattices) {
    // Tables made once for the first cluster of a lattice are not the
    // cost of a particle: a small cluster first makes them.
    Grow(lattice, 100, seed + 1);
    std::vector<Figure> figures;
    for (uint64_t n = from; n <= to; n *= 10) {
      figures.push_back(Grow(lattice, n, seed));
      const Figure& f = figures.back();
      std::printf("%-8s N %10llu  %8.2f s  %12.0f particles/s  %8.1f moves/particle  %6.1f bytes/particle\n",
                  std::string(dla::LatticeName(lattice)).c_str(), static_cast<unsigned long long>(n), f.seconds,
                  static_cast<double>(n) / f.seconds, f.movesPerParticle, f.bytesPerParticle);
      std::fflush(stdout);
      if (n > to / 10) break;
    }
    if (figures.size() >= 2) {
      const Figure &a = figures.front(), &b = figures.back();
      std::printf("%-8s cost ~ N^%.3f from %llu to %llu\n", std::string(dla::LatticeName(lattice)).c_str(),
                  std::log(b.seconds / a.seconds) / std::log(static_cast<double>(b.particles) / a.particles),
                  static_cast<unsigned long long>(a.particles), static_cast<unsigned long long>(b.particles));
    }
  }
  return 0;
}
