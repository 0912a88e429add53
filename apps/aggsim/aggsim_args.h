// aggsim's command line, parsed apart from the run so that tests and a
// fuzzer can call it on any words.  Each option is declared once, in one
// table that drives the parser, the help, and the arguments handed to each
// run of an ensemble.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace aggsim {

enum class RuleKind { White, Radial, Order };
// Whose aggregate grows: the programs' own (the walk killed at 1.05 R on a
// screen), or standard diffusion-limited aggregation (dla/).
enum class ModelKind { Programs, Dla };
enum class LatticeKind { Off, Square4, Square8 };

struct OptionSpec;

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
  std::string growth;             // "" when not asked for
  uint64_t frameEvery = 10;       // a hundred frames for the default run
  double fps = 25;
  uint32_t runs = 0;     // 0: one run in this process
  uint32_t jobs = 0;     // 0: one per processor
  bool record = false;   // a run of an ensemble (kEnsembleRunVariable): its record line, no progress
  std::string outDir;    // with --runs: each run's outputs here, by seed
  // With --runs: these runs are a part (a cluster's task) of the ensemble
  // of partRuns runs from partFirst, which the table and profile record.
  bool partOf = false;
  uint32_t partFirst = 0, partRuns = 0;
  bool check = false;    // check the options and outputs, run nothing
  std::vector<std::string> merge;  // tables and profiles to merge
  // The standard model's own.
  ModelKind model = ModelKind::Programs;
  LatticeKind lattice = LatticeKind::Off;
  double stick = 1;          // sticking probability, 0 < stick <= 1
  int32_t imageSize = 2048;  // the picture's and the film's side, in pixels
  bool white = false;        // the picture white on black, not coloured by arrival
  // The options as given, in order, with their values ("" for a flag).
  std::vector<std::pair<const OptionSpec*, std::string>> given;
};

// How an option given to an ensemble reaches each of its runs.
enum class ToRuns {
  Each,      // every run gets it as given
  LastOnly,  // only the last run (its outputs), so that they are written once;
             // with --out-dir every run, under its seed's name there
  PerSeed,   // with --out-dir every run, under its seed's name; else the ensemble's own
  Never,     // the ensemble's own (or replaced per run, as the seed is)
};

// The headings --help lists the options under, in this order.  A new
// option names its group; a new group needs its heading in aggsim_args.cpp.
enum class HelpGroup { Run, Model, Outputs, Film, Statistics, Ensembles };

struct OptionSpec {
  std::string_view name;   // "--rule"
  std::string_view value;  // how the value is shown ("FILE"); empty for a flag
  std::string_view help;   // one line: what it does
  ToRuns toRuns;
  // Takes the value into the options: an empty string, or why it is bad.
  std::string (*take)(AggsimOptions& options, std::string_view value);
  HelpGroup group = HelpGroup::Run;
};

// Every option, in the order the help lists them.
std::span<const OptionSpec> AggsimOptionTable();

struct AggsimArgs {
  AggsimOptions options;
  std::string error;  // a one-line reason for a usage error, else empty
};

// args without the program's name.
AggsimArgs ParseAggsimArgs(const std::vector<std::string>& args);

// The usage lines (each within 80 columns), at the head of the help.
std::string AggsimUsage();
// What follows a usage error's one line.
inline constexpr const char* kTryHelp = "Try 'aggsim --help'.";
// The usage, then each option with its meaning: what --help prints.
std::string AggsimHelp();

// What makes runs comparable (rule, the stops, screen, start radius), as
// the ensemble's table and profile record it.
std::string Parameters(const AggsimOptions& options);

// A run's output name under --out-dir: the name's last part with "-SEED"
// before its extension, in dir.
std::string SeedName(const std::string& dir, const std::string& name, uint32_t seed);

// The arguments of one run of an ensemble: the user's own as the table
// passes them on, then the run's seed.
std::vector<std::string> RunArguments(const AggsimOptions& options, uint32_t seed, bool last);

// Set (to "1") in the environment of each run of an ensemble, and only
// there: the run then prints its record line and no progress.  It is not
// an option, so that a user never meets it on the command line.
inline constexpr const char* kEnsembleRunVariable = "AGGSIM_ENSEMBLE_RUN";

}  // namespace aggsim
