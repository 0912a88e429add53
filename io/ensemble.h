// Ensembles of runs: one aggregate's fractal dimension says little, so
// studies report the mean and spread over many.  Each run is a process of
// its own (the programs' state is process-wide) that hands its figures
// back as one record line on its standard output.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "io/stats.h"

namespace io {

struct RunRecord {
  uint32_t seed = 0;
  uint64_t stuck = 0, inPicture = 0, launched = 0;
  double finalRadius = 0, gyration = 0;
  double dimension = 0, dimensionError = 0;
  bool fitted = false;  // false: too small for a fractal dimension
  // How the run grew, as io/growth.h writes it: Rg(N) on the shared sizes,
  // and N(r) about the centre of mass; empty in tables older than them.
  std::string curve, centreProfile;
};

// The line a run prints beside its record with its growth, and the growth
// read back into r (false when the output holds no well-formed one).
std::string GrowthLine(const std::string& curve, const std::string& centreProfile);
bool FindGrowth(const std::string& output, RunRecord& r);
// One run's --growth file: "N,Rg" rows, Rg to every bit it was measured to.
std::string RunGrowthText(const std::string& curveField);

// The record line a run prints, and the record read back from a run's
// whole output (the last record line in it).
std::string RecordLine(const RunRecord& r);
std::optional<RunRecord> FindRecord(const std::string& output);

// The ensemble a table or profile belongs to: runs from consecutive seeds
// that wrap round past 2^32 - 1 to 0, as a seed is 32 bits, in that order.
// A part of it (a cluster's task) records the whole, so that a merge knows
// every seed it should hold.
struct EnsembleRange {
  uint32_t first = 0;
  uint32_t runs = 0;
  // A seed's place in the ensemble's order, from 0; runs when it is not one of its seeds.
  uint32_t Place(uint32_t seed) const {
    const uint32_t d = seed - first;
    return d < runs ? d : runs;
  }
  uint32_t Seed(uint32_t place) const { return first + place; }
  uint32_t Last() const { return first + (runs - 1); }
  bool operator==(const EnsembleRange&) const = default;
};
// The comment line that records it: "# ensemble first F runs N".  Words
// after these two are left for later fields: a reader skips what it does
// not know.
inline constexpr const char* kEnsembleMark = "# ensemble ";
std::string EnsembleLine(const EnsembleRange& range);
// "F..L" in the ensemble's order (L may be less than F when it wraps).
std::string DescribeRange(const EnsembleRange& range);

// One line for a person, and the table written by --csv: three comment
// lines (what wrote it, and the parameters that make runs comparable, as
// about says them; the ensemble), the column names, then a row a run with
// every bit of its figures, so that a table read back gives the same lines
// and means.
std::string DescribeRun(int number, const RunRecord& r);
inline constexpr const char* kTableMark = "# aggsim ensemble table";
std::string CsvHeader(const std::string& about, const EnsembleRange& range);
std::string CsvRow(const RunRecord& r);

// A run's mass-radius profile on radii that every run shares, so that an
// ensemble can average them: r_i = 2^(i/8) from 1, to the first radius at
// or past the run's farthest pixel (beyond it N(r) stays the whole count).
double GridRadius(size_t i);
struct RunProfile {
  double farthest = 0;
  std::vector<uint64_t> counts;
};
RunProfile ProfileOnGrid(const std::vector<Point>& points, Point origin);
// The line a run prints beside its record, and that profile read back.
std::string ProfileLine(const RunProfile& p);
std::optional<RunProfile> FindProfile(const std::string& output);

// The sums over runs of N(r) and N(r)^2, exact in integers so that parts of
// an ensemble added in any order give the same figures.
struct EnsembleProfile {
  uint64_t runs = 0;
  double farthest = 0;  // the nearest of the runs' farthest pixels
  std::vector<uint64_t> sum, sumSquares;
  // False when a sum would overflow (nothing is added then).
  bool Add(const RunProfile& run);
  bool Add(const EnsembleProfile& part);
};
// D fitted on the mean profile, log mean N(r) on log r, for r from 4 to
// half the nearest farthest pixel, so that every run is grown there.
struct ProfileFit {
  int points = 0;  // under 3: no fit
  double dimension = 0, error = 0, from = 0, to = 0;
};
ProfileFit FitMean(const EnsembleProfile& p);
// The profile file: comment lines (what wrote it, about, the ensemble, its
// seeds, the nearest farthest pixel), then r,runs,mean,sd,sum,sum_squares
// rows.
inline constexpr const char* kProfileMark = "# aggsim ensemble profile";
std::string EnsembleProfileText(const EnsembleProfile& p, const std::string& about, const EnsembleRange& range,
                                const std::vector<uint32_t>& seeds);
std::string ProfileRow(size_t i, uint64_t runs, uint64_t sum, uint64_t sumSquares);
// Seeds as ascending ranges: "1-4,7,9-10".
std::string SeedRanges(std::vector<uint32_t> seeds);

struct Spread {
  int count = 0;
  double mean = 0, sd = 0, se = 0;  // sample standard deviation; error of the mean
};
Spread SpreadOf(const std::vector<double>& values);

// The closing line: mean, standard deviation and standard error of D and
// of the radius of gyration over the runs, then D on the mean profile when
// there is one.
std::string DescribeEnsemble(const std::vector<RunRecord>& runs, const EnsembleProfile* profile = nullptr);

}  // namespace io
