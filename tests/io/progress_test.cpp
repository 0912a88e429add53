// The time-left estimate as a pure function: a run's recorded progress (the
// walk's steps at every 50th particle of a real run) replayed against fake
// clocks, a steady one and one whose machine gets busy mid-run.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "io/progress.h"

namespace {

struct Recorded {
  double stuck, steps;
};

std::vector<Recorded> Load() {
  std::vector<Recorded> rows;
  std::ifstream in(std::string(TRACE_DATA) + "/progress-white-3.csv");
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    Recorded r{};
    char comma = 0;
    fields >> r.stuck >> comma >> r.steps;
    rows.push_back(r);
  }
  return rows;
}

// Seconds at which a machine doing `speed(t)` steps a second has done
// `steps`: the clock the estimate would have read.
std::vector<double> Clock(const std::vector<Recorded>& rows, const std::function<double(double)>& speed) {
  std::vector<double> at;
  double t = 0, done = 0;
  constexpr double kTick = 0.001;
  for (const Recorded& r : rows) {
    while (done < r.steps) {
      done += speed(t) * kTick;
      t += kTick;
    }
    at.push_back(t);
  }
  return at;
}

// The estimate, once a tenth of the work is done, within a loose factor of
// the time the replay really had left.
void ExpectNear(const std::vector<Recorded>& rows, const std::vector<double>& at, double goal, const char* what) {
  io::TimeLeft left;
  const double end = at.back(), total = rows.back().steps;
  int judged = 0;
  for (size_t i = 0; i + 1 < rows.size(); ++i) {
    left.Sample(at[i], rows[i].stuck, rows[i].steps);
    const double foretold = left.To(goal);
    if (at[i] < 1.0) {
      EXPECT_LT(foretold, 0) << what << ": too early to tell at " << at[i] << " s";
      continue;
    }
    if (rows[i].steps < total / 10) continue;
    const double truth = end - at[i];
    ASSERT_GE(foretold, 0) << what << " at particle " << rows[i].stuck;
    EXPECT_GT(foretold / truth, 0.6) << what << " at particle " << rows[i].stuck << ": " << foretold << " s for " << truth;
    EXPECT_LT(foretold / truth, 1.6) << what << " at particle " << rows[i].stuck << ": " << foretold << " s for " << truth;
    ++judged;
  }
  EXPECT_GT(judged, 50) << what;
  left.Sample(end, rows.back().stuck, rows.back().steps);
  EXPECT_EQ(left.To(goal), 0) << what << ": nothing is left at the goal";
}

TEST(TimeLeft, ForetellsTheRestOfARecordedRun) {
  const std::vector<Recorded> rows = Load();
  ASSERT_EQ(rows.size(), 200u);
  ASSERT_EQ(rows.back().stuck, 10000);
  // A quiet machine, and a slow one: the same forecasts in their own seconds.
  ExpectNear(rows, Clock(rows, [](double) { return 40e6; }), 10000, "40 M steps/s");
  ExpectNear(rows, Clock(rows, [](double) { return 8e6; }), 10000, "8 M steps/s");
}

TEST(TimeLeft, FollowsAMachineThatGetsBusy) {
  const std::vector<Recorded> rows = Load();
  ASSERT_FALSE(rows.empty());
  // A third of the speed from half-way through the work on: after the
  // change has had time to show, the forecast follows the slower speed.
  const double busyFrom = Clock(rows, [](double) { return 40e6; })[100];
  const std::vector<double> at = Clock(rows, [&](double t) { return t < busyFrom ? 40e6 : 40e6 / 3; });
  io::TimeLeft left;
  int judged = 0;
  for (size_t i = 0; i + 1 < rows.size(); ++i) {
    left.Sample(at[i], rows[i].stuck, rows[i].steps);
    if (at[i] < 2 * busyFrom) continue;
    const double truth = at.back() - at[i], foretold = left.To(10000);
    EXPECT_GT(foretold / truth, 0.6) << "at particle " << rows[i].stuck;
    EXPECT_LT(foretold / truth, 1.6) << "at particle " << rows[i].stuck;
    ++judged;
  }
  EXPECT_GT(judged, 10);
}

TEST(TimeLeft, SaysNothingWithoutGrowth) {
  io::TimeLeft left;
  EXPECT_LT(left.To(100), 0);
  left.Sample(2, 10, 1000);
  EXPECT_LT(left.To(100), 0) << "one sample";
  left.Sample(3, 10, 2000);  // the measure has not grown: not a sample
  EXPECT_LT(left.To(100), 0);
  left.Sample(4, 50, 0);
  EXPECT_LT(left.To(100), 0) << "no work counted";
}

}  // namespace
