// Ensembles of small clusters of the standard model and the figures two of
// them are compared by: the radius of gyration at fixed N, the mass within
// a few radii of the seed, and where on the cluster the particles stick.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dla/model.h"

namespace dla_test {

// One cluster's figures.  The sticking figures are means over the particles
// of the later three quarters of the growth, so that each cluster gives one
// number and the clusters, not the correlated particles, are the samples.
struct ClusterFigures {
  double rg = 0;               // radius of gyration about the seed
  std::vector<double> massIn;  // particles within each radius of Radii()
  double reach = 0;            // a particle's distance from the seed over maxR just before it stuck
  double neighbours = 0;       // particles already next to it (lattices: its neighbourhood; off: within 2)
  double parentAge = 0;        // (n - parent) / n for the n-th particle
};

// The radii (in units of the walk's length scale) at which the mass is
// counted; chosen from N so that both sides use the same ones.
std::vector<double> Radii(dla::Lattice lattice, uint32_t particles);

ClusterFigures Measure(const dla::Model& model, dla::Lattice lattice);

using Maker = std::function<std::unique_ptr<dla::Model>(const dla::Params&)>;

struct Ensemble {
  dla::Lattice lattice;
  std::vector<ClusterFigures> clusters;
};

// Clusters of `particles` each from seeds first, first + 1, ...
Ensemble Grow(const Maker& make, dla::Params params, uint64_t firstSeed, int clusters, uint32_t particles);

struct Comparison {
  std::string what;   // "Rg KS", "N(r < 12.0) Welch", ...
  double statistic;   // D or t
  double p;
  double meanA, meanB;
};

std::vector<Comparison> Compare(const Ensemble& a, const Ensemble& b);

// The family's false-alarm rate is kept below this by Bonferroni's bound:
// each comparison fails at p < kFamilyAlpha / (number of comparisons).
inline constexpr double kFamilyAlpha = 1e-3;

// The comparisons that fail, and a table of all of them for the log.
std::vector<Comparison> Failures(const std::vector<Comparison>& all);
std::string Table(const std::vector<Comparison>& all);

// AGG_DLA_LONG=1 asks for the long runs: more and bigger clusters.
bool LongMode();

// The ensembles the comparisons are made on, by geometry and mode.
struct Size {
  int clusters;
  uint32_t particles;
};
Size SizeFor(dla::Lattice lattice);

}  // namespace dla_test
