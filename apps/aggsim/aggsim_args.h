// aggsim's command line, parsed apart from the run so that tests and a
// fuzzer can call it on any words.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace aggsim {

enum class RuleKind { White, Radial, Order };

struct AggsimOptions {
  RuleKind rule = RuleKind::White;
  bool seeded = false;
  uint32_t seed = 0;
  uint64_t particles = 1000;  // UINT64_MAX: no particle count
  bool particlesSet = false;
  int32_t screenW = 1024, screenH = 768;
  std::string png, trace;  // "" when not asked for
  bool startRadiusSet = false;
  double startRadius = 0;
  double seconds = 0;  // 0: no time limit
  double radius = 0;   // 0: no radius limit
  bool stats = false;
  bool help = false;
  std::string gif, profile, csv;  // "" when not asked for
  uint64_t frameEvery = 10;       // a hundred frames for the default run
  double fps = 25;
  uint32_t runs = 0;     // 0: one run in this process
  uint32_t jobs = 0;     // 0: one per processor
  bool record = false;   // a run of an ensemble: its record line, no progress
};

struct AggsimArgs {
  AggsimOptions options;
  std::string error;  // a one-line reason for a usage error, else empty
};

// args without the program's name.
AggsimArgs ParseAggsimArgs(const std::vector<std::string>& args);

extern const char* const kAggsimUsage;

}  // namespace aggsim
