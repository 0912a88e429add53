#include "bench/bench_args.h"

#include <charconv>
#include <filesystem>
#include <string_view>
#include <system_error>

// Where an installed tree keeps the helper, from the folder of aggbench
// itself; cmake/install.cmake sets it from the two install folders.
#ifndef AGG_HELPER_FROM_BIN
#define AGG_HELPER_FROM_BIN "../lib/aggregation"
#endif

namespace bench {

namespace {

template <class T>
bool ParseNumber(std::string_view s, T& out) {
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

// The user's words are shown in the reason: control characters as '?', so
// that it stays one plain line.
std::string OneLine(std::string s) {
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return s;
}

}  // namespace

const char* const kHelperName = "aggbench_x11";

BenchArgs ParseBenchArgs(const std::vector<std::string>& args) {
  BenchArgs r;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    if (a == "--help" || a == "-h" || a == "/?") {
      r.help = true;
      return r;
    }
    if (a == "--child") {
      r.child = true;
      continue;
    }
    if (a != "--seed" && a != "--particles" && a != "--rounds") {
      r.error = OneLine(a.size() > 1 && a[0] == '-' ? "unknown option " + std::string(a)
                                                    : "unexpected argument " + std::string(a));
      return r;
    }
    if (i + 1 >= args.size()) {
      r.error = "missing value for " + std::string(a);
      return r;
    }
    const std::string_view v = args[++i];
    const bool ok = a == "--seed"        ? ParseNumber(v, r.seed)
                    : a == "--particles" ? ParseNumber(v, r.particles) && r.particles > 0
                                         : ParseNumber(v, r.rounds) && r.rounds > 0;
    if (!ok) {
      r.error = OneLine("bad value for " + std::string(a) + ": " + std::string(v));
      return r;
    }
  }
  return r;
}

std::string BenchUsage() {
  return "usage: aggbench [--seed N] [--particles N] [--rounds N]\n"
         "       aggbench --help|-h|/?";
}

std::string BenchHelp() {
  return BenchUsage() +
         "\n\n"
         "Measures how fast the aggregate's random walk runs: one seed's aggradial\n"
         "aggregate grown several ways in one sitting, against the walk's own\n"
         "bounds, in walk steps per second of processor time. The live X11 window\n"
         "is measured by its helper, " +
         kHelperName +
         ", when DISPLAY is set.\n"
         "\n"
         "Options:\n"
         "  --seed N              the generator's seed (default 12345)\n"
         "  --particles N         particles to grow in each round (default 2000)\n"
         "  --rounds N            rounds of each measure, the best kept (default 3)\n"
         "  --help, -h, /?        print this help and exit\n"
         "\n"
         "Exit codes:\n"
         "  0                     the ways agree and the figures were written\n"
         "  1                     the ways disagree, or the figures could not be written\n"
         "  2                     bad arguments (one line says why)\n";
}

std::string OwnFile(const std::string& selfPath, const std::string& argv0, const char* path) {
  if (!selfPath.empty()) return selfPath;
  if (argv0.find_first_of("/\\") != std::string::npos) return argv0;
  if (argv0.empty() || !path) return {};
#ifdef _WIN32
  constexpr char kSeparator = ';';
#else
  constexpr char kSeparator = ':';
#endif
  for (std::string_view rest = path;;) {
    const size_t end = rest.find(kSeparator);
    // An empty entry is the current folder, as a shell reads it.
    const std::filesystem::path folder(rest.substr(0, end).empty() ? std::string_view(".") : rest.substr(0, end));
    std::error_code ec;
    if (std::filesystem::is_regular_file(folder / argv0, ec)) return (folder / argv0).string();
    if (end == std::string_view::npos) return {};
    rest = rest.substr(end + 1);
  }
}

std::vector<std::string> HelperCandidates(const std::string& self) {
  const std::filesystem::path dir = std::filesystem::path(self).parent_path();
  return {(dir / kHelperName).string(), (dir / AGG_HELPER_FROM_BIN / kHelperName).lexically_normal().string()};
}

std::string FindHelper(const std::string& self, std::string& looked) {
  looked.clear();
  if (self.empty()) return {};
  for (const std::string& candidate : HelperCandidates(self)) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(candidate, ec)) return candidate;
    looked += (looked.empty() ? "" : " and ") + std::filesystem::path(candidate).parent_path().string();
  }
  return {};
}

}  // namespace bench
