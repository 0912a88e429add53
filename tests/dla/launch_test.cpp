// The launch circle's points: uniform, and the return of a walker from
// outside the circle drawn from the disc's Poisson kernel.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "dla/launch.h"

namespace {

constexpr int kBins = 36;

double BinOf(double x, double y) {
  double a = std::atan2(y, x);
  if (a < 0) a += 2 * std::numbers::pi;
  return a / (2 * std::numbers::pi) * kBins;
}

// Pearson's statistic of counts against expected shares.
double ChiSquare(const std::vector<double>& counts, const std::vector<double>& share, double total) {
  double chi = 0;
  for (size_t i = 0; i < counts.size(); ++i) {
    const double e = share[i] * total;
    chi += (counts[i] - e) * (counts[i] - e) / e;
  }
  return chi;
}

// 35 degrees of freedom: 0.9999 quantile is about 75.
constexpr double kChiLimit = 75;

TEST(Launch, UnitCircleIsUniformAndOnTheCircle) {
  dla::Random random(7);
  std::vector<double> counts(kBins), share(kBins, 1.0 / kBins);
  const int n = 200000;
  for (int i = 0; i < n; ++i) {
    const dla::Vec u = dla::UnitCircle(random);
    ASSERT_NEAR(u.x * u.x + u.y * u.y, 1.0, 1e-15);
    counts[static_cast<int>(BinOf(u.x, u.y))] += 1;
  }
  EXPECT_LT(ChiSquare(counts, share, n), kChiLimit);
}

TEST(Launch, ReturnFollowsThePoissonKernel) {
  // The kernel's integral over an arc has a closed form: the share of
  // (theta1, theta2) is (phi(theta2) - phi(theta1)) / (2 pi), with
  // phi(t) = 2 atan((rho + r)/(rho - r) tan(t / 2)) continued over branches.
  for (double rho : {1.05, 1.5, 4.0}) {
    for (double angle : {0.0, 2.0}) {
      dla::Random random(static_cast<uint64_t>(rho * 1000 + angle));
      const double r = 10, p = rho * r;
      const dla::Vec at{p * std::cos(angle), p * std::sin(angle)};
      std::vector<double> counts(kBins), share(kBins);
      const double k = (p + r) / (p - r);
      const auto phi = [&](double t) {  // t in [-pi, pi]
        return 2 * std::atan(k * std::tan(t / 2));
      };
      for (int b = 0; b < kBins; ++b) {
        // Relative to the walker's own angle, bins of the absolute angle.
        double t1 = 2 * std::numbers::pi * b / kBins - angle, t2 = 2 * std::numbers::pi * (b + 1) / kBins - angle;
        double s = 0;
        // Split at pi so that each piece lies within one branch.
        for (int turn = -2; turn <= 1; ++turn) {
          const double lo = std::max(t1, (2 * turn - 1) * std::numbers::pi),
                       hi = std::min(t2, (2 * turn + 1) * std::numbers::pi);
          if (hi > lo) s += phi(hi - 2 * turn * std::numbers::pi) - phi(lo - 2 * turn * std::numbers::pi);
        }
        share[b] = s / (2 * std::numbers::pi);
      }
      const int n = 200000;
      for (int i = 0; i < n; ++i) {
        const dla::Vec q = dla::ReturnToCircle(random, at, r);
        ASSERT_NEAR(std::hypot(q.x, q.y), r, 1e-9);
        counts[static_cast<int>(BinOf(q.x, q.y)) % kBins] += 1;
      }
      EXPECT_LT(ChiSquare(counts, share, n), kChiLimit) << "rho " << rho << " angle " << angle;
    }
  }
}

// A kernel drawn for the wrong distance must be caught: the test has power.
TEST(Launch, ReturnFromTheWrongDistanceIsCaught) {
  dla::Random random(3);
  const double r = 10;
  std::vector<double> near(kBins), far(kBins), share(kBins);
  const int n = 200000;
  for (int i = 0; i < n; ++i) {
    const dla::Vec a = dla::ReturnToCircle(random, {15, 0}, r), b = dla::ReturnToCircle(random, {16, 0}, r);
    near[static_cast<int>(BinOf(a.x, a.y)) % kBins] += 1;
    far[static_cast<int>(BinOf(b.x, b.y)) % kBins] += 1;
  }
  for (int i = 0; i < kBins; ++i) share[i] = far[i] / n;
  EXPECT_GT(ChiSquare(near, share, n), 4 * kChiLimit);
}

}  // namespace
