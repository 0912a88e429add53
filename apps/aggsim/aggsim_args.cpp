#include "apps/aggsim/aggsim_args.h"

#include <charconv>
#include <cstdio>

namespace aggsim {

namespace {

template <class T>
bool ParseNumber(std::string_view s, T& out) {
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

// A check that fails names the option and the value.
std::string Bad(std::string_view option, std::string_view value) {
  return "bad value for " + std::string(option) + ": " + std::string(value);
}

std::string FileName(std::string& into, std::string_view option, std::string_view v) {
  if (v.empty()) return "an empty file name for " + std::string(option);
  into = v;
  return {};
}

// Each option's check, in table order.
std::string TakeRule(AggsimOptions& o, std::string_view v) {
  if (v == "white") o.rule = RuleKind::White;
  else if (v == "radial") o.rule = RuleKind::Radial;
  else if (v == "order") o.rule = RuleKind::Order;
  else return Bad("--rule", v);
  return {};
}
std::string TakeSeed(AggsimOptions& o, std::string_view v) {
  if (!ParseNumber(v, o.seed)) return Bad("--seed", v);
  o.seeded = true;
  return {};
}
std::string TakeParticles(AggsimOptions& o, std::string_view v) {
  if (!ParseNumber(v, o.particles) || o.particles == 0 || o.particles == UINT64_MAX) return Bad("--particles", v);
  o.particlesSet = true;
  return {};
}
std::string TakeSeconds(AggsimOptions& o, std::string_view v) {
  if (!ParseNumber(v, o.seconds) || !(o.seconds > 0) || o.seconds > 1e7) return Bad("--seconds", v);
  return {};
}
std::string TakeRadius(AggsimOptions& o, std::string_view v) {
  if (!ParseNumber(v, o.radius) || !(o.radius > 0) || o.radius > 1e6) return Bad("--radius", v);
  return {};
}
std::string TakeScreen(AggsimOptions& o, std::string_view v) {
  const size_t x = v.find('x');
  if (x == std::string_view::npos || !ParseNumber(v.substr(0, x), o.screenW) ||
      !ParseNumber(v.substr(x + 1), o.screenH) || o.screenW < 1 || o.screenH < 50 || o.screenW > 16384 ||
      o.screenH > 16384)
    return Bad("--screen", v);
  return {};
}
std::string TakeStartRadius(AggsimOptions& o, std::string_view v) {
  if (!ParseNumber(v, o.startRadius) || !(o.startRadius >= 0) || o.startRadius > 1e9) return Bad("--start-radius", v);
  o.startRadiusSet = true;
  return {};
}
std::string TakeFrameEvery(AggsimOptions& o, std::string_view v) {
  if (!ParseNumber(v, o.frameEvery) || o.frameEvery == 0) return Bad("--frame-every", v);
  return {};
}
std::string TakeFps(AggsimOptions& o, std::string_view v) {
  // A GIF times its frames in hundredths of a second, and browsers and most
  // viewers show a frame of one hundredth for ten: 50 frames a second (two
  // hundredths each) is the fastest a film plays as asked.
  if (!ParseNumber(v, o.fps) || !(o.fps >= 0.01)) return Bad("--fps", v);
  if (o.fps > 50) return Bad("--fps", v) + " (at most 50: viewers slow faster films down)";
  return {};
}
std::string TakeRuns(AggsimOptions& o, std::string_view v) {
  if (!ParseNumber(v, o.runs) || o.runs == 0 || o.runs > 1000000) return Bad("--runs", v);
  return {};
}
std::string TakePartOf(AggsimOptions& o, std::string_view v) {
  const size_t colon = v.find(':');
  if (colon == std::string_view::npos || !ParseNumber(v.substr(0, colon), o.partFirst) ||
      !ParseNumber(v.substr(colon + 1), o.partRuns) || o.partRuns == 0 || o.partRuns > 1000000)
    return Bad("--part-of", v);
  o.partOf = true;
  return {};
}
std::string TakeJobs(AggsimOptions& o, std::string_view v) {
  if (!ParseNumber(v, o.jobs) || o.jobs == 0 || o.jobs > 1024) return Bad("--jobs", v);
  return {};
}

std::string TakeModel(AggsimOptions& o, std::string_view v) {
  if (v == "programs") o.model = ModelKind::Programs;
  else if (v == "dla") o.model = ModelKind::Dla;
  else return Bad("--model", v);
  return {};
}
std::string TakeLattice(AggsimOptions& o, std::string_view v) {
  if (v == "off") o.lattice = LatticeKind::Off;
  else if (v == "square4") o.lattice = LatticeKind::Square4;
  else if (v == "square8") o.lattice = LatticeKind::Square8;
  else return Bad("--lattice", v);
  return {};
}
std::string TakeStick(AggsimOptions& o, std::string_view v) {
  if (!ParseNumber(v, o.stick) || !(o.stick > 0) || !(o.stick <= 1)) return Bad("--stick", v) + " (0 < P <= 1)";
  return {};
}
std::string TakeImageSize(AggsimOptions& o, std::string_view v) {
  if (!ParseNumber(v, o.imageSize) || o.imageSize < 16 || o.imageSize > 16384) return Bad("--image-size", v) + " (16 to 16384)";
  return {};
}
std::string TakeColour(AggsimOptions& o, std::string_view v) {
  if (v == "arrival") o.white = false;
  else if (v == "white") o.white = true;
  else return Bad("--colour", v);
  return {};
}

constexpr OptionSpec kTable[] = {
    {"--model", "programs|dla",
     "what grows: the programs' aggregate (the default), or standard diffusion-limited aggregation, with no screen "
     "and no walker ever dropped",
     ToRuns::Each, TakeModel, HelpGroup::Model},
    {"--lattice", "off|square4|square8",
     "with --model dla: discs in the plane (the default), the square lattice with 4 neighbours, or the programs' "
     "lattice with 8",
     ToRuns::Each, TakeLattice, HelpGroup::Model},
    {"--stick", "P", "with --model dla on a lattice: the chance of sticking at each contact (default 1)", ToRuns::Each,
     TakeStick, HelpGroup::Model},
    {"--rule", "white|radial|order", "whose colouring to follow: aggwhite's (the default), aggradial's or aggorder's",
     ToRuns::Each, TakeRule},
    {"--seed", "N", "the generator's seed, for a reproducible run (default: the clock); with --runs, the first run's",
     ToRuns::Never, TakeSeed},
    {"--particles", "N", "end after N stuck particles (default 1000, or none with --seconds or --radius)",
     ToRuns::Each, TakeParticles},
    {"--seconds", "S", "end at the first particle that sticks after S seconds", ToRuns::Each, TakeSeconds},
    {"--radius", "R", "end at the first particle that widens the launch circle (with --model dla: the cluster) to R", ToRuns::Each, TakeRadius},
    {"--screen", "WxH", "the screen the surface is chosen for (default 1024x768)", ToRuns::Each, TakeScreen},
    {"--png", "FILE", "write the picture as a PNG", ToRuns::LastOnly,
     [](AggsimOptions& o, std::string_view v) { return FileName(o.png, "--png", v); }, HelpGroup::Outputs},
    {"--trace", "FILE", "write each stuck particle as a line x,y,colour", ToRuns::LastOnly,
     [](AggsimOptions& o, std::string_view v) { return FileName(o.trace, "--trace", v); }, HelpGroup::Outputs},
    {"--stats", "", "print the aggregate's radius of gyration and fractal dimension", ToRuns::Never,
     [](AggsimOptions& o, std::string_view) {
       o.stats = true;
       return std::string();
     },
     HelpGroup::Statistics},
    {"--start-radius", "R", "the launch circle's radius at the start (default 60)", ToRuns::Each, TakeStartRadius},
    {"--gif", "FILE", "film the growth as an animated GIF", ToRuns::LastOnly,
     [](AggsimOptions& o, std::string_view v) { return FileName(o.gif, "--gif", v); }, HelpGroup::Film},
    {"--image-size", "N", "with --model dla: the picture's and the film's side in pixels (default 2048)",
     ToRuns::Each, TakeImageSize, HelpGroup::Outputs},
    {"--colour", "arrival|white", "with --model dla: colour the picture by arrival (the default) or white",
     ToRuns::Each, TakeColour, HelpGroup::Outputs},
    {"--frame-every", "N", "a film frame every N stuck particles (default 10)", ToRuns::Each, TakeFrameEvery,
     HelpGroup::Film},
    {"--fps", "F", "the film's frames a second, at most 50 (default 25)", ToRuns::Each, TakeFps, HelpGroup::Film},
    {"--profile", "FILE", "write the mass-radius profile N(r) as CSV; with --runs or --merge, the mean over the runs",
     ToRuns::PerSeed,
     [](AggsimOptions& o, std::string_view v) { return FileName(o.profile, "--profile", v); },
     HelpGroup::Statistics},
    {"--growth", "FILE",
     "write the radius of gyration Rg(N) as CSV; with --runs or --merge, the mean over the runs and its spread",
     ToRuns::PerSeed, [](AggsimOptions& o, std::string_view v) { return FileName(o.growth, "--growth", v); },
     HelpGroup::Statistics},
    {"--runs", "N", "an ensemble: N runs from consecutive seeds, each in a process of its own", ToRuns::Never,
     TakeRuns, HelpGroup::Ensembles},
    {"--jobs", "J", "with --runs: J runs at a time (default: one per processor)", ToRuns::Never, TakeJobs,
     HelpGroup::Ensembles},
    {"--csv", "FILE", "with --runs or --merge: write a table of the runs' figures", ToRuns::Never,
     [](AggsimOptions& o, std::string_view v) { return FileName(o.csv, "--csv", v); }, HelpGroup::Ensembles},
    {"--out-dir", "DIR",
     "with --runs: every run writes its --png, --trace, --gif and --profile in DIR, the seed in each name",
     ToRuns::Never, [](AggsimOptions& o, std::string_view v) { return FileName(o.outDir, "--out-dir", v); },
     HelpGroup::Ensembles},
    {"--part-of", "SEED:N",
     "with --runs and --seed: these runs are part of the ensemble of N runs from SEED, which the table and profile "
     "name (a cluster's task); --profile is then the part's alone",
     ToRuns::Never, TakePartOf, HelpGroup::Ensembles},
    {"--check", "", "check the options and that the outputs can be written, then end without running",
     ToRuns::Never,
     [](AggsimOptions& o, std::string_view) {
       o.check = true;
       return std::string();
     },
     HelpGroup::Run},
    {"--merge", "FILE...",
     "combine the tables (--csv) and profiles of separate ensembles: their lines as --runs prints them, and with "
     "--csv and --profile the merged table and profile",
     ToRuns::Never, [](AggsimOptions& o, std::string_view v) {
       if (v.empty()) return std::string("an empty file name for --merge");
       o.merge.emplace_back(v);
       return std::string();
     },
     HelpGroup::Ensembles},
};

// The help's headings, in the order it shows them.
constexpr std::pair<HelpGroup, std::string_view> kGroups[] = {
    {HelpGroup::Run, "Run"},
    {HelpGroup::Model, "Model"},
    {HelpGroup::Outputs, "Outputs"},
    {HelpGroup::Film, "Film"},
    {HelpGroup::Statistics, "Statistics"},
    {HelpGroup::Ensembles, "Ensembles"},
};

// Each within 79 columns once indented; the documents' tests run them.
constexpr std::string_view kExamples[] = {
    "aggsim --rule radial --seed 7 --particles 3000 --png dla.png --gif dla.gif",
    "aggsim --rule radial --seed 12345 --particles 3000 --stats",
    "aggsim --seed 1 --particles 1000 --runs 8 --csv runs.csv",
};

constexpr std::pair<std::string_view, std::string_view> kExitCodes[] = {
    {"0", "the run ended as asked and every output was written"},
    {"1", "an output or the summary could not be written, a run of an ensemble failed, or a merge was refused"},
    {"2", "bad arguments, or a screen whose surface cannot hold the seed (one line says why)"},
    {"129, 130, 143", "ended by SIGHUP, SIGINT or SIGTERM, with the outputs written"},
    {"201, 215", "a failed range or overflow check, with its run-time error report"},
};

// The user's words are shown in the reason: control characters (a newline,
// an escape sequence) as '?', so that it stays one plain line.
std::string OneLine(std::string s) {
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return s;
}

const OptionSpec* Find(std::string_view name) {
  for (const OptionSpec& o : kTable)
    if (o.name == name) return &o;
  return nullptr;
}

// A full 80-column line wraps by itself in a Windows console, which then
// shows an empty line after it.
constexpr size_t kColumns = 79;

// Words of text after indent, broken before kColumns.
void Wrap(std::string& out, std::string_view text, size_t column, size_t indent) {
  while (!text.empty()) {
    const size_t space = text.find(' ');
    const std::string_view word = text.substr(0, space);
    if (column > indent && column + 1 + word.size() > kColumns) {
      out += "\n" + std::string(indent, ' ');
      column = indent;
    } else if (column > indent) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    text = space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
  }
}

std::string Shown(const OptionSpec& o) {
  return std::string(o.name) + (o.value.empty() ? "" : " " + std::string(o.value));
}

}  // namespace

std::span<const OptionSpec> AggsimOptionTable() { return kTable; }

AggsimArgs ParseAggsimArgs(const std::vector<std::string>& args) {
  AggsimArgs r;
  AggsimOptions& opt = r.options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    if (a == "--help" || a == "-h" || a == "/?") {
      opt.help = true;
      return r;
    }
    const OptionSpec* spec = Find(a);
    if (!spec) {
      r.error = OneLine(a.size() > 1 && a[0] == '-' ? "unknown option " + std::string(a)
                                                    : "unexpected argument " + std::string(a));
      return r;
    }
    std::string value;
    if (spec->value.ends_with("...")) {
      // Every word up to the next option is a value of its own.
      if (i + 1 >= args.size() || args[i + 1].starts_with("--")) {
        r.error = "missing value for " + std::string(a);
        return r;
      }
      while (i + 1 < args.size() && !args[i + 1].starts_with("--")) {
        r.error = OneLine(spec->take(opt, args[++i]));
        if (!r.error.empty()) return r;
        opt.given.emplace_back(spec, args[i]);
      }
      continue;
    }
    if (!spec->value.empty()) {
      if (i + 1 >= args.size()) {
        r.error = "missing value for " + std::string(a);
        return r;
      }
      value = args[++i];
    }
    r.error = OneLine(spec->take(opt, value));
    if (!r.error.empty()) return r;
    opt.given.emplace_back(spec, std::move(value));
  }
  // A time or a radius to reach ends the run by itself; a count then
  // applies only when one is given too.
  if (!opt.particlesSet && (opt.seconds > 0 || opt.radius > 0)) opt.particles = UINT64_MAX;
  // Options of one model only are refused in the other.
  for (const auto& [spec, value] : opt.given) {
    const std::string_view n = spec->name;
    if (opt.model == ModelKind::Dla && (n == "--rule" || n == "--screen" || n == "--start-radius"))
      r.error = std::string(n) + " belongs to the programs' model, not to --model dla";
    if (opt.model == ModelKind::Programs &&
        (n == "--lattice" || n == "--stick" || n == "--image-size" || n == "--colour"))
      r.error = std::string(n) + " goes with --model dla";
  }
  if (opt.model == ModelKind::Dla && opt.lattice == LatticeKind::Off && opt.stick != 1)
    r.error = "--stick goes with a lattice: off the lattice every contact sticks";
  if (!r.error.empty()) return r;
  if (!opt.merge.empty()) {
    for (const auto& [spec, value] : opt.given)
      if (spec->name != "--merge" && spec->name != "--csv" && spec->name != "--profile" && spec->name != "--growth")
        r.error = "--merge takes only --csv, --profile and --growth, not " + std::string(spec->name);
    return r;
  }
  // Only what was given is named.
  if (opt.runs == 0 && !opt.csv.empty()) r.error = "--csv goes with --runs or --merge";
  if (opt.runs == 0 && opt.jobs) r.error = "--jobs goes with --runs";
  if (opt.runs == 0 && !opt.outDir.empty()) r.error = "--out-dir goes with --runs";
  if (opt.partOf && (opt.runs == 0 || !opt.seeded)) r.error = "--part-of goes with --runs and --seed";
  // The part's seeds, consecutive and wrapping round as the ensemble's do,
  // lie inside it.
  if (opt.partOf && opt.runs > 0 && opt.seeded &&
      (opt.runs > opt.partRuns || opt.seed - opt.partFirst > opt.partRuns - opt.runs))
    r.error = "--runs " + std::to_string(opt.runs) + " from --seed " + std::to_string(opt.seed) +
              " is not within the ensemble of --part-of " + std::to_string(opt.partFirst) + ":" +
              std::to_string(opt.partRuns);
  if (!opt.outDir.empty() && opt.png.empty() && opt.trace.empty() && opt.gif.empty() && opt.profile.empty() &&
      opt.growth.empty())
    r.error = "--out-dir needs --png, --trace, --gif, --profile or --growth to write there";
  // Each run's line already carries its figures; the closing line, the
  // ensemble's.
  if (opt.runs > 0 && opt.stats) r.error = "--stats goes with a single run: with --runs each run's line holds its figures";
  // A run of an ensemble hands its figures back on its standard output.
  if (opt.runs > 0 && (opt.png == "-" || opt.trace == "-" || opt.gif == "-" || opt.profile == "-" || opt.growth == "-"))
    r.error = "with --runs only --csv can go to standard output";
  return r;
}

std::string AggsimUsage() {
  static const std::string_view lead = "usage: aggsim ";
  std::string out(lead);
  std::string words;
  for (const OptionSpec& o : kTable) {
    // --merge is a usage of its own, on the line below.
    if (o.value.ends_with("...")) continue;
    // Each bracket stays whole on a line: its spaces become no-break marks.
    std::string item = "[" + Shown(o) + "]";
    for (char& c : item)
      if (c == ' ') c = '\x01';
    words += (words.empty() ? "" : " ") + item;
  }
  Wrap(out, words, lead.size(), lead.size());
  for (char& c : out)
    if (c == '\x01') c = ' ';
  out += "\n       aggsim --merge FILE... [--csv FILE] [--profile FILE] [--growth FILE]\n       aggsim --help|-h|/?\n       FILE - is standard output";
  return out;
}

std::string AggsimHelp() {
  std::string out = AggsimUsage() + "\n\n";
  Wrap(out,
       "Grows a diffusion-limited aggregate as aggwhite, aggradial and aggorder do, without a window, and writes "
       "what grew.",
       0, 0);
  out += "\n";
  constexpr size_t kHelpColumn = 24;
  const auto item = [&](std::string shown, std::string_view help) {
    std::string line = "  " + shown;
    const size_t column = line.size();
    line += column + 2 > kHelpColumn ? "\n" + std::string(kHelpColumn, ' ') : std::string(kHelpColumn - column, ' ');
    Wrap(line, help, kHelpColumn, kHelpColumn);
    out += line + "\n";
  };
  for (const auto& [group, heading] : kGroups) {
    out += "\n" + std::string(heading) + ":\n";
    for (const OptionSpec& o : kTable)
      if (o.group == group) item(Shown(o), o.help);
    if (group == HelpGroup::Run) item("--help, -h, /?", "print this help and exit");
  }
  out += "\nExamples:\n";
  for (const std::string_view example : kExamples) out += "  " + std::string(example) + "\n";
  out += "\nExit codes:\n";
  for (const auto& [code, meaning] : kExitCodes) item(std::string(code), meaning);
  return out;
}

std::string Parameters(const AggsimOptions& o) {
  const auto number = [](double v) {
    char n[40];
    std::snprintf(n, sizeof n, "%.17g", v);
    return std::string(n);
  };
  if (o.model == ModelKind::Dla) {
    const char* lattice = o.lattice == LatticeKind::Off ? "off" : o.lattice == LatticeKind::Square4 ? "square4" : "square8";
    return std::string("model dla; lattice ") + lattice + "; stick " + number(o.stick) + "; particles " +
           (o.particles == UINT64_MAX ? "none" : std::to_string(o.particles)) + "; seconds " +
           (o.seconds > 0 ? number(o.seconds) : "none") + "; radius " + (o.radius > 0 ? number(o.radius) : "none");
  }
  const char* rule = o.rule == RuleKind::White ? "white" : o.rule == RuleKind::Radial ? "radial" : "order";
  char buf[300];
  std::snprintf(buf, sizeof buf, "rule %s; particles %s; seconds %s; radius %s; screen %dx%d; start radius %s", rule,
                o.particles == UINT64_MAX ? "none" : std::to_string(o.particles).c_str(),
                o.seconds > 0 ? number(o.seconds).c_str() : "none", o.radius > 0 ? number(o.radius).c_str() : "none",
                o.screenW, o.screenH, o.startRadiusSet ? number(o.startRadius).c_str() : "60");
  return buf;
}

std::string SeedName(const std::string& dir, const std::string& name, uint32_t seed) {
  const size_t slash = name.find_last_of("/\\");
  const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  const size_t dot = base.rfind('.');
  const size_t stem = dot == std::string::npos || dot == 0 ? base.size() : dot;
  std::string in = dir;
  if (!in.empty() && in.back() != '/' && in.back() != '\\') in += '/';
  return in + base.substr(0, stem) + "-" + std::to_string(seed) + base.substr(stem);
}

std::vector<std::string> RunArguments(const AggsimOptions& options, uint32_t seed, bool last) {
  std::vector<std::string> args;
  const bool perSeed = !options.outDir.empty();
  for (const auto& [spec, value] : options.given) {
    if (spec->toRuns == ToRuns::Never) continue;
    // A part's profile is the part's own, for the merge: its runs' profiles
    // would land among the user's outputs under names of the cluster's.
    if (spec->toRuns == ToRuns::PerSeed && options.partOf) continue;
    if ((spec->toRuns == ToRuns::LastOnly || spec->toRuns == ToRuns::PerSeed) && perSeed) {
      args.emplace_back(spec->name);
      args.push_back(SeedName(options.outDir, value, seed));
      continue;
    }
    if ((spec->toRuns == ToRuns::LastOnly && !last) || spec->toRuns == ToRuns::PerSeed) continue;
    args.emplace_back(spec->name);
    if (!spec->value.empty()) args.push_back(value);
  }
  args.insert(args.end(), {"--seed", std::to_string(seed)});
  return args;
}

}  // namespace aggsim
