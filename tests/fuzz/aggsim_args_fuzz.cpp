// The headless runner's argument parser on any words: it returns, never
// crashing or hanging, with a one-line reason (the runner's exit code 2),
// help (exit 0), or options within the ranges a run can use.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "apps/aggsim/aggsim_args.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The words: the input split at zero bytes.
  std::vector<std::string> args;
  std::string arg;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(arg);
      arg.clear();
    } else {
      arg.push_back(static_cast<char>(data[i]));
    }
  }
  if (!arg.empty()) args.push_back(arg);

  const aggsim::AggsimArgs parsed = aggsim::ParseAggsimArgs(args);
  if (!parsed.error.empty()) {
    if (parsed.error.find('\n') != std::string::npos) std::abort();
    return 0;
  }
  const aggsim::AggsimOptions& o = parsed.options;
  if (o.help) return 0;
  if (o.particles == 0 || o.seconds < 0 || o.seconds > 1e7 || o.radius < 0 || o.radius > 1e6 || o.screenW < 1 ||
      o.screenH < 50 || o.screenW > 16384 || o.screenH > 16384 || (o.startRadiusSet && !(o.startRadius >= 0)))
    std::abort();
  return 0;
}
