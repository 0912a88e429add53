// How an aggregate grows: its radius of gyration as particles arrive, the
// fractal dimension from Rg(N) ~ N^(1/D) and from the frozen inner part of
// its mass-radius profile, and the same over an ensemble of runs with
// errors that say what they mean.  Works on any sequence of stuck
// positions, lattice or not, in order of arrival with the seed first.
//
// Everything a table holds is exact integers: positions are taken in units
// of 2^-16 (exact for lattice clusters), the sums over particles and over
// runs are integers, and a run's Rg is rounded to 2^-16 by integer
// arithmetic alone.  The same positions therefore give the same figures on
// every platform and in any order of runs.  Logarithms appear only in the
// fits, which are printed, never written back.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace io {

// An unsigned 128-bit integer in two words, for sums over particles and
// runs that outgrow 64 bits; plain words, since not every compiler of the
// programs has a 128-bit type.  Compared as numbers (hi first).
struct Wide {
  uint64_t hi = 0, lo = 0;
  friend constexpr auto operator<=>(const Wide&, const Wide&) = default;
};
// Its decimal digits.
std::string WideText(Wide v);
// The same words read as two's complement, for signed sums.
struct SignedWide {
  uint64_t hi = 0, lo = 0;
};

// Fixed point for radii: a value v stands for v / 2^16 lattice units.
inline constexpr int kFixedBits = 16;
inline constexpr double kFixedUnit = 65536.0;
// Positions farther than this from the origin on either axis are refused;
// it keeps every sum exact (a DLA of 2e9 particles reaches about 6e5).
inline constexpr double kMostCoordinate = 1048576.0;  // 2^20
inline constexpr uint64_t kMostGrowthParticles = 4000000000ull;

// The sizes at which Rg(N) is recorded: N_k = the integer nearest 2^(k/4),
// from 10 on (k = 13), found with integers alone.
uint64_t GrowthGridSize(int k);
// The grid sizes up to and below last, then last itself.
std::vector<uint64_t> RecordedSizes(uint64_t last);

struct CurvePoint {
  uint64_t n = 0;        // particles, the seed's among them
  uint64_t gyration = 0;  // Rg of the first n about their centre of mass, in 2^-16 units, rounded (halves up)
  double Radius() const { return static_cast<double>(gyration) / kFixedUnit; }
};
using GrowthCurve = std::vector<CurvePoint>;

// Fed each particle as it sticks; O(1) a particle.
class GyrationTracker {
 public:
  // False for a position that is not finite, is beyond kMostCoordinate, or
  // one particle too many; Error() then says why and nothing is added.
  bool Add(double x, double y);
  const std::string& Error() const { return error_; }
  uint64_t Count() const { return count_; }
  // Rg of every particle so far, 2^-16 units, rounded.
  uint64_t Gyration() const;
  // The centre of mass (of the quantised positions).
  double CentreX() const;
  double CentreY() const;
  // The points recorded so far on the grid, and the curve with the last
  // count added when it is off the grid.
  const GrowthCurve& Recorded() const { return curve_; }
  GrowthCurve Curve() const;

 private:
  uint64_t count_ = 0;
  SignedWide sx_, sy_;  // sums of quantised coordinates
  Wide s2_;             // sum of x^2 + y^2
  int nextK_ = 13;
  uint64_t nextN_ = 10;
  GrowthCurve curve_;
  std::string error_;
};

// The curve of a whole sequence of positions, x and y of equal length.
// Error text, empty when measured.
std::string MeasureCurve(const std::vector<double>& x, const std::vector<double>& y, GrowthCurve& out);

// A least-squares line on logarithms, with the window it used.
struct GrowthFit {
  int points = 0;  // under 3: no fit, the figures are 0
  double slope = 0, slopeError = 0;          // regression slope and its standard error from the residuals
  double dimension = 0, dimensionError = 0;  // D and its error (for Rg: D = 1/slope, error by the delta method)
  double from = 0, to = 0;                   // the window, in N for Rg fits and in lattice units for profiles
};

// Rg(N) ~ N^(1/D) fitted on log Rg against log N for from <= N <= to.
// The standard window starts at max(100, last/100): below ~100 particles
// the seed and the lattice set the shape, and past that two decades up to
// the last N weigh the large-N behaviour while keeping 27 grid points.
struct SizeWindow {
  uint64_t from = 0, to = 0;
};
SizeWindow StandardSizeWindow(uint64_t last);
GrowthFit FitGyration(const GrowthCurve& curve, SizeWindow window);
GrowthFit FitGyration(const GrowthCurve& curve);  // the standard window

// The local exponent d log Rg / d log N, fitted over the points i..i+steps
// (1: between successive recorded N; 8: a factor of 4 on the grid), at the
// geometric mean of the ends, so that corrections to scaling show as a drift.
struct LocalSlope {
  uint64_t from = 0, to = 0;
  double n = 0, slope = 0, dimension = 0;
};
std::vector<LocalSlope> LocalSlopes(const GrowthCurve& curve, int steps = 8);

// A run's curve as one CSV field: "N:Rg;N:Rg;..." with Rg in 2^-16 units,
// the N being exactly RecordedSizes(last N).  The parser refuses any other
// text with one line naming the point and the reason; empty when read.
std::string CurveField(const GrowthCurve& curve);
std::string ParseCurveField(std::string_view text, GrowthCurve& out);

// The mass-radius profile N(r), the particles within r (inclusive) of a
// centre, at the radii every run shares: r_i = 2^(i/8) from i = 0, up to
// the first at or past the farthest particle (beyond it N(r) is the total).
// The radii are made with sqrt and powers of two, so that they are the same
// everywhere (io/ensemble.h's grid, to the last bit where pow is exact).
double ProfileRadius(size_t i);
inline constexpr size_t kMostProfileRadii = 200;
using RadialProfile = std::vector<uint64_t>;
RadialProfile ProfileAbout(const std::vector<double>& x, const std::vector<double>& y, double cx, double cy);
// As one CSV field, "n0;n1;...", non-decreasing; and read back.
std::string ProfileField(const RadialProfile& p);
std::string ParseProfileField(std::string_view text, RadialProfile& out);

// D from N(r) ~ r^D on the frozen part only.  New particles stick where
// the harmonic measure is, on the outer tips: arrivals crowd into an active
// zone around the radius of gyration and out to the farthest tips, while
// the fjords inside are screened and stop filling.  So the standard window
// runs from 4 lattice units (below it the lattice and the particles' own
// size show) to half the radius of gyration, where later growth adds almost
// nothing to N(r).  FrozenRadius below measures that on a run's own order
// of arrival, so the choice can be checked rather than trusted.
struct RadiusWindow {
  double from = 0, to = 0;
};
inline constexpr double kFrozenFrom = 4.0;
inline constexpr double kFrozenFraction = 0.5;
RadiusWindow FrozenWindow(double gyration);
GrowthFit FitProfile(const RadialProfile& p, RadiusWindow window);
// The largest grid radius such that particles arriving after the first
// half of the run make up at most `share` of N(r) about the seed at every
// radius up to it: a measured check on the frozen window.  0 when none.
double FrozenRadius(const std::vector<double>& x, const std::vector<double>& y, double share = 0.01);

// Lattice anisotropy: <cos 4 theta> of the particles (the seed left out)
// about the seed, by shell (r_{i-1}, r_i] of the profile grid.  +1 for
// growth along the axes, -1 along the diagonals, 0 for an isotropic one.
struct Shell {
  double outer = 0;
  uint64_t particles = 0;
  double meanCos4 = 0;
};
std::vector<Shell> Anisotropy(const std::vector<double>& x, const std::vector<double>& y);

// One run as the ensemble sees it.  profile (about the centre of mass) may
// be empty when the run did not keep it.
struct GrowthRun {
  uint32_t seed = 0;
  GrowthCurve curve;
  RadialProfile profile;
};

// Mean, spread and error at one point of a grid, from exact integer sums.
struct PointStat {
  double at = 0;  // N or r
  uint64_t runs = 0;
  uint64_t sum = 0;
  Wide sumSquares;
  double mean = 0, sd = 0, se = 0;  // sd over runs (n-1); se = sd / sqrt(runs)
};

struct DimensionEstimate {
  GrowthFit meanFit;          // on the mean curve (profile); its error is the regression's only
  double bootstrapError = 0;  // sd of D over the bootstrap resamples of the runs
  int resamples = 0;          // the resamples that could be fitted
  double jackknifeError = 0;  // jackknife standard error of D over the runs
};

struct GrowthEnsemble {
  uint64_t runs = 0;
  // Rg(N) on the N every run reached (mean in lattice units).
  std::vector<PointStat> curve;
  DimensionEstimate gyrationD;
  // Each run's own D from its curve (standard window): mean, sd and se.
  int perRunCount = 0;
  double perRunMean = 0, perRunSd = 0, perRunSe = 0;
  // N(r) about the centre of mass, over the runs that kept a profile (all
  // or none); its window is the frozen one of the smallest run's Rg.
  std::vector<PointStat> profile;
  DimensionEstimate profileD;
};

struct EnsembleOptions {
  int resamples = 1000;
  uint64_t bootstrapSeed = 0x5eed2024u;  // fixed, so the same runs give the same error
};

// Runs are put in seed order first, so any order of input gives the same
// figures to the bit.  Error text (duplicate seed, no runs, a profile kept
// by some runs only), empty when summed.
std::string SummariseGrowth(std::vector<GrowthRun> runs, const EnsembleOptions& options, GrowthEnsemble& out);

// Rows "N,runs,mean,sd,se,sum,sum_squares" (and r,... for the profile).
std::string EnsembleCurveText(const GrowthEnsemble& e);
std::string EnsembleProfileRows(const GrowthEnsemble& e);
// One line for a person; and what every figure and error means, for
// --help and the manual.
std::string DescribeGrowth(const GrowthCurve& curve);
std::string DescribeGrowthEnsemble(const GrowthEnsemble& e);
std::string GrowthErrorsText();

}  // namespace io
