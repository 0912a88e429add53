#include "apps/aggsim/aggsim_args.h"

#include <charconv>
#include <string_view>

namespace aggsim {

const char* const kAggsimUsage =
    "usage: aggsim [--rule white|radial|order] [--seed N] [--particles N] [--seconds S] [--radius R]\n"
    "              [--screen WxH] [--png FILE] [--trace FILE] [--stats] [--start-radius R]\n"
    "              [--gif FILE] [--frame-every N] [--fps F] [--profile FILE]\n"
    "              [--runs N] [--jobs J] [--csv FILE]\n"
    "       FILE - is standard output";

namespace {

template <class T>
bool ParseNumber(std::string_view s, T& out) {
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

bool TakesValue(std::string_view a) {
  for (std::string_view o : {"--rule", "--seed", "--particles", "--seconds", "--radius", "--screen", "--png",
                             "--trace", "--start-radius", "--gif", "--frame-every", "--fps", "--profile", "--runs",
                             "--jobs", "--csv"})
    if (a == o) return true;
  return false;
}

std::string Check(AggsimOptions& opt, std::string_view a, std::string_view v) {
  const std::string bad = "bad value for " + std::string(a) + ": " + std::string(v);
  if (a == "--rule") {
    if (v == "white") opt.rule = RuleKind::White;
    else if (v == "radial") opt.rule = RuleKind::Radial;
    else if (v == "order") opt.rule = RuleKind::Order;
    else return bad;
  } else if (a == "--seed") {
    if (!ParseNumber(v, opt.seed)) return bad;
    opt.seeded = true;
  } else if (a == "--particles") {
    if (!ParseNumber(v, opt.particles) || opt.particles == 0 || opt.particles == UINT64_MAX) return bad;
    opt.particlesSet = true;
  } else if (a == "--seconds") {
    if (!ParseNumber(v, opt.seconds) || !(opt.seconds > 0) || opt.seconds > 1e7) return bad;
  } else if (a == "--radius") {
    if (!ParseNumber(v, opt.radius) || !(opt.radius > 0) || opt.radius > 1e6) return bad;
  } else if (a == "--screen") {
    const size_t x = v.find('x');
    if (x == std::string_view::npos || !ParseNumber(v.substr(0, x), opt.screenW) ||
        !ParseNumber(v.substr(x + 1), opt.screenH) || opt.screenW < 1 || opt.screenH < 50 || opt.screenW > 16384 ||
        opt.screenH > 16384)
      return bad;
  } else if (a == "--png" || a == "--trace" || a == "--gif" || a == "--profile" || a == "--csv") {
    if (v.empty()) return "an empty file name for " + std::string(a);
    (a == "--png" ? opt.png : a == "--trace" ? opt.trace : a == "--gif" ? opt.gif : a == "--profile" ? opt.profile : opt.csv) = v;
  } else if (a == "--frame-every") {
    if (!ParseNumber(v, opt.frameEvery) || opt.frameEvery == 0) return bad;
  } else if (a == "--fps") {
    // A GIF times its frames in hundredths of a second.
    if (!ParseNumber(v, opt.fps) || !(opt.fps >= 0.01) || opt.fps > 100) return bad;
  } else if (a == "--runs") {
    if (!ParseNumber(v, opt.runs) || opt.runs == 0 || opt.runs > 1000000) return bad;
  } else if (a == "--jobs") {
    if (!ParseNumber(v, opt.jobs) || opt.jobs == 0 || opt.jobs > 1024) return bad;
  } else if (a == "--start-radius") {
    if (!ParseNumber(v, opt.startRadius) || !(opt.startRadius >= 0) || opt.startRadius > 1e9) return bad;
    opt.startRadiusSet = true;
  }
  return {};
}

// The user's words are shown in the reason: control characters (a newline,
// an escape sequence) as '?', so that it stays one plain line.
std::string OneLine(std::string s) {
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return s;
}

}  // namespace

AggsimArgs ParseAggsimArgs(const std::vector<std::string>& args) {
  AggsimArgs r;
  AggsimOptions& opt = r.options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    if (a == "--help" || a == "-h") {
      opt.help = true;
      return r;
    }
    if (a == "--stats" || a == "--record") {
      (a == "--stats" ? opt.stats : opt.record) = true;
      continue;
    }
    if (!TakesValue(a)) {
      r.error = OneLine(a.size() > 1 && a[0] == '-' ? "unknown option " + std::string(a)
                                                    : "unexpected argument " + std::string(a));
      return r;
    }
    if (i + 1 >= args.size()) {
      r.error = "missing value for " + std::string(a);
      return r;
    }
    r.error = OneLine(Check(opt, a, args[++i]));
    if (!r.error.empty()) return r;
  }
  // A time or a radius to reach ends the run by itself; a count then
  // applies only when one is given too.
  if (!opt.particlesSet && (opt.seconds > 0 || opt.radius > 0)) opt.particles = UINT64_MAX;
  if (opt.runs == 0 && (opt.jobs || !opt.csv.empty())) r.error = "--jobs and --csv go with --runs";
  // A run of an ensemble hands its figures back on its standard output.
  if (opt.runs > 0 && (opt.png == "-" || opt.trace == "-" || opt.gif == "-" || opt.profile == "-"))
    r.error = "with --runs only --csv can go to standard output";
  return r;
}

}  // namespace aggsim
