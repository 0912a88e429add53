// The return to the launch circle against a walker that makes the trip
// itself.  A random flight of short steps starts outside the circle and is
// followed until its path crosses the circle or leaves an outer circle.
// Its first crossings, before leaving, must follow the annulus's harmonic
// measure (a closed-form Fourier series); and the walkers that left, sent
// on by dla::ReturnToCircle from where they left, must make up together
// with them the same law as dla::ReturnToCircle drawn at once from the
// start.  The two hold only for the true law: harmonic measure is the unique
// one that decomposes this way.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "dla/launch.h"
#include "ensemble.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr int kBins = 24;
constexpr double kInner = 1, kOuter = 3;

int Bin(double x, double y) {
  double a = std::atan2(y, x);
  if (a < 0) a += 2 * kPi;
  return static_cast<int>(a / (2 * kPi) * kBins) % kBins;
}

struct Trip {
  bool left;  // left through the outer circle, at `at`; else crossed the inner one there
  dla::Vec at;
};

// Steps of length h until the path meets the inner circle (the crossing
// point of the step, solved exactly) or ends beyond the outer one.
Trip Walk(dla::Random& random, dla::Vec p, double h) {
  for (;;) {
    const dla::Vec u = dla::UnitCircle(random);
    const dla::Vec d{h * u.x, h * u.y};
    // |p + t d|^2 = 1: t^2 h^2 + 2 t (p.d) + |p|^2 - 1 = 0.
    const double b = p.x * d.x + p.y * d.y, c = p.x * p.x + p.y * p.y - kInner * kInner;
    const double disc = b * b - h * h * c;
    if (b < 0 && disc >= 0) {
      const double t = (-b - std::sqrt(disc)) / (h * h);
      if (t <= 1) return {false, {p.x + t * d.x, p.y + t * d.y}};
    }
    p = {p.x + d.x, p.y + d.y};
    if (p.x * p.x + p.y * p.y >= kOuter * kOuter) return {true, p};
  }
}

// The chance that a Brownian walker from radius rho at angle alpha meets the
// inner circle first, within each bin, and (last entry) that it leaves
// first.  Each Fourier mode cos n(theta - alpha) of the boundary data
// extends into the annulus as ((R/rho)^n - (rho/R)^n) / (R^n - R^-n).
std::vector<double> AnnulusShares(double rho, double alpha) {
  std::vector<double> share(kBins + 1);
  const double u0 = std::log(kOuter / rho) / std::log(kOuter);
  for (int b = 0; b < kBins; ++b) {
    const double t1 = 2 * kPi * b / kBins - alpha, t2 = 2 * kPi * (b + 1) / kBins - alpha;
    double s = u0 * (t2 - t1);
    for (int n = 1; n < 200; ++n) {
      const double un = (std::pow(kOuter / rho, n) - std::pow(rho / kOuter, n)) / (std::pow(kOuter, n) - std::pow(kOuter, -n));
      s += 2 * un * (std::sin(n * t2) - std::sin(n * t1)) / n;
      if (un < 1e-17) break;
    }
    share[b] = s / (2 * kPi);
  }
  share[kBins] = 1 - u0;
  return share;
}

double ChiSquare(const std::vector<double>& counts, const std::vector<double>& share, double total) {
  double chi = 0;
  for (size_t i = 0; i < counts.size(); ++i) chi += (counts[i] - share[i] * total) * (counts[i] - share[i] * total) / (share[i] * total);
  return chi;
}

// Two samples of the same size: sum (a - b)^2 / (a + b) over the bins.
double Homogeneity(const std::vector<double>& a, const std::vector<double>& b) {
  double chi = 0;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] + b[i] > 0) chi += (a[i] - b[i]) * (a[i] - b[i]) / (a[i] + b[i]);
  return chi;
}

// 0.9999 quantiles of chi-square with 24 and 23 degrees of freedom.
constexpr double kChi24 = 59.0, kChi23 = 57.3;

struct Sampled {
  std::vector<double> annulus;   // inner crossings by bin, then the walkers that left
  std::vector<double> composed;  // inner crossings, and the others returned from where they left
};

Sampled Trips(double rho, double alpha, uint64_t seed, int n) {
  const bool long_mode = dla_test::LongMode();
  const double h = long_mode ? 0.01 : 0.02;
  dla::Random random(seed);
  Sampled s{std::vector<double>(kBins + 1), std::vector<double>(kBins)};
  for (int i = 0; i < n; ++i) {
    const Trip trip = Walk(random, {rho * std::cos(alpha), rho * std::sin(alpha)}, h);
    if (trip.left) {
      s.annulus[kBins] += 1;
      const dla::Vec q = dla::ReturnToCircle(random, trip.at, kInner);
      s.composed[Bin(q.x, q.y)] += 1;
    } else {
      s.annulus[Bin(trip.at.x, trip.at.y)] += 1;
      s.composed[Bin(trip.at.x, trip.at.y)] += 1;
    }
  }
  return s;
}

std::vector<double> Returned(double rho, double alpha, int n, uint64_t seed) {
  dla::Random random(seed);
  std::vector<double> counts(kBins);
  for (int i = 0; i < n; ++i) {
    const dla::Vec q = dla::ReturnToCircle(random, {rho * std::cos(alpha), rho * std::sin(alpha)}, kInner);
    counts[Bin(q.x, q.y)] += 1;
  }
  return counts;
}

double Total(const std::vector<double>& v) {
  double t = 0;
  for (double x : v) t += x;
  return t;
}

TEST(ReturnWalk, TheWalkersOwnTripsMatchTheReturn) {
  for (const auto& [rho, alpha] : {std::pair{1.5, 0.7}, std::pair{1.15, 4.0}}) {
    SCOPED_TRACE("rho " + std::to_string(rho));
    const Sampled s = Trips(rho, alpha, static_cast<uint64_t>(rho * 100), dla_test::LongMode() ? 100000 : 20000);
    const double n = Total(s.annulus);
    const double annulus = ChiSquare(s.annulus, AnnulusShares(rho, alpha), n);
    const double composed = Homogeneity(s.composed, Returned(rho, alpha, static_cast<int>(n), 17));
    std::printf("rho %.2f: annulus chi-square %.1f (limit %.1f), composed against the return %.1f (limit %.1f)\n", rho,
                annulus, kChi24, composed, kChi23);
    EXPECT_LT(annulus, kChi24);
    EXPECT_LT(composed, kChi23);
  }
}

// Both checks must see a law drawn for a start 10% farther out.
TEST(ReturnWalk, AReturnFromTheWrongDistanceIsCaught) {
  const double rho = 1.5, alpha = 0.7;
  const Sampled s = Trips(rho, alpha, 150, 10000);
  const double n = Total(s.annulus);
  const double annulus = ChiSquare(s.annulus, AnnulusShares(1.1 * rho, alpha), n);
  const double composed = Homogeneity(s.composed, Returned(1.1 * rho, alpha, static_cast<int>(n), 17));
  std::printf("against rho %.2f: annulus chi-square %.1f, composed %.1f\n", 1.1 * rho, annulus, composed);
  EXPECT_GT(annulus, kChi24);
  EXPECT_GT(composed, kChi23);
}

}  // namespace
