#include "ensemble.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "stats.h"

namespace dla_test {
namespace {

int64_t Key(int64_t x, int64_t y) { return (x << 32) ^ (y & 0xffffffff); }

// Particles already within 2 of each new disc (itself excluded), by a hash
// of unit cells; only counts are taken, so the hash's order does not matter.
std::vector<int> OffNeighbours(const std::vector<dla::Particle>& ps) {
  std::unordered_map<int64_t, std::vector<uint32_t>> cells;
  std::vector<int> counts(ps.size());
  for (uint32_t i = 0; i < ps.size(); ++i) {
    const int64_t cx = static_cast<int64_t>(std::floor(ps[i].x)), cy = static_cast<int64_t>(std::floor(ps[i].y));
    int count = 0;
    for (int64_t y = cy - 2; y <= cy + 2; ++y)
      for (int64_t x = cx - 2; x <= cx + 2; ++x) {
        const auto it = cells.find(Key(x, y));
        if (it == cells.end()) continue;
        for (const uint32_t j : it->second) {
          const double dx = ps[i].x - ps[j].x, dy = ps[i].y - ps[j].y;
          if (dx * dx + dy * dy <= 4) ++count;
        }
      }
    counts[i] = count;
    cells[Key(cx, cy)].push_back(i);
  }
  return counts;
}

std::vector<int> LatticeNeighbours(const std::vector<dla::Particle>& ps, bool eight) {
  std::unordered_set<int64_t> sites;
  std::vector<int> counts(ps.size());
  for (uint32_t i = 0; i < ps.size(); ++i) {
    const int64_t x = static_cast<int64_t>(ps[i].x), y = static_cast<int64_t>(ps[i].y);
    int count = 0;
    for (int64_t dy = -1; dy <= 1; ++dy)
      for (int64_t dx = -1; dx <= 1; ++dx)
        if ((dx || dy) && (eight || dx == 0 || dy == 0)) count += static_cast<int>(sites.count(Key(x + dx, y + dy)));
    counts[i] = count;
    sites.insert(Key(x, y));
  }
  return counts;
}

}  // namespace

std::vector<double> Radii(dla::Lattice lattice, uint32_t particles) {
  // 0.4, 0.8 and 1.2 times the typical Rg at this N (Rg grows as N^0.585,
  // with these measured prefactors); the radii only need to be the same on
  // both sides, and to cut the cluster where its mass still grows.
  const double prefactor = lattice == dla::Lattice::Square8 ? 0.63 : 0.48;
  const double rg = prefactor * std::pow(particles, 0.585);
  return {0.4 * rg, 0.8 * rg, 1.2 * rg};
}

ClusterFigures Measure(const dla::Model& model, dla::Lattice lattice) {
  const std::vector<dla::Particle>& ps = model.Particles();
  const uint32_t n = static_cast<uint32_t>(ps.size());
  ClusterFigures f;
  double sum2 = 0;
  for (const dla::Particle& p : ps) sum2 += p.x * p.x + p.y * p.y;
  f.rg = std::sqrt(sum2 / n);
  for (const double r : Radii(lattice, n)) {
    double inside = 0;
    for (const dla::Particle& p : ps) inside += p.x * p.x + p.y * p.y <= r * r;
    f.massIn.push_back(inside);
  }
  const std::vector<int> near = lattice == dla::Lattice::Off ? OffNeighbours(ps)
                                                             : LatticeNeighbours(ps, lattice == dla::Lattice::Square8);
  double maxR = 0, reach = 0, neighbours = 0, age = 0, counted = 0;
  for (uint32_t i = 1; i < n; ++i) {
    const double r = std::hypot(ps[i].x, ps[i].y);
    if (i >= n / 4) {
      reach += r / maxR;
      neighbours += near[i];
      age += static_cast<double>(i - ps[i].parent) / i;
      counted += 1;
    }
    maxR = std::max(maxR, r);
  }
  f.reach = reach / counted;
  f.neighbours = neighbours / counted;
  f.parentAge = age / counted;
  return f;
}

Ensemble Grow(const Maker& make, dla::Params params, uint64_t firstSeed, int clusters, uint32_t particles) {
  Ensemble e{params.lattice, {}};
  for (int c = 0; c < clusters; ++c) {
    params.seed = firstSeed + static_cast<uint64_t>(c);
    const std::unique_ptr<dla::Model> model = make(params);
    while (model->Particles().size() < particles) model->Grow();
    e.clusters.push_back(Measure(*model, params.lattice));
  }
  return e;
}

std::vector<Comparison> Compare(const Ensemble& a, const Ensemble& b) {
  const auto column = [](const Ensemble& e, auto pick) {
    std::vector<double> v;
    for (const ClusterFigures& f : e.clusters) v.push_back(pick(f));
    return v;
  };
  std::vector<Comparison> out;
  const auto add = [&](std::string what, auto pick, bool ks) {
    const std::vector<double> x = column(a, pick), y = column(b, pick);
    const TestResult welch = Welch(x, y);
    out.push_back({what + " Welch", welch.statistic, welch.p, Mean(x), Mean(y)});
    if (ks) {
      const TestResult d = KolmogorovSmirnov(x, y);
      out.push_back({what + " KS", d.statistic, d.p, Mean(x), Mean(y)});
    }
  };
  add("Rg", [](const ClusterFigures& f) { return f.rg; }, true);
  for (size_t k = 0; k < a.clusters.front().massIn.size(); ++k)
    add("N(r" + std::to_string(k + 1) + ")", [k](const ClusterFigures& f) { return f.massIn[k]; }, false);
  add("reach", [](const ClusterFigures& f) { return f.reach; }, true);
  add("neighbours", [](const ClusterFigures& f) { return f.neighbours; }, false);
  add("parent age", [](const ClusterFigures& f) { return f.parentAge; }, false);
  return out;
}

std::vector<Comparison> Failures(const std::vector<Comparison>& all) {
  std::vector<Comparison> out;
  for (const Comparison& c : all)
    if (c.p < kFamilyAlpha / static_cast<double>(all.size())) out.push_back(c);
  return out;
}

std::string Table(const std::vector<Comparison>& all) {
  std::string s;
  char line[160];
  for (const Comparison& c : all) {
    std::snprintf(line, sizeof line, "  %-18s stat %+9.4f  p %.3g  means %.5g vs %.5g\n", c.what.c_str(), c.statistic,
                  c.p, c.meanA, c.meanB);
    s += line;
  }
  return s;
}

bool LongMode() {
  const char* v = std::getenv("AGG_DLA_LONG");
  return v != nullptr && std::string_view(v) == "1";
}

// Chosen so that the quick suite's plain walks take a few seconds a
// geometry; the long mode grows more and larger clusters.
Size SizeFor(dla::Lattice lattice) {
  const bool off = lattice == dla::Lattice::Off;
  if (LongMode()) return off ? Size{120, 1000} : Size{300, 2000};
  return off ? Size{40, 500} : Size{150, 1000};
}

}  // namespace dla_test
