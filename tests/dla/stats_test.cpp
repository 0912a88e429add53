// The two-sample tests the comparisons rest on, against values computed
// independently (to high precision) and against cases with known answers.
#include <gtest/gtest.h>

#include <vector>

#include "stats.h"

namespace {

TEST(Stats, StudentTailMatchesReferenceValues) {
  struct Row {
    double t, df, p;
  };
  // Two-sided tails of Student's t, including the familiar 5% points.
  const Row rows[] = {
      {5, 8, 0.00105282579336654},      {2.228138851986, 10, 0.05},     {12.70620473617, 1, 0.05},
      {1.95996398454, 1e6, 0.050000277}, {0.5, 3.5, 0.646850439322551}, {4, 30, 0.000381845636083757},
      {0, 7, 1},                         {-4, 30, 0.000381845636083757},
  };
  for (const Row& r : rows) EXPECT_NEAR(r.p, dla_test::StudentTwoSided(r.t, r.df), 1e-9 * (1 + 1 / r.p) * r.p) << r.t << " " << r.df;
}

TEST(Stats, KolmogorovTailMatchesReferenceValues) {
  const std::pair<double, double> rows[] = {{0.5, 0.963945243664875},   {1.0, 0.269999671677355},
                                            {1.36, 0.0494858767553779}, {1.63, 0.00984636488848653},
                                            {2.5, 7.45330634415734e-6}, {0.1, 1}};
  for (const auto& [lambda, q] : rows) EXPECT_NEAR(q, dla_test::KolmogorovTail(lambda), 1e-12 + 1e-9 * q) << lambda;
}

TEST(Stats, WelchOnAHandWorkedCase) {
  // Means 3 and 8, variances 2.5: t = -5 with 8 degrees of freedom.
  const auto r = dla_test::Welch({1, 2, 3, 4, 5}, {6, 7, 8, 9, 10});
  EXPECT_DOUBLE_EQ(-5, r.statistic);
  EXPECT_NEAR(0.00105282579336654, r.p, 1e-12);
  // No spread on either side: equal means agree, unequal ones cannot.
  EXPECT_EQ(1, dla_test::Welch({2, 2}, {2, 2, 2}).p);
  EXPECT_EQ(0, dla_test::Welch({2, 2}, {3, 3}).p);
}

TEST(Stats, KolmogorovSmirnovDistance) {
  struct Row {
    std::vector<double> a, b;
    double d;
  };
  const Row rows[] = {
      {{1, 2, 3}, {1, 2, 3}, 0},             // identical, ties across the samples
      {{1, 2, 3}, {2.5, 4, 5}, 2.0 / 3},     // interleaved
      {{1, 1, 1, 2}, {1, 2, 2, 2}, 0.5},     // ties within each
      {{1, 2}, {3, 4, 5, 6}, 1},             // apart
      {{3, 1, 2}, {6, 5, 2.5}, 2.0 / 3},     // unsorted input
  };
  for (const Row& r : rows) EXPECT_DOUBLE_EQ(r.d, dla_test::KolmogorovSmirnov(r.a, r.b).statistic);
  std::vector<double> low, high;
  for (int i = 0; i < 50; ++i) low.push_back(i), high.push_back(i + 50);
  EXPECT_LT(dla_test::KolmogorovSmirnov(low, high).p, 1e-20);
  EXPECT_EQ(1, dla_test::KolmogorovSmirnov(low, low).p);
}

}  // namespace
