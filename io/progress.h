// A one-line progress display on standard error, redrawn a few times a
// second, for runs watched in a terminal.  The line is fitted to the
// terminal's width, dropping the less important figures first, and never
// wraps.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "io/terminal.h"

namespace io {

// Seconds left to a goal (particles stuck, or the launch radius), from how
// the walk's work grew with that measure and how fast the work goes now.
// The work is the count of the walk's steps, the same on any machine for a
// seed; a particle costs more as the aggregate grows, so the work goes as a
// power of the measure, read off the second half of the measure so far.  The
// speed is read off the second half of the time so far, so that a machine
// that gets busier or quieter mid-run is followed.  A pure function of the
// samples it is given: no clock of its own.
class TimeLeft {
 public:
  // At `seconds` into the run, `measure` reached after `work` steps.
  void Sample(double seconds, double measure, double work);
  // Negative while it cannot be told yet.
  double To(double goal) const;

 private:
  struct Point {
    double seconds, measure, work;
  };
  std::vector<Point> samples_;
};

// The figures one line shows.
struct ProgressFigures {
  uint64_t stuck = 0;
  uint64_t target = 0;  // 0: no particle count to reach
  double radius = 0;
  double stepsPerSecond = 0;
  double secondsLeft = -1;  // negative: unknown
  int frames = -1;          // a film's frames so far; negative: no film
};

// The line for the figures in at most `columns` columns (0: no limit).
std::string ProgressLine(const ProgressFigures& f, int columns);

class Progress {
 public:
  // Shows nothing unless standard error is a terminal.
  void Start();
  // Whether it is time to redraw; cheap enough to ask per particle.
  bool Due() {
    if (!term_.on) return false;
    const auto now = Clock::now();
    if (now < next_) return false;
    next_ = now + std::chrono::milliseconds(200);
    return true;
  }
  void Show(const ProgressFigures& f);
  void Clear();

 private:
  using Clock = std::chrono::steady_clock;
  StatusLineTerminal term_;
  size_t shown_ = 0;  // columns of the line on screen, 0 when none
  int columns_ = 0;
  Clock::time_point next_;
};

}  // namespace io
