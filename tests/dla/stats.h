// Two-sample tests for the standard model's statistical comparisons: Welch's
// t on means (the p-value from Student's t through the regularised
// incomplete beta function, by its continued fraction) and Kolmogorov-
// Smirnov on whole distributions (the asymptotic Kolmogorov law with
// Stephens' small-sample correction).  p-values are two-sided.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

namespace dla_test {

inline double Mean(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += x;
  return s / static_cast<double>(v.size());
}

// The unbiased sample variance.
inline double Variance(const std::vector<double>& v) {
  const double m = Mean(v);
  double s = 0;
  for (double x : v) s += (x - m) * (x - m);
  return s / static_cast<double>(v.size() - 1);
}

// I_x(a, b) by the modified Lentz evaluation of its continued fraction,
// taken on the side where it converges fast.
inline double IncompleteBeta(double a, double b, double x) {
  if (x <= 0) return 0;
  if (x >= 1) return 1;
  if (x > (a + 1) / (a + b + 2)) return 1 - IncompleteBeta(b, a, 1 - x);
  const double front = std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) + a * std::log(x) + b * std::log1p(-x)) / a;
  const double tiny = 1e-300;
  double f = 1, c = 1, d = 0;
  for (int i = 0; i <= 400; ++i) {
    const int m = i / 2;
    double numerator;
    if (i == 0) {
      numerator = 1;
    } else if (i % 2 == 0) {
      numerator = m * (b - m) * x / ((a + 2 * m - 1) * (a + 2 * m));
    } else {
      numerator = -(a + m) * (a + b + m) * x / ((a + 2 * m) * (a + 2 * m + 1));
    }
    d = 1 + numerator * d;
    d = std::fabs(d) < tiny ? tiny : d;
    d = 1 / d;
    c = 1 + numerator / c;
    c = std::fabs(c) < tiny ? tiny : c;
    const double cd = c * d;
    f *= cd;
    if (std::fabs(1 - cd) < 1e-14) break;
  }
  return front * (f - 1);
}

// P(|T| >= |t|) for Student's t with df degrees of freedom.
inline double StudentTwoSided(double t, double df) { return IncompleteBeta(df / 2, 0.5, df / (df + t * t)); }

struct TestResult {
  double statistic;  // t for Welch, D for Kolmogorov-Smirnov
  double p;
};

inline TestResult Welch(const std::vector<double>& a, const std::vector<double>& b) {
  const double na = static_cast<double>(a.size()), nb = static_cast<double>(b.size());
  const double va = Variance(a) / na, vb = Variance(b) / nb;
  const double diff = Mean(a) - Mean(b);
  if (va + vb == 0) return {0, diff == 0 ? 1.0 : 0.0};
  const double t = diff / std::sqrt(va + vb);
  const double df = (va + vb) * (va + vb) / (va * va / (na - 1) + vb * vb / (nb - 1));
  return {t, StudentTwoSided(t, df)};
}

// Q_KS(lambda) = 2 sum_k (-1)^(k-1) exp(-2 k^2 lambda^2).
inline double KolmogorovTail(double lambda) {
  if (lambda < 0.2) return 1;
  double sum = 0, sign = 1;
  for (int k = 1; k <= 100; ++k) {
    const double term = std::exp(-2.0 * k * k * lambda * lambda);
    sum += sign * term;
    if (term < 1e-16) break;
    sign = -sign;
  }
  return std::clamp(2 * sum, 0.0, 1.0);
}

inline TestResult KolmogorovSmirnov(std::vector<double> a, std::vector<double> b) {
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  const double na = static_cast<double>(a.size()), nb = static_cast<double>(b.size());
  size_t i = 0, j = 0;
  double d = 0;
  while (i < a.size() && j < b.size()) {
    const double x = std::min(a[i], b[j]);
    while (i < a.size() && a[i] == x) ++i;
    while (j < b.size() && b[j] == x) ++j;
    d = std::max(d, std::fabs(static_cast<double>(i) / na - static_cast<double>(j) / nb));
  }
  const double en = std::sqrt(na * nb / (na + nb));
  return {d, KolmogorovTail((en + 0.12 + 0.11 / en) * d)};
}

}  // namespace dla_test
