#include "dla/exit_table.h"

#include <cmath>
#include <stdexcept>

namespace dla {

namespace {

constexpr double kPi = 3.141592653589793238462643383279502884;

// Taylor series on [0, pi/4]; the first omitted term is below 1e-22.
double SinSmall(double x) {
  const double x2 = x * x;
  double s = 0;
  for (int n = 21; n >= 3; n -= 2) s = (s + 1) * (-x2 / ((n - 1) * n));
  return x * (1 + s);
}
double CosSmall(double x) {
  const double x2 = x * x;
  double s = 0;
  for (int n = 22; n >= 2; n -= 2) s = (s + 1) * (-x2 / ((n - 1) * n));
  return 1 + s;
}

// z^n by squaring, in a fixed order.
double Power(double z, uint32_t n) {
  double r = 1;
  while (n) {
    if (n & 1) r *= z;
    n >>= 1;
    if (n) z *= z;
  }
  return r;
}

}  // namespace

double SinPi(int64_t m, int64_t n) {
  const int64_t period = 2 * n;
  m %= period;
  if (m < 0) m += period;
  double sign = 1;
  if (m >= n) m -= n, sign = -1;  // sin(x + pi) = -sin x
  if (2 * m > n) m = n - m;       // sin(pi - x) = sin x; now x <= pi/2
  if (4 * m > n) return sign * CosSmall(kPi * static_cast<double>(n - 2 * m) / static_cast<double>(2 * n));
  return sign * SinSmall(kPi * static_cast<double>(m) / static_cast<double>(n));
}

std::vector<double> SideExitShares(Lattice lattice, uint32_t half) {
  if (lattice == Lattice::Off || half == 0 || half > (1u << 20))
    throw std::invalid_argument("exit tables are for the square lattices and half-sizes 1 .. 2^20");
  const bool nine = lattice == Lattice::Square8;
  const int64_t L = half, M = 2 * L;
  // The odd modes' weights 1 / T_L(w_k), signed by (-1)^((k-1)/2).
  std::vector<double> weight;
  std::vector<int64_t> mode;
  for (int64_t k = 1; k < M; k += 2) {
    const double s = SinPi(k, 2 * M);
    const double d = 2 * s * s;  // 1 - cos(pi k / M), without cancellation
    double e;                    // |w| - 1
    bool negative = false;
    if (!nine) {
      e = d;
    } else if (3 - 2 * d > 0) {
      e = 3 * d / (3 - 2 * d);
    } else {
      e = (6 - d) / (2 * d - 3);
      negative = true;
    }
    const double z = 1 + e + std::sqrt(e * (2 + e));
    const double zl = Power(z, static_cast<uint32_t>(L));
    double a = 2 / (zl + 1 / zl);
    if (negative && (L & 1)) a = -a;
    if (((k - 1) / 2) & 1) a = -a;
    if (a > 1e-40 || a < -1e-40) weight.push_back(a), mode.push_back(k);
  }
  // P(t): the chance of the single site (L, t), t = 0 .. L-1.
  std::vector<double> site(static_cast<size_t>(L));
  for (int64_t t = 0; t < L; ++t) {
    double sum = 0;
    for (size_t i = 0; i < mode.size(); ++i) sum += weight[i] * SinPi(mode[i] * (L + t), M);
    site[static_cast<size_t>(t)] = sum / static_cast<double>(M);
    if (site[static_cast<size_t>(t)] < 0) site[static_cast<size_t>(t)] = 0;
  }
  std::vector<double> share(static_cast<size_t>(L) + 1);
  double side = site[0];
  share[0] = site[0];
  for (int64_t t = 1; t < L; ++t) {
    share[static_cast<size_t>(t)] = 2 * site[static_cast<size_t>(t)];
    side += share[static_cast<size_t>(t)];
  }
  // The corners take what the four sides leave; the 4-way walk cannot
  // reach them.
  double corner = nine ? 0.25 - side : 0;
  if (corner < 0) corner = 0;
  share[static_cast<size_t>(L)] = corner;
  const double total = side + corner;
  for (double& s : share) s = s / total;
  return share;
}

ExitTables::ExitTables(Lattice lattice) {
  for (int i = 0; i < kCount; ++i) {
    const uint32_t half = SizeOf(i);
    std::vector<double> share = SideExitShares(lattice, half);
    if (lattice == Lattice::Square4) share.pop_back();  // the unreachable corner
    tables_[i] = {half, static_cast<uint32_t>(share.size()), cum_.size(), 0, 0};
    double run = 0;
    for (size_t t = 0; t < share.size(); ++t) {
      run += share[t];
      uint64_t c = static_cast<uint64_t>(run * static_cast<double>(kTotal));
      if (c > kTotal || t + 1 == share.size()) c = kTotal;
      if (!cum_.empty() && t > 0 && c < cum_.back()) c = cum_.back();
      cum_.push_back(c);
    }
    BuildAlias(tables_[i]);
  }
  cum_.shrink_to_fit();
  alias_.shrink_to_fit();
}

// Vose's construction in integers: every padded entry holds C = 2^61 /
// 2^bits of mass, its own share up to its threshold and one alias's after.
void ExitTables::BuildAlias(Table& t) {
  int bits = 0;
  while ((uint64_t{1} << bits) < t.count) ++bits;
  if (bits == 0) bits = 1;  // a shift by 64 would be undefined
  const uint64_t n = uint64_t{1} << bits, capacity = kTotal >> bits;
  std::vector<uint64_t> mass(n, 0), threshold(n, 0), alias(n, 0);
  for (uint64_t i = 0; i < t.count; ++i) mass[i] = cum_[t.first + i] - (i ? cum_[t.first + i - 1] : 0);
  std::vector<uint64_t> small, large;
  for (uint64_t i = 0; i < n; ++i) (mass[i] < capacity ? small : large).push_back(i);
  while (!small.empty() && !large.empty()) {
    const uint64_t s = small.back(), l = large.back();
    small.pop_back();
    threshold[s] = mass[s];
    alias[s] = l;
    mass[l] -= capacity - mass[s];
    if (mass[l] < capacity) large.pop_back(), small.push_back(l);
  }
  // What is left holds exactly its capacity (the masses sum to n C).
  for (uint64_t i : large) threshold[i] = capacity, alias[i] = i;
  for (uint64_t i : small) threshold[i] = capacity, alias[i] = i;
  t.bits = bits;
  t.aliasFirst = alias_.size();
  for (uint64_t i = 0; i < n; ++i) alias_.push_back(threshold[i] << bits | alias[i]);
}

std::vector<uint64_t> ExitTables::AliasMass(int index) const {
  const Table& t = tables_[index];
  const uint64_t n = uint64_t{1} << t.bits, capacity = kTotal >> t.bits, mask = n - 1;
  std::vector<uint64_t> mass(n, 0);
  for (uint64_t i = 0; i < n; ++i) {
    const uint64_t e = alias_[t.aliasFirst + i], threshold = e >> t.bits;
    mass[i] += threshold;
    mass[e & mask] += capacity - threshold;
  }
  return mass;
}

const ExitTables& ExitTables::For(Lattice lattice) {
  // Each made on first use only: a run needs one of them.
  if (lattice == Lattice::Square4) {
    static const ExitTables four(Lattice::Square4);
    return four;
  }
  if (lattice != Lattice::Square8) throw std::invalid_argument("exit tables are for the square lattices");
  static const ExitTables eight(Lattice::Square8);
  return eight;
}

}  // namespace dla
