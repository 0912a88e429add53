#include "io/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace io {

void TimeLeft::Sample(double seconds, double measure, double work) {
  if (samples_.empty() || measure > samples_.back().measure) samples_.push_back({seconds, measure, work});
}

double TimeLeft::To(double goal) const {
  if (samples_.size() < 2) return -1;
  const Point& now = samples_.back();
  if (now.measure >= goal) return 0;
  // Too early: the start-up's cost still weighs in the speed.
  if (now.seconds < 1.0) return -1;
  const auto from = [&](auto key, double value) {
    return *std::lower_bound(samples_.begin(), samples_.end(), value,
                             [&](const Point& p, double v) { return key(p) < v; });
  };
  const Point half = from([](const Point& p) { return p.measure; }, now.measure / 2);
  if (!(half.measure > 0) || !(half.work > 0) || !(now.measure > half.measure * 1.02) || !(now.work > half.work))
    return -1;
  const double power = std::clamp(std::log(now.work / half.work) / std::log(now.measure / half.measure), 0.5, 6.0);
  const Point recent = from([](const Point& p) { return p.seconds; }, now.seconds / 2);
  const double speed = recent.seconds < now.seconds && now.work > recent.work
                           ? (now.work - recent.work) / (now.seconds - recent.seconds)
                           : now.work / now.seconds;
  if (!(speed > 0)) return -1;
  return now.work * (std::pow(goal / now.measure, power) - 1) / speed;
}

std::string ProgressLine(const ProgressFigures& f, int columns) {
  char buf[96];
  // In the order they show; dropped from the least important (the bar)
  // to the most (the count).
  enum { Bar, Count, Radius, Speed, Frames, Left, N };
  std::string field[N];
  if (f.target > 0) {
    constexpr int kWidth = 24;
    const int filled = static_cast<int>(kWidth * std::min(1.0, static_cast<double>(f.stuck) / static_cast<double>(f.target)));
    field[Bar] = "[" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(kWidth - filled), '.') + "]";
  }
  std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(f.stuck));
  field[Count] = buf;
  if (f.target > 0) field[Count] += "/" + std::to_string(f.target);
  field[Count] += " stuck";
  std::snprintf(buf, sizeof buf, "R %.0f", f.radius);
  field[Radius] = buf;
  std::snprintf(buf, sizeof buf, "%.1fM steps/s", f.stepsPerSecond / 1e6);
  field[Speed] = buf;
  if (f.frames >= 0) field[Frames] = std::to_string(f.frames) + " frames";
  if (f.secondsLeft >= 0) {
    const double s = std::ceil(f.secondsLeft);
    if (s < 100) std::snprintf(buf, sizeof buf, "%.0f s left", s);
    else if (s < 6000) std::snprintf(buf, sizeof buf, "%.0f min %02.0f s left", std::floor(s / 60), std::fmod(s, 60));
    else std::snprintf(buf, sizeof buf, "%.0f h %02.0f min left", std::floor(s / 3600), std::floor(std::fmod(s, 3600) / 60));
    field[Left] = buf;
  }
  const int importance[N] = {Count, Left, Radius, Frames, Speed, Bar};
  bool keep[N] = {};
  const size_t room = columns > 0 ? static_cast<size_t>(columns - 1) : SIZE_MAX;  // the last column would wrap
  auto join = [&] {
    std::string line;
    for (int i = 0; i < N; ++i) {
      if (!keep[i] || field[i].empty()) continue;
      if (!line.empty()) line += i == Count ? " " : "  ";
      line += field[i];
    }
    return line;
  };
  for (int i : importance) {
    keep[i] = true;
    if (join().size() > room) keep[i] = i == Count;
  }
  std::string line = join();
  if (line.size() > room) line.resize(room);
  return line;
}

bool TermErases(const char* term) { return term && *term && std::strcmp(term, "dumb") != 0; }

void Progress::Start() {
  term_ = PrepareStatusLine();
  columns_ = term_.on ? TerminalColumns() : 0;
  next_ = Clock::now();
}

void Progress::Show(const ProgressFigures& f) {
  if (!term_.on) return;
  if (TerminalResized()) columns_ = TerminalColumns();
  const std::string line = ProgressLine(f, columns_);
  std::string out = "\r" + line;
  if (term_.escapes) {
    out += "\x1b[K";
  } else if (line.size() < shown_) {
    // Without escapes the rest of a longer line before is blanked out.
    out += std::string(shown_ - line.size(), ' ') + "\r" + line;
  }
  std::fputs(out.c_str(), stderr);
  std::fflush(stderr);
  shown_ = std::max<size_t>(line.size(), 1);
}

void Progress::Clear() {
  if (!shown_) return;
  if (term_.escapes) std::fputs("\r\x1b[K", stderr);
  else std::fputs(("\r" + std::string(shown_, ' ') + "\r").c_str(), stderr);
  std::fflush(stderr);
  shown_ = 0;
}

}  // namespace io
