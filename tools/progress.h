// A one-line progress bar on standard error, redrawn a few times a second,
// for runs watched in a terminal.
#pragma once

#include <chrono>
#include <cstdint>

namespace tools {

class Progress {
 public:
  // Shows nothing unless on is true.
  void Start(bool on) {
    on_ = on;
    next_ = Clock::now();
  }
  // Whether it is time to redraw; cheap enough to ask per particle.
  bool Due() {
    if (!on_ || Clock::now() < next_) return false;
    next_ = Clock::now() + std::chrono::milliseconds(200);
    return true;
  }
  // target 0: no particle count to reach; secondsLeft < 0: unknown.
  void Show(uint64_t stuck, uint64_t target, double radius, double stepsPerSecond, double secondsLeft);
  void Clear();

 private:
  using Clock = std::chrono::steady_clock;
  bool on_ = false;
  bool shown_ = false;
  Clock::time_point next_;
};

}  // namespace tools
