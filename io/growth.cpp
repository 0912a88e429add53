#include "io/growth.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "io/growth_wide.h"

namespace io {

namespace {

using wide::U256;

double Approx(const U256& a) {
  return ((static_cast<double>(a.w[3]) * 18446744073709551616.0 + static_cast<double>(a.w[2])) * 18446744073709551616.0 +
          static_cast<double>(a.w[1])) * 18446744073709551616.0 + static_cast<double>(a.w[0]);
}

// round(sqrt(num) / n), halves up: the largest k with (2k-1)^2 n^2 <= 4 num.
uint64_t RoundedRoot(const U256& num, uint64_t n) {
  const U256 four = wide::Times4(num);
  const Wide n2 = wide::Mul(n, n);
  const auto fits = [&](uint64_t k) {
    if (k == 0) return true;
    const Wide odd = wide::Sub(wide::Add(wide::From(k), wide::From(k)), wide::From(1));
    return wide::NotAbove(wide::Mul(wide::Low(wide::Mul(odd, odd)), n2), four);
  };
  // The floating guess is within one or two of the answer; the integer test decides.
  uint64_t k = static_cast<uint64_t>(std::sqrt(Approx(num)) / static_cast<double>(n) + 0.5);
  while (fits(k + 1)) ++k;
  while (!fits(k)) --k;
  return k;
}

// The least-squares line through (x, y), on centred sums.
GrowthFit Line(const std::vector<double>& x, const std::vector<double>& y) {
  GrowthFit f;
  const size_t n = x.size();
  if (n < 2) return f;
  double mx = 0, my = 0;
  for (size_t i = 0; i < n; ++i) mx += x[i], my += y[i];
  mx /= static_cast<double>(n);
  my /= static_cast<double>(n);
  double sxx = 0, sxy = 0;
  for (size_t i = 0; i < n; ++i) sxx += (x[i] - mx) * (x[i] - mx), sxy += (x[i] - mx) * (y[i] - my);
  if (!(sxx > 0)) return f;
  f.slope = sxy / sxx;
  f.points = static_cast<int>(n);
  if (n > 2) {
    double residual = 0;
    for (size_t i = 0; i < n; ++i) {
      const double e = y[i] - my - f.slope * (x[i] - mx);
      residual += e * e;
    }
    f.slopeError = std::sqrt(residual / static_cast<double>(n - 2) / sxx);
  }
  return f;
}

// The slope of Rg(N) is 1/D; its error carried over by the delta method.
void AsGyrationDimension(GrowthFit& f) {
  if (f.points >= 2 && f.slope > 0) {
    f.dimension = 1.0 / f.slope;
    f.dimensionError = f.slopeError / (f.slope * f.slope);
  }
}

const std::vector<uint64_t>& GridSizes() {
  static const std::vector<uint64_t> sizes = [] {
    std::vector<uint64_t> s;
    for (int k = 13;; ++k) {
      // m = floor(2^((k+4)/4)), by bisection on m^4 <= 2^(k+4); then the
      // nearest integer to 2^(k/4) is floor((m+1)/2).
      U256 power;
      power.w[(k + 4) / 64] = uint64_t{1} << ((k + 4) % 64);
      uint64_t lo = 1, hi = uint64_t{1} << 40;
      while (hi - lo > 1) {
        const uint64_t mid = lo + (hi - lo) / 2;
        const Wide sq = wide::Mul(mid, mid);
        (wide::NotAbove(wide::Mul(sq, sq), power) ? lo : hi) = mid;
      }
      const uint64_t n = (lo + 1) / 2;
      if (s.empty() || s.back() != n) s.push_back(n);
      if (n > kMostGrowthParticles) return s;
    }
  }();
  return sizes;
}

const std::array<double, kMostProfileRadii>& Radii() {
  static const std::array<double, kMostProfileRadii> radii = [] {
    // 2^(j/8) = (2^j)^(1/8), three correctly rounded square roots.
    std::array<double, 8> eighth{};
    for (int j = 0; j < 8; ++j) eighth[j] = std::sqrt(std::sqrt(std::sqrt(static_cast<double>(1 << j))));
    std::array<double, kMostProfileRadii> r{};
    double octave = 1;
    for (size_t i = 0; i < kMostProfileRadii; ++i) {
      if (i > 0 && i % 8 == 0) octave *= 2;
      r[i] = octave * eighth[i % 8];
    }
    return r;
  }();
  return radii;
}

// The index of the first grid radius at or past d.
size_t RadiusIndex(double d) {
  const auto& r = Radii();
  return static_cast<size_t>(std::lower_bound(r.begin(), r.end(), d) - r.begin());
}

double Distance(double dx, double dy) { return std::sqrt(dx * dx + dy * dy); }

std::string Shown(std::string_view s) {
  std::string out(s.substr(0, 40));
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return "'" + out + (s.size() > 40 ? "...'" : "'");
}

// A whole number with nothing around it; "" when it is one, else why not.
std::string Count(std::string_view s, uint64_t most, uint64_t& out) {
  if (s.empty()) return "missing (cut short?)";
  if (!std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return Shown(s) + " is not a whole number";
  if (s.size() > 1 && s[0] == '0') return Shown(s) + " has a leading zero";
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  if (ec != std::errc() || end != s.data() + s.size() || out > most) return Shown(s) + " is too large";
  return "";
}

std::vector<std::string_view> Split(std::string_view text, char by) {
  std::vector<std::string_view> parts;
  for (;;) {
    const size_t at = text.find(by);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text = text.substr(at + 1);
  }
}

// Every Rg fits in 2^-16 units below this (kMostCoordinate, times sqrt 2).
constexpr uint64_t kMostFixedGyration = uint64_t{1} << 38;
constexpr size_t kMostFieldChars = 8000;
constexpr uint64_t kMostRuns = uint64_t{1} << 20;

// Sums over runs at one grid point, and the figures that follow from them.
PointStat Stat(double at, uint64_t runs, uint64_t sum, Wide squares, double unit) {
  PointStat s;
  s.at = at;
  s.runs = runs;
  s.sum = sum;
  s.sumSquares = squares;
  if (runs == 0) return s;
  s.mean = static_cast<double>(sum) / static_cast<double>(runs) / unit;
  if (runs > 1) {
    // The sample variance from the sums, exact up to the last division.
    const Wide num = wide::Sub(wide::Low(wide::Mul(wide::From(runs), squares)), wide::Mul(sum, sum));
    s.sd = std::sqrt(wide::ToDouble(num) / (static_cast<double>(runs) * static_cast<double>(runs - 1))) / unit;
    s.se = s.sd / std::sqrt(static_cast<double>(runs));
  }
  return s;
}

// D on means at the points [lo, hi) of a grid: runs' values in rows, picked
// with the given multiplicities (the bootstrap's resample, or all ones but
// one zero for the jackknife).
struct Table {
  std::vector<double> logAt;                  // log N or log r
  std::vector<std::vector<uint64_t>> values;  // a row a run
  size_t lo = 0, hi = 0;
  bool gyration = true;  // slope 1/D, else D
};

GrowthFit FitPicked(const Table& t, const std::vector<uint32_t>& times) {
  std::vector<double> x, y;
  for (size_t j = t.lo; j < t.hi; ++j) {
    uint64_t sum = 0;
    for (size_t r = 0; r < t.values.size(); ++r) sum += times[r] * t.values[r][j];
    if (sum == 0) continue;
    x.push_back(t.logAt[j]);
    y.push_back(std::log(static_cast<double>(sum)));  // the mean's constant factor leaves the slope alone
  }
  GrowthFit f = Line(x, y);
  if (f.points < 3) return GrowthFit{};
  if (t.gyration) {
    AsGyrationDimension(f);
  } else {
    f.dimension = f.slope;
    f.dimensionError = f.slopeError;
  }
  return f;
}

// A fixed generator (splitmix64) with unbiased draws below n, so the
// bootstrap is the same on every platform.
struct Draws {
  uint64_t state;
  uint64_t Next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint64_t Below(uint64_t n) {
    const uint64_t limit = UINT64_MAX - UINT64_MAX % n;
    for (;;) {
      const uint64_t v = Next();
      if (v < limit) return v % n;
    }
  }
};

DimensionEstimate Estimate(const Table& t, const EnsembleOptions& o) {
  DimensionEstimate e;
  const size_t n = t.values.size();
  e.meanFit = FitPicked(t, std::vector<uint32_t>(n, 1));
  if (e.meanFit.points < 3 || n < 2) return e;
  std::vector<double> boot;
  Draws draws{o.bootstrapSeed};
  std::vector<uint32_t> times(n);
  for (int b = 0; b < o.resamples; ++b) {
    std::fill(times.begin(), times.end(), 0);
    for (size_t i = 0; i < n; ++i) ++times[draws.Below(n)];
    const GrowthFit f = FitPicked(t, times);
    if (f.points >= 3 && f.dimension > 0) boot.push_back(f.dimension);
  }
  e.resamples = static_cast<int>(boot.size());
  if (boot.size() > 1) {
    double mean = 0, squares = 0;
    for (double d : boot) mean += d;
    mean /= static_cast<double>(boot.size());
    for (double d : boot) squares += (d - mean) * (d - mean);
    e.bootstrapError = std::sqrt(squares / static_cast<double>(boot.size() - 1));
  }
  std::vector<double> jack;
  for (size_t i = 0; i < n; ++i) {
    std::fill(times.begin(), times.end(), 1);
    times[i] = 0;
    const GrowthFit f = FitPicked(t, times);
    if (f.points < 3) return e;  // a leave-one-out estimate that fails leaves no jackknife
    jack.push_back(f.dimension);
  }
  double mean = 0, squares = 0;
  for (double d : jack) mean += d;
  mean /= static_cast<double>(n);
  for (double d : jack) squares += (d - mean) * (d - mean);
  e.jackknifeError = std::sqrt(squares * static_cast<double>(n - 1) / static_cast<double>(n));
  return e;
}

}  // namespace

std::string WideText(Wide v) { return wide::Text(v); }

uint64_t GrowthGridSize(int k) {
  const auto& s = GridSizes();
  if (k < 13) return 0;
  return static_cast<size_t>(k - 13) < s.size() ? s[static_cast<size_t>(k - 13)] : 0;
}

std::vector<uint64_t> RecordedSizes(uint64_t last) {
  std::vector<uint64_t> out;
  for (uint64_t n : GridSizes()) {
    if (n >= last) break;
    out.push_back(n);
  }
  if (last > 0) out.push_back(last);
  return out;
}

bool GyrationTracker::Add(double x, double y) {
  if (!std::isfinite(x) || !std::isfinite(y)) {
    error_ = "particle " + std::to_string(count_) + ": position not finite";
    return false;
  }
  if (std::fabs(x) > kMostCoordinate || std::fabs(y) > kMostCoordinate) {
    error_ = "particle " + std::to_string(count_) + ": position beyond 2^20 lattice units";
    return false;
  }
  if (count_ >= kMostGrowthParticles) {
    error_ = "more than " + std::to_string(kMostGrowthParticles) + " particles";
    return false;
  }
  // Multiplying by 2^16 is exact; llround is exact too, so the quantised
  // position is the same everywhere.
  const int64_t qx = std::llround(x * kFixedUnit), qy = std::llround(y * kFixedUnit);
  ++count_;
  sx_ = wide::Add(sx_, qx);
  sy_ = wide::Add(sy_, qy);
  const uint64_t ax = wide::Magnitude(qx), ay = wide::Magnitude(qy);
  s2_ = wide::Add(s2_, wide::Add(wide::Mul(ax, ax), wide::Mul(ay, ay)));
  if (count_ == nextN_) {
    curve_.push_back({count_, Gyration()});
    nextN_ = GrowthGridSize(++nextK_);
  }
  return true;
}

uint64_t GyrationTracker::Gyration() const {
  if (count_ < 2) return 0;
  // N^2 Rg^2 = N sum(x^2 + y^2) - (sum x)^2 - (sum y)^2, exactly.
  const Wide ax = wide::Magnitude(sx_), ay = wide::Magnitude(sy_);
  const U256 spread = wide::Sub(wide::Sub(wide::Mul(wide::From(count_), s2_), wide::Mul(ax, ax)), wide::Mul(ay, ay));
  return RoundedRoot(spread, count_);
}

double GyrationTracker::CentreX() const {
  return count_ ? wide::ToDouble(sx_) / static_cast<double>(count_) / kFixedUnit : 0.0;
}
double GyrationTracker::CentreY() const {
  return count_ ? wide::ToDouble(sy_) / static_cast<double>(count_) / kFixedUnit : 0.0;
}

GrowthCurve GyrationTracker::Curve() const {
  GrowthCurve c = curve_;
  if (count_ > 0 && (c.empty() || c.back().n != count_)) c.push_back({count_, Gyration()});
  return c;
}

std::string MeasureCurve(const std::vector<double>& x, const std::vector<double>& y, GrowthCurve& out) {
  out.clear();
  if (x.size() != y.size()) return "x and y differ in length";
  GyrationTracker t;
  for (size_t i = 0; i < x.size(); ++i)
    if (!t.Add(x[i], y[i])) return t.Error();
  out = t.Curve();
  return "";
}

SizeWindow StandardSizeWindow(uint64_t last) { return {std::max<uint64_t>(100, (last + 99) / 100), last}; }

GrowthFit FitGyration(const GrowthCurve& curve, SizeWindow window) {
  std::vector<double> x, y;
  for (const CurvePoint& p : curve)
    if (p.n >= window.from && p.n <= window.to && p.n >= 2 && p.gyration > 0) {
      x.push_back(std::log(static_cast<double>(p.n)));
      y.push_back(std::log(p.Radius()));
    }
  GrowthFit f = Line(x, y);
  if (f.points < 3) f = GrowthFit{};
  AsGyrationDimension(f);
  f.from = static_cast<double>(window.from);
  f.to = static_cast<double>(window.to);
  return f;
}

GrowthFit FitGyration(const GrowthCurve& curve) {
  return FitGyration(curve, StandardSizeWindow(curve.empty() ? 0 : curve.back().n));
}

std::vector<LocalSlope> LocalSlopes(const GrowthCurve& curve, int steps) {
  std::vector<LocalSlope> out;
  if (steps < 1) return out;
  const size_t span = static_cast<size_t>(steps);
  for (size_t i = 0; i + span < curve.size(); ++i) {
    std::vector<double> x, y;
    for (size_t j = i; j <= i + span; ++j)
      if (curve[j].n >= 2 && curve[j].gyration > 0) {
        x.push_back(std::log(static_cast<double>(curve[j].n)));
        y.push_back(std::log(curve[j].Radius()));
      }
    GrowthFit f = Line(x, y);
    if (f.points < 2) continue;
    LocalSlope s;
    s.from = curve[i].n;
    s.to = curve[i + span].n;
    s.n = std::sqrt(static_cast<double>(s.from) * static_cast<double>(s.to));
    s.slope = f.slope;
    s.dimension = f.slope > 0 ? 1.0 / f.slope : 0.0;
    out.push_back(s);
  }
  return out;
}

std::string CurveField(const GrowthCurve& curve) {
  std::string s;
  for (const CurvePoint& p : curve) {
    if (!s.empty()) s += ';';
    s += std::to_string(p.n) + ":" + std::to_string(p.gyration);
  }
  return s;
}

std::string ParseCurveField(std::string_view text, GrowthCurve& out) {
  out.clear();
  if (text.empty()) return "curve: empty";
  if (text.size() > kMostFieldChars) return "curve: longer than any run's curve";
  GrowthCurve c;
  const std::vector<std::string_view> parts = Split(text, ';');
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string where = "curve point " + std::to_string(i + 1) + ": ";
    const std::string_view part = parts[i];
    if (part.empty()) return where + "empty (cut short?)";
    const size_t colon = part.find(':');
    if (colon == std::string_view::npos) return where + Shown(part) + " is not N:Rg";
    CurvePoint p;
    std::string why = Count(part.substr(0, colon), kMostGrowthParticles, p.n);
    if (!why.empty()) return where + "N " + why;
    why = Count(part.substr(colon + 1), kMostFixedGyration, p.gyration);
    if (!why.empty()) return where + "Rg " + why;
    if (p.n == 0) return where + "N is 0";
    if (!c.empty() && p.n <= c.back().n)
      return where + "N " + std::to_string(p.n) + " after " + std::to_string(c.back().n) + " (not increasing)";
    if (p.n == 1 && p.gyration != 0) return where + "one particle has Rg 0";
    c.push_back(p);
  }
  const std::vector<uint64_t> want = RecordedSizes(c.back().n);
  for (size_t i = 0; i < want.size(); ++i)
    if (i >= c.size() || c[i].n != want[i])
      return "curve point " + std::to_string(i + 1) + ": " +
             (i < c.size() ? "N " + std::to_string(c[i].n) : std::string("nothing")) + " where the recorded sizes have " +
             std::to_string(want[i]);
  out = std::move(c);
  return "";
}

double ProfileRadius(size_t i) { return i < kMostProfileRadii ? Radii()[i] : 0.0; }

RadialProfile ProfileAbout(const std::vector<double>& x, const std::vector<double>& y, double cx, double cy) {
  RadialProfile p;
  const size_t n = std::min(x.size(), y.size());
  if (n == 0) return p;
  std::vector<uint64_t> shell(kMostProfileRadii + 1, 0);
  size_t last = 0;
  for (size_t i = 0; i < n; ++i) {
    const size_t at = std::min(RadiusIndex(Distance(x[i] - cx, y[i] - cy)), kMostProfileRadii);
    ++shell[at];
    last = std::max(last, at);
  }
  last = std::min(last, kMostProfileRadii - 1);
  uint64_t within = 0;
  for (size_t i = 0; i <= last; ++i) p.push_back(within += shell[i]);
  return p;
}

std::string ProfileField(const RadialProfile& p) {
  std::string s;
  for (uint64_t n : p) s += (s.empty() ? "" : ";") + std::to_string(n);
  return s;
}

std::string ParseProfileField(std::string_view text, RadialProfile& out) {
  out.clear();
  if (text.empty()) return "profile: empty";
  if (text.size() > kMostFieldChars) return "profile: longer than any run's profile";
  const std::vector<std::string_view> parts = Split(text, ';');
  if (parts.size() > kMostProfileRadii) return "profile: more radii than the grid has";
  RadialProfile p;
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string where = "profile radius " + std::to_string(i) + ": ";
    uint64_t n = 0;
    const std::string why = Count(parts[i], kMostGrowthParticles, n);
    if (!why.empty()) return where + why;
    if (!p.empty() && n < p.back())
      return where + std::to_string(n) + " after " + std::to_string(p.back()) + " (N(r) never falls)";
    p.push_back(n);
  }
  if (p.back() == 0) return "profile: no particles";
  out = std::move(p);
  return "";
}

RadiusWindow FrozenWindow(double gyration) { return {kFrozenFrom, kFrozenFraction * gyration}; }

GrowthFit FitProfile(const RadialProfile& p, RadiusWindow window) {
  std::vector<double> x, y;
  for (size_t i = 0; i < p.size(); ++i) {
    const double r = ProfileRadius(i);
    if (r < window.from || r > window.to || p[i] == 0) continue;
    x.push_back(std::log(r));
    y.push_back(std::log(static_cast<double>(p[i])));
  }
  GrowthFit f = Line(x, y);
  if (f.points < 3) f = GrowthFit{};
  f.dimension = f.slope;
  f.dimensionError = f.slopeError;
  f.from = window.from;
  f.to = window.to;
  return f;
}

double FrozenRadius(const std::vector<double>& x, const std::vector<double>& y, double share) {
  const size_t n = std::min(x.size(), y.size());
  if (n < 2) return 0;
  std::vector<uint64_t> all(kMostProfileRadii + 1, 0), late(kMostProfileRadii + 1, 0);
  for (size_t i = 0; i < n; ++i) {
    const size_t at = std::min(RadiusIndex(Distance(x[i] - x[0], y[i] - y[0])), kMostProfileRadii);
    ++all[at];
    if (i >= n / 2) ++late[at];
  }
  double frozen = 0;
  uint64_t within = 0, lateWithin = 0;
  for (size_t i = 0; i < kMostProfileRadii; ++i) {
    within += all[i];
    lateWithin += late[i];
    if (within == n) break;  // the whole cluster: nothing is left to freeze
    if (static_cast<double>(lateWithin) > share * static_cast<double>(within)) break;
    frozen = ProfileRadius(i);
  }
  return frozen;
}

std::vector<Shell> Anisotropy(const std::vector<double>& x, const std::vector<double>& y) {
  const size_t n = std::min(x.size(), y.size());
  std::vector<Shell> shells;
  std::vector<double> sums;
  for (size_t i = 1; i < n; ++i) {
    const double dx = x[i] - x[0], dy = y[i] - y[0];
    const double d2 = dx * dx + dy * dy;
    if (d2 == 0) continue;
    // cos 4theta = ((x^2 - y^2)^2 - (2xy)^2) / r^4, without trigonometry.
    const double a = dx * dx - dy * dy, b = 2 * dx * dy;
    const double c = (a * a - b * b) / (d2 * d2);
    const size_t at = std::min(RadiusIndex(std::sqrt(d2)), kMostProfileRadii - 1);
    if (shells.size() <= at) {
      shells.resize(at + 1);
      sums.resize(at + 1, 0.0);
    }
    ++shells[at].particles;
    sums[at] += c;
  }
  for (size_t i = 0; i < shells.size(); ++i) {
    shells[i].outer = ProfileRadius(i);
    if (shells[i].particles) shells[i].meanCos4 = sums[i] / static_cast<double>(shells[i].particles);
  }
  return shells;
}

std::string SummariseGrowth(std::vector<GrowthRun> runs, const EnsembleOptions& options, GrowthEnsemble& out) {
  out = GrowthEnsemble{};
  if (runs.empty()) return "no runs";
  if (runs.size() > kMostRuns) return "more than " + std::to_string(kMostRuns) + " runs";
  if (options.resamples < 0 || options.resamples > 1000000) return "bootstrap resamples outside 0..1000000";
  std::sort(runs.begin(), runs.end(), [](const GrowthRun& a, const GrowthRun& b) { return a.seed < b.seed; });
  for (size_t i = 0; i < runs.size(); ++i) {
    const GrowthRun& r = runs[i];
    const std::string who = "seed " + std::to_string(r.seed) + ": ";
    if (i > 0 && runs[i - 1].seed == r.seed) return who + "given twice";
    if (r.curve.empty()) return who + "no curve";
    const std::vector<uint64_t> want = RecordedSizes(r.curve.back().n);
    bool same = want.size() == r.curve.size();
    for (size_t j = 0; same && j < want.size(); ++j) same = want[j] == r.curve[j].n;
    if (!same) return who + "curve not on the recorded sizes";
    for (const CurvePoint& p : r.curve)
      if (p.gyration > kMostFixedGyration) return who + "Rg beyond any cluster's";
    if (r.profile.empty() != runs[0].profile.empty()) return who + "a profile where other runs have none, or none where they have one";
    if (r.profile.size() > kMostProfileRadii) return who + "more profile radii than the grid has";
    for (size_t j = 0; j < r.profile.size(); ++j)
      if ((j > 0 && r.profile[j] < r.profile[j - 1]) || r.profile[j] > kMostGrowthParticles)
        return who + "profile falls or overflows";
  }
  const size_t n = runs.size();
  out.runs = n;

  // The points of the shortest curve that every run has: the grid up to
  // the smallest run, and its last N when all runs end there.
  const GrowthCurve& shortest =
      std::min_element(runs.begin(), runs.end(), [](const GrowthRun& a, const GrowthRun& b) {
        return a.curve.back().n < b.curve.back().n;
      })->curve;
  Table curve;
  std::vector<uint64_t> sizes;
  for (size_t j = 0; j < shortest.size(); ++j) {
    bool everyone = true;
    for (const GrowthRun& r : runs) everyone = everyone && r.curve[j].n == shortest[j].n;
    if (everyone) sizes.push_back(shortest[j].n);
  }
  curve.values.assign(n, {});
  for (size_t r = 0; r < n; ++r)
    for (size_t j = 0; j < sizes.size(); ++j) curve.values[r].push_back(runs[r].curve[j].gyration);
  for (size_t j = 0; j < sizes.size(); ++j) {
    uint64_t sum = 0;
    Wide squares;
    for (size_t r = 0; r < n; ++r) {
      sum += curve.values[r][j];
      squares = wide::Add(squares, wide::Mul(curve.values[r][j], curve.values[r][j]));
    }
    out.curve.push_back(Stat(static_cast<double>(sizes[j]), n, sum, squares, kFixedUnit));
    curve.logAt.push_back(std::log(static_cast<double>(sizes[j])));
  }
  const SizeWindow sw = StandardSizeWindow(sizes.empty() ? 0 : sizes.back());
  curve.lo = static_cast<size_t>(std::lower_bound(sizes.begin(), sizes.end(), sw.from) - sizes.begin());
  curve.hi = sizes.size();
  curve.gyration = true;
  out.gyrationD = Estimate(curve, options);
  out.gyrationD.meanFit.from = static_cast<double>(sw.from);
  out.gyrationD.meanFit.to = static_cast<double>(sw.to);

  std::vector<double> own;
  for (const GrowthRun& r : runs) {
    const GrowthFit f = FitGyration(r.curve);
    if (f.points >= 3 && f.dimension > 0) own.push_back(f.dimension);
  }
  out.perRunCount = static_cast<int>(own.size());
  if (!own.empty()) {
    for (double d : own) out.perRunMean += d;
    out.perRunMean /= static_cast<double>(own.size());
    if (own.size() > 1) {
      double squares = 0;
      for (double d : own) squares += (d - out.perRunMean) * (d - out.perRunMean);
      out.perRunSd = std::sqrt(squares / static_cast<double>(own.size() - 1));
      out.perRunSe = out.perRunSd / std::sqrt(static_cast<double>(own.size()));
    }
  }

  if (!runs[0].profile.empty()) {
    Table prof;
    prof.gyration = false;
    size_t radii = 0;
    uint64_t leastGyration = UINT64_MAX;
    for (const GrowthRun& r : runs) {
      radii = std::max(radii, r.profile.size());
      leastGyration = std::min(leastGyration, r.curve.back().gyration);
    }
    // Past its last radius a run holds its whole count.
    prof.values.assign(n, {});
    for (size_t r = 0; r < n; ++r) {
      prof.values[r] = runs[r].profile;
      prof.values[r].resize(radii, runs[r].profile.back());
    }
    const RadiusWindow rw = FrozenWindow(static_cast<double>(leastGyration) / kFixedUnit);
    prof.lo = radii;
    for (size_t j = 0; j < radii; ++j) {
      uint64_t sum = 0;
      Wide squares;
      for (size_t r = 0; r < n; ++r) {
        sum += prof.values[r][j];
        squares = wide::Add(squares, wide::Mul(prof.values[r][j], prof.values[r][j]));
      }
      const double radius = ProfileRadius(j);
      out.profile.push_back(Stat(radius, n, sum, squares, 1.0));
      prof.logAt.push_back(std::log(radius));
      if (radius >= rw.from && prof.lo == radii) prof.lo = j;
      if (radius <= rw.to) prof.hi = j + 1;
    }
    if (prof.hi < prof.lo) prof.hi = prof.lo;
    out.profileD = Estimate(prof, options);
    out.profileD.meanFit.from = rw.from;
    out.profileD.meanFit.to = rw.to;
  }
  return "";
}

namespace {
std::string Rows(const std::vector<PointStat>& stats, const char* head, const char* atFormat) {
  std::string text = std::string(head) + ",runs,mean,sd,se,sum,sum_squares\n";
  char buf[200];
  for (const PointStat& s : stats) {
    char at[40];
    std::snprintf(at, sizeof at, atFormat, s.at);
    std::snprintf(buf, sizeof buf, "%s,%" PRIu64 ",%.6f,%.6f,%.6f,%" PRIu64 ",", at, s.runs, s.mean, s.sd, s.se, s.sum);
    text += buf + WideText(s.sumSquares) + "\n";
  }
  return text;
}
}  // namespace

std::string EnsembleCurveText(const GrowthEnsemble& e) { return Rows(e.curve, "N", "%.0f"); }
std::string EnsembleProfileRows(const GrowthEnsemble& e) { return Rows(e.profile, "r", "%.6g"); }

std::string DescribeGrowth(const GrowthCurve& curve) {
  if (curve.empty()) return "no particles";
  char buf[400];
  const CurvePoint& last = curve.back();
  int n = std::snprintf(buf, sizeof buf, "N %" PRIu64 ", radius of gyration %.3f", last.n, last.Radius());
  const GrowthFit f = FitGyration(curve);
  if (f.points >= 3) {
    n += std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n),
                       ", D from Rg(N) %.3f +- %.3f (regression error, N = %.0f..%.0f, %d points)", f.dimension,
                       f.dimensionError, f.from, f.to, f.points);
    const std::vector<LocalSlope> local = LocalSlopes(curve, 8);
    if (!local.empty())
      std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), "; local D over a factor of 4: %.3f at N %.0f, %.3f at N %.0f",
                    local.front().dimension, local.front().n, local.back().dimension, local.back().n);
  } else {
    std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), ", too small for D from Rg(N)");
  }
  return buf;
}

std::string DescribeGrowthEnsemble(const GrowthEnsemble& e) {
  std::string s = std::to_string(e.runs) + " runs";
  char buf[400];
  if (!e.curve.empty()) {
    const PointStat& p = e.curve.back();
    std::snprintf(buf, sizeof buf, ": Rg at N %.0f mean %.3f, sd %.3f, standard error %.3f", p.at, p.mean, p.sd, p.se);
    s += buf;
  }
  const DimensionEstimate& g = e.gyrationD;
  if (g.meanFit.points >= 3) {
    std::snprintf(buf, sizeof buf,
                  "; D of the mean Rg(N) %.4f, bootstrap sd %.4f (%d resamples), jackknife %.4f (N = %.0f..%.0f)",
                  g.meanFit.dimension, g.bootstrapError, g.resamples, g.jackknifeError, g.meanFit.from, g.meanFit.to);
    s += buf;
  } else {
    s += "; too small for D from Rg(N)";
  }
  if (e.perRunCount > 0) {
    std::snprintf(buf, sizeof buf, "; mean of the runs' own D %.4f, sd %.4f, standard error %.4f (%d runs)", e.perRunMean,
                  e.perRunSd, e.perRunSe, e.perRunCount);
    s += buf;
  }
  const DimensionEstimate& m = e.profileD;
  if (!e.profile.empty()) {
    if (m.meanFit.points >= 3)
      std::snprintf(buf, sizeof buf,
                    "; D of the mean N(r) about the centre of mass %.4f, bootstrap sd %.4f, jackknife %.4f (r = %.1f..%.1f)",
                    m.meanFit.dimension, m.bootstrapError, m.jackknifeError, m.meanFit.from, m.meanFit.to);
    else
      std::snprintf(buf, sizeof buf, "; the mean N(r) too small for D (r = %.1f..%.1f)", m.meanFit.from, m.meanFit.to);
    s += buf;
  }
  return s;
}

std::string GrowthErrorsText() {
  return "Growth figures and what their errors mean:\n"
         "  Rg(N)      radius of gyration of the first N particles (the seed's among them) about their centre of\n"
         "             mass, at N = the integers nearest 2^(k/4) from 10, and at the last N; exact to 2^-16.\n"
         "  D, Rg(N)   1/D is the least-squares slope of log Rg on log N for N from max(100, N_last/100) to\n"
         "             N_last.  The +- of one run is the regression's standard error from the scatter about the\n"
         "             line; the points are correlated (one cluster), so it understates the true error.\n"
         "  local D    the same slope over a factor of 4 in N, to show corrections to scaling.\n"
         "  D, N(r)    slope of log N(r) on log r on the frozen part: r from 4 to half the radius of gyration.\n"
         "  ensemble   mean Rg(N): sd is the sample standard deviation over runs, standard error is sd/sqrt(runs)\n"
         "             (the standard error of the mean over runs).\n"
         "             D of the mean curve (or mean profile): its 'bootstrap sd' is the standard deviation of D\n"
         "             over B resamples of the runs drawn with replacement (fixed generator seed, runs in seed\n"
         "             order, so it is the same for the same runs); 'jackknife' is the leave-one-run-out\n"
         "             standard error.  Both are errors of D itself.\n"
         "             mean of the runs' own D: sd over runs and its standard error of the mean over runs.\n";
}

}  // namespace io
