#include "tools/progress.h"

#include <cstdio>
#include <string>

namespace tools {

void Progress::Show(uint64_t stuck, uint64_t target, double radius, double stepsPerSecond, double secondsLeft) {
  std::string line = "\r";
  if (target > 0) {
    constexpr int kWidth = 24;
    const int filled = static_cast<int>(kWidth * static_cast<double>(stuck) / static_cast<double>(target));
    line += "[" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(kWidth - filled), '.') + "] ";
  }
  char buf[160];
  std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(stuck));
  line += buf;
  if (target > 0) line += "/" + std::to_string(target);
  std::snprintf(buf, sizeof buf, " stuck  R %.0f  %.1fM steps/s", radius, stepsPerSecond / 1e6);
  line += buf;
  if (secondsLeft >= 0) {
    std::snprintf(buf, sizeof buf, "  %.0f s left", secondsLeft);
    line += buf;
  }
  line += "\x1b[K";
  std::fputs(line.c_str(), stderr);
  shown_ = true;
}

void Progress::Clear() {
  if (shown_) std::fputs("\r\x1b[K", stderr);
  shown_ = false;
}

}  // namespace tools
