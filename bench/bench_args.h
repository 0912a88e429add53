// aggbench's command line, and where it finds the helper that measures the
// live window, kept apart from the measuring so that tests can call them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct BenchArgs {
  uint32_t seed = 12345;
  uint64_t particles = 2000;
  int rounds = 3;
  bool child = false;  // the live-window helper's run, as aggbench starts it
  bool help = false;
  std::string error;  // a one-line reason for a usage error, else empty
};

// args without the program's name.
BenchArgs ParseBenchArgs(const std::vector<std::string>& args);

// The usage lines (each within 79 columns), at the head of the help.
std::string BenchUsage();
// The usage, then what aggbench does, each option's meaning and the exit codes.
std::string BenchHelp();

// The live-window helper's name.
extern const char* const kHelperName;

// The benchmark's own file: the system's answer (selfPath) when it has one,
// else argv0 when it names a folder, else the first file of that name in
// the folders of path (the PATH variable, null when unset), as a shell
// found it.  Empty when none of these tells.
std::string OwnFile(const std::string& selfPath, const std::string& argv0, const char* path);

// Where the helper is looked for, in order, given the benchmark's own file:
// beside it (the build tree), then in the helper folder of an installed
// tree (lib/aggregation beside bin).
std::vector<std::string> HelperCandidates(const std::string& self);

// The first candidate that is a file, or an empty string; `looked` gets the
// folders tried, for a message that says where.
std::string FindHelper(const std::string& self, std::string& looked);

}  // namespace bench
