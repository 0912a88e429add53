// The squares' first-exit tables: against an independent linear solve,
// against the unit walk itself, their sampler, and their sameness when
// remade.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "dla/exit_table.h"
#include "dla/random.h"

namespace {

using dla::ExitTables;
using dla::Lattice;

// The 0.9999 quantile of chi-square with df degrees of freedom
// (Wilson and Hilferty).
double ChiLimit(int df) {
  const double z = 3.719, a = 2.0 / (9.0 * df);
  const double c = 1 - a + z * std::sqrt(a);
  return df * c * c * c;
}

// Exit shares by Gauss-Seidel on the walk's Green's function from the
// centre, the textbook way: expected visits G solve G = delta + P^T G on the
// interior, and each boundary site collects G times the step onto it.
std::vector<double> SolvedShares(Lattice lattice, int L) {
  const int n = 2 * L - 1;
  const bool nine = lattice == Lattice::Square8;
  std::vector<double> g(static_cast<size_t>(n) * n, 0);
  const auto at = [&](int x, int y) -> double& { return g[static_cast<size_t>(y + L - 1) * n + (x + L - 1)]; };
  const double p = nine ? 1.0 / 9 : 0.25;
  for (int sweep = 0; sweep < 200000; ++sweep) {
    double change = 0;
    for (int y = -(L - 1); y <= L - 1; ++y)
      for (int x = -(L - 1); x <= L - 1; ++x) {
        double s = (x == 0 && y == 0) ? 1 : 0;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            if (!nine && std::abs(dx) + std::abs(dy) != 1) continue;
            const int u = x + dx, v = y + dy;
            if (std::abs(u) < L && std::abs(v) < L) s += p * at(u, v);
          }
        change = std::max(change, std::abs(s - at(x, y)));
        at(x, y) = s;
      }
    if (change < 1e-15) break;
  }
  // Shares of the side x = L, folded by |y|, corner last.
  std::vector<double> share(static_cast<size_t>(L) + 1, 0);
  for (int y = -L; y <= L; ++y)
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) {
        if (!nine && std::abs(dx) + std::abs(dy) != 1) continue;
        const int u = L - dx, v = y - dy;  // interior site stepping onto (L, y)
        if (std::abs(u) < L && std::abs(v) < L) share[static_cast<size_t>(std::abs(y))] += p * at(u, v);
      }
  // Each corner is shared by two sides; each side counts one.
  share[static_cast<size_t>(L)] /= 2;
  for (double& s : share) s *= 4;
  return share;
}

TEST(ExitTable, SharesAgreeWithALinearSolve) {
  for (Lattice lattice : {Lattice::Square4, Lattice::Square8})
    for (int L : {1, 2, 3, 4, 7, 12, 24}) {
      const std::vector<double> formula = dla::SideExitShares(lattice, static_cast<uint32_t>(L));
      const std::vector<double> solved = SolvedShares(lattice, L);
      ASSERT_EQ(formula.size(), solved.size());
      double sum = 0;
      for (size_t t = 0; t < formula.size(); ++t) {
        EXPECT_NEAR(formula[t], solved[t], 1e-12) << dla::LatticeName(lattice) << " L " << L << " t " << t;
        sum += formula[t];
      }
      EXPECT_NEAR(sum, 1, 1e-14);
      if (lattice == Lattice::Square4) {
        EXPECT_EQ(formula.back(), 0);
      } else {
        EXPECT_GT(formula.back(), 0);
      }
    }
}

TEST(ExitTable, SharesFallTowardTheCornersAndStayNormalisedWhenLarge) {
  for (Lattice lattice : {Lattice::Square4, Lattice::Square8})
    for (uint32_t L : {100u, 1000u, 15360u}) {
      const std::vector<double> s = dla::SideExitShares(lattice, L);
      double sum = 0;
      for (size_t t = 0; t < s.size(); ++t) {
        sum += s[t];
        if (t >= 2 && t + 1 < s.size()) {
          ASSERT_LE(s[t], s[t - 1]) << L << " " << t;
        }
      }
      EXPECT_NEAR(sum, 1, 1e-13);
      // Against Brownian motion's exit density from a square's centre at
      // the middle of a side, (1 / 2L) sum_{k odd} 1 / cosh(pi k / 2) per
      // unit length, which the walk approaches as 1 / L^2.  s[1] is the
      // side's share (1/4) of two sites.
      double rho = 0;
      for (int k = 1; k < 60; k += 2) rho += 0.5 / std::cosh(3.14159265358979323846 * k / 2);
      const double perSite = s[1] / 8 * static_cast<double>(L);
      EXPECT_NEAR(perSite, rho, rho * 3 / (static_cast<double>(L) * L)) << dla::LatticeName(lattice) << " L " << L;
    }
}

TEST(ExitTable, SinPiMatchesTheLibrary) {
  for (int64_t n : {1, 2, 3, 7, 64, 1000, 61440})
    for (int64_t m = -3 * n; m <= 3 * n; m += std::max<int64_t>(1, n / 97))
      ASSERT_NEAR(dla::SinPi(m, n), std::sin(3.14159265358979323846 * static_cast<double>(m) / static_cast<double>(n)),
                  1e-15 * (1 + std::abs(static_cast<double>(m) / static_cast<double>(n))))
          << m << "/" << n;
}

TEST(ExitTable, SizesCoverEveryFreeDistanceFromBelow) {
  for (uint32_t f = 1; f <= 40000; ++f) {
    const int i = ExitTables::IndexAtMost(f);
    ASSERT_GE(i, 0);
    ASSERT_LT(i, ExitTables::kCount);
    ASSERT_LE(ExitTables::SizeOf(i), f);
    if (i + 1 < ExitTables::kCount) {
      ASSERT_GT(ExitTables::SizeOf(i + 1), f) << f;
    }
  }
  EXPECT_EQ(ExitTables::SizeOf(ExitTables::kCount - 1), ExitTables::kLargest);
  // Consecutive sizes differ by at most 1/8.
  for (int i = 15; i + 1 < ExitTables::kCount; ++i)
    EXPECT_LE(ExitTables::SizeOf(i + 1) * 8, ExitTables::SizeOf(i) * 9);
}

TEST(ExitTable, AliasTablesHoldExactlyTheCumulativeCounts) {
  for (Lattice lattice : {Lattice::Square4, Lattice::Square8}) {
    const ExitTables& tables = ExitTables::For(lattice);
    for (int i = 0; i < ExitTables::kCount; ++i) {
      const std::vector<uint64_t> cum = tables.Cumulative(i);
      const std::vector<uint64_t> mass = tables.AliasMass(i);
      ASSERT_EQ(cum.back(), ExitTables::kTotal);
      ASSERT_EQ(cum.size(), ExitTables::SizeOf(i) + (lattice == Lattice::Square8 ? 1u : 0u));
      ASSERT_GE(mass.size(), cum.size());
      for (size_t t = 0; t < mass.size(); ++t) {
        const uint64_t want = t < cum.size() ? cum[t] - (t ? cum[t - 1] : 0) : 0;
        ASSERT_EQ(mass[t], want) << dla::LatticeName(lattice) << " size " << ExitTables::SizeOf(i) << " t " << t;
      }
    }
  }
}

uint64_t Fnv(const ExitTables& tables) {
  uint64_t h = 0xcbf29ce484222325u;
  for (int i = 0; i < ExitTables::kCount; ++i)
    for (uint64_t c : tables.Cumulative(i))
      for (int b = 0; b < 8; ++b) h = (h ^ ((c >> (8 * b)) & 0xff)) * 0x100000001b3u;
  return h;
}

TEST(ExitTable, RemadeTablesAreTheSameBits) {
  // Remade in this process, and pinned: the pinned values are the Linux
  // x86-64 tables, so that every other build is held to the same bits.
  for (Lattice lattice : {Lattice::Square4, Lattice::Square8}) {
    const ExitTables again(lattice);
    EXPECT_EQ(Fnv(again), Fnv(ExitTables::For(lattice)));
  }
  EXPECT_EQ(Fnv(ExitTables::For(Lattice::Square4)), uint64_t{18211908569076208578u});
  EXPECT_EQ(Fnv(ExitTables::For(Lattice::Square8)), uint64_t{17216610753219936429u});
}

// Direct simulation of the unit walk from the centre until it first stands
// at Chebyshev distance L, folded by symmetry into the side's |t|.
std::vector<double> Simulate(Lattice lattice, int L, int walks, uint64_t seed) {
  dla::Random random(seed);
  std::vector<double> counts(static_cast<size_t>(L) + 1, 0);
  for (int w = 0; w < walks; ++w) {
    int x = 0, y = 0;
    while (std::abs(x) < L && std::abs(y) < L) {
      if (lattice == Lattice::Square8) {
        const uint32_t d = random.Below(9);
        x += static_cast<int>(d % 3) - 1, y += static_cast<int>(d / 3) - 1;
      } else {
        const uint32_t d = random.Below(4);
        x += d == 0 ? 1 : d == 1 ? -1 : 0, y += d == 2 ? 1 : d == 3 ? -1 : 0;
      }
    }
    // A corner counts for both its sides, half each.
    const int along = std::abs(x) == L ? std::abs(y) : std::abs(x);
    counts[static_cast<size_t>(along)] += 1;
  }
  return counts;
}

double ChiSquare(const std::vector<double>& counts, std::vector<double> share, double total, int* df) {
  share.resize(counts.size(), 0);
  // Whatever a larger table puts beyond the last bin goes into it.
  double chi = 0;
  *df = -1;
  for (size_t t = 0; t < counts.size(); ++t) {
    const double e = share[t] * total;
    if (e == 0) {
      if (counts[t] > 0) return 1e300;
      continue;
    }
    chi += (counts[t] - e) * (counts[t] - e) / e;
    ++*df;
  }
  return chi;
}

std::vector<double> Lumped(std::vector<double> share, size_t bins) {
  double rest = 0;
  for (size_t t = bins; t < share.size(); ++t) rest += share[t];
  share.resize(bins);
  share.back() += rest;
  return share;
}

TEST(ExitTable, UnitWalkExitsAsTheTableSaysAndNotAsTheNextSize) {
  for (Lattice lattice : {Lattice::Square4, Lattice::Square8})
    for (int L : {2, 3, 5, 9, 16}) {
      const int walks = 300000;
      std::vector<double> counts = Simulate(lattice, L, walks, 100 + static_cast<uint64_t>(L));
      if (lattice == Lattice::Square4) counts.pop_back();
      const size_t bins = counts.size();
      int df = 0;
      std::vector<double> own = dla::SideExitShares(lattice, static_cast<uint32_t>(L));
      const double chiOwn = ChiSquare(counts, Lumped(own, bins), walks, &df);
      EXPECT_LT(chiOwn, ChiLimit(df)) << dla::LatticeName(lattice) << " L " << L;
      // The neighbouring size's table, its bins mapped onto this size's by
      // relative place along the side.
      const std::vector<double> next = dla::SideExitShares(lattice, static_cast<uint32_t>(L + 1));
      std::vector<double> mapped(bins, 0);
      for (size_t t = 0; t < next.size(); ++t)
        mapped[std::min(bins - 1, t * bins / next.size())] += next[t];
      const double chiNext = ChiSquare(counts, mapped, walks, &df);
      EXPECT_GT(chiNext, ChiLimit(df)) << dla::LatticeName(lattice) << " L " << L;
    }
}

TEST(ExitTable, DrawsLandOnTheBoundaryAsTheTableSays) {
  for (Lattice lattice : {Lattice::Square4, Lattice::Square8}) {
    const ExitTables& tables = ExitTables::For(lattice);
    for (int index : {0, 1, 6, 14, 15, 40}) {
      const int L = static_cast<int>(ExitTables::SizeOf(index));
      dla::Random random(7 + static_cast<uint64_t>(index));
      const int draws = 400000;
      std::vector<double> counts(static_cast<size_t>(L) + 1, 0), sides(8, 0);
      for (int i = 0; i < draws; ++i) {
        const ExitTables::Offset o = tables.Draw(index, random.Next(), 0);
        ASSERT_EQ(std::max(std::abs(o.dx), std::abs(o.dy)), L);
        const bool onX = std::abs(o.dx) == L;
        const int along = onX ? std::abs(o.dy) : std::abs(o.dx);
        counts[static_cast<size_t>(along)] += 1;
        // Octant of the exit site, for the symmetry.
        const int side = onX ? (o.dx > 0 ? 0 : 1) : (o.dy > 0 ? 2 : 3);
        const int part = onX ? (o.dy >= 0) : (o.dx >= 0);
        if (along != 0 && along != L) sides[static_cast<size_t>(2 * side + part)] += 1;
      }
      std::vector<double> share = dla::SideExitShares(lattice, static_cast<uint32_t>(L));
      if (lattice == Lattice::Square4) counts.pop_back(), share.pop_back();
      int df = 0;
      const double chi = ChiSquare(counts, share, draws, &df);
      if (df > 0) {
        EXPECT_LT(chi, ChiLimit(df)) << L;
      }
      double inner = 0;
      for (double s : sides) inner += s;
      if (inner > 0) {
        EXPECT_LT(ChiSquare(sides, std::vector<double>(8, 1.0 / 8), inner, &df), ChiLimit(7)) << L;
      }
      // The tests' bias moves the landing square out and nothing else.
      dla::Random again(7 + static_cast<uint64_t>(index));
      const ExitTables::Offset o = tables.Draw(index, again.Next(), 3);
      EXPECT_EQ(std::max(std::abs(o.dx), std::abs(o.dy)), L + 3);
    }
  }
}

}  // namespace
