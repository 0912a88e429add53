#include "apps/aggsim/ensemble.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "io/ensemble.h"
#include "io/ensemble_table.h"
#include "io/growth.h"
#include "io/outfile.h"
#include "io/process.h"
#include "io/stop.h"
#include "runtime/procsvc.h"

#ifndef AGG_VERSION
#define AGG_VERSION "unknown"
#endif

namespace aggsim {

namespace {

// The first line of an ensemble's growth file.
constexpr const char* kGrowthMark = "# aggsim ensemble growth";

int Failed(const std::string& why) {
  std::fprintf(stderr, "aggsim: %s\n", why.c_str());
  return 1;
}

// What the tables and profiles record of the program and its parameters.
std::string About(const AggsimOptions& opt) { return "aggsim " AGG_VERSION "; " + Parameters(opt); }

// The lines go to standard output, unless an output does: then that
// output alone, and the lines to standard error.
std::FILE* LineSink(const AggsimOptions& opt) {
  for (const std::string* path : {&opt.csv, &opt.profile})
    if (!path->empty() && io::SameOutput(*path, "-")) return stderr;
  return stdout;
}

const char* SignalName(int sig) {
  return sig == 2 ? "Ctrl-C (SIGINT)" : sig == 15 ? "SIGTERM" : sig == 1 ? "SIGHUP" : "a signal";
}

// The table and the profile of the runs given, both opened before either
// is written and replaced only when both are: they always describe the same
// runs.  A stop request from here ends the process at once, taking away
// the temporaries.
int WriteFiles(const AggsimOptions& opt, const std::vector<io::RunRecord>& records, const io::EnsembleProfile* profile,
               const std::string& about, const io::EnsembleRange& range, const io::GrowthEnsemble* growth) {
  io::StopAtOnceFromNow();
  const bool withProfile = !opt.profile.empty() && profile;
  const bool withGrowth = !opt.growth.empty() && growth;
  io::OutputFile table, mean, grown;
  io::Status err;
  if (!opt.csv.empty()) err = table.Open(opt.csv);
  if (err.ok() && withProfile) err = mean.Open(opt.profile);
  if (err.ok() && withGrowth) err = grown.Open(opt.growth);
  if (err.ok() && withGrowth)
    err = grown.Write(std::string(kGrowthMark) + "\n# " + about + "\n" + io::EnsembleLine(range) + "\n" +
                      io::EnsembleCurveText(*growth));
  if (err.ok() && !opt.csv.empty()) {
    std::string text = io::CsvHeader(about, range);
    for (const io::RunRecord& r : records) text += io::CsvRow(r);
    err = table.Write(text);
  }
  if (err.ok() && withProfile) {
    std::vector<uint32_t> seeds;
    for (const io::RunRecord& r : records) seeds.push_back(r.seed);
    err = mean.Write(io::EnsembleProfileText(*profile, about, range, seeds));
  }
  if (err.ok() && !opt.csv.empty()) err = table.Commit();
  if (err.ok() && withProfile) err = mean.Commit();
  if (err.ok() && withGrowth) err = grown.Commit();
  if (!err.ok()) {
    table.Abandon();
    mean.Abandon();
    grown.Abandon();
    return Failed(err.reason());
  }
  return 0;
}

// The runs' growth summed, when every run kept its growth (tables older
// than it hold none); the closing line about it goes to lines.
std::optional<io::GrowthEnsemble> SumGrowth(const std::vector<io::RunRecord>& records, std::FILE* lines,
                                            std::string& failure) {
  std::vector<io::GrowthRun> runs;
  for (const io::RunRecord& r : records) {
    if (r.curve.empty()) return std::nullopt;
    io::GrowthRun g;
    g.seed = r.seed;
    if (!io::ParseCurveField(r.curve, g.curve).empty() || !io::ParseProfileField(r.centreProfile, g.profile).empty())
      return std::nullopt;
    runs.push_back(std::move(g));
  }
  if (runs.empty()) return std::nullopt;
  io::GrowthEnsemble e;
  failure = io::SummariseGrowth(std::move(runs), {}, e);
  if (!failure.empty()) return std::nullopt;
  std::fprintf(lines, "%s\n", io::DescribeGrowthEnsemble(e).c_str());
  return e;
}

// The ensemble these runs belong to: their own, or the whole one of which
// they are a part.
io::EnsembleRange RangeOf(const AggsimOptions& opt, uint32_t first) {
  return opt.partOf ? io::EnsembleRange{opt.partFirst, opt.partRuns} : io::EnsembleRange{first, opt.runs};
}

}  // namespace

// Each run a process of its own, J at a time; their lines in the order of
// their seeds whatever order they end in.  The runs hear no signal but from
// the ensemble: it ends them when it is asked to stop, when one fails, and
// (by the process-end hook, or their own watch on it) when it ends.
int RunEnsemble(const AggsimOptions& opt) {
  const std::string self = io::SelfPath();
  if (self.empty()) return Failed("cannot find this program's file to start the runs");
  const uint32_t first = opt.seeded ? opt.seed
                                    : static_cast<uint32_t>(std::chrono::system_clock::now().time_since_epoch().count());
  if (!opt.outDir.empty()) {
    for (const std::string* path : {&opt.png, &opt.trace, &opt.gif, &opt.profile, &opt.growth}) {
      if (path->empty()) continue;
      const io::Status writable = io::CheckOutput(SeedName(opt.outDir, *path, first));
      if (!writable.ok()) return Failed(writable.reason());
    }
  }
  if (opt.check) return 0;
  const io::EnsembleRange range = RangeOf(opt, first);
  const uint32_t jobs = opt.jobs ? opt.jobs : std::max(1u, std::thread::hardware_concurrency());
  sys::os::AtProcessEnd(io::StopWatched);
  struct Slot {
    uint32_t number, seed;
    io::Watched run;
  };
  std::vector<std::unique_ptr<Slot>> running;
  std::map<uint32_t, std::pair<io::RunRecord, io::RunProfile>> finished;  // by run number
  std::FILE* lines = LineSink(opt);
  uint32_t next = 0, shown = 0;
  std::string failure;
  bool stopping = false;
  for (;;) {
    if (!stopping && (io::StopRequested() || !failure.empty())) {
      stopping = true;
      io::StopWatched();
    }
    while (!stopping && next < opt.runs && running.size() < jobs) {
      auto slot = std::make_unique<Slot>(Slot{next + 1, first + next, {}});  // consecutive seeds, wrapping round
      // The outputs that one run writes are the ensemble's last seed's, as
      // in a part of it that holds that seed and in no other part.
      if (!io::StartWatched(self, RunArguments(opt, slot->seed, slot->seed == range.Last()), slot->run, failure,
                            {std::string(kEnsembleRunVariable) + "=1"}))
        break;
      running.push_back(std::move(slot));
      ++next;
    }
    if (running.empty() && (stopping || next >= opt.runs || !failure.empty())) break;
    std::vector<io::Watched*> watched;
    for (auto& s : running) watched.push_back(&s->run);
    // Short waits: a signal between the check above and the wait is seen
    // at the next turn.
    io::PollWatched(watched, 100);
    for (auto it = running.begin(); it != running.end();) {
      Slot& s = **it;
      if (!s.run.ended) {
        ++it;
        continue;
      }
      std::optional<io::RunRecord> record = io::FindRecord(s.run.output);
      if (record) io::FindGrowth(s.run.output, *record);
      const std::optional<io::RunProfile> profile = io::FindProfile(s.run.output);
      // A run that ended whole counts, even when it is reaped after a stop.
      if (s.run.end.code == 0 && s.run.end.signal == 0 && record && profile) {
        finished[s.number] = {*record, *profile};
      } else if (!stopping && failure.empty()) {
        failure = "run " + std::to_string(s.number) + " (seed " + std::to_string(s.seed) + ") " +
                  (s.run.end.code != 0 || s.run.end.signal != 0 ? "failed: " + io::DescribeEnd(s.run.end)
                                                                  : "did not report its figures");
      }
      it = running.erase(it);
    }
    if (stopping) continue;
    for (auto f = finished.find(shown + 1); f != finished.end() && f->first == shown + 1; f = finished.find(shown + 1)) {
      std::fprintf(lines, "%s\n", io::DescribeRun(static_cast<int>(f->first), f->second.first).c_str());
      ++shown;
    }
    std::fflush(lines);
  }
  if (!failure.empty()) return Failed(failure);
  // Those not shown yet (ended after a run still going at a stop) follow
  // in order; the closing line, the table and the profile hold every run
  // that ended whole.
  // What was asked before the writing starts is what the closing note
  // reports; a request from now on ends the process at once.
  const int stop = io::StopRequested();
  io::StopAtOnceFromNow();
  std::vector<io::RunRecord> records;
  io::EnsembleProfile profile;
  for (const auto& [number, run] : finished) {
    if (number > shown) std::fprintf(lines, "%s\n", io::DescribeRun(static_cast<int>(number), run.first).c_str());
    records.push_back(run.first);
    if (!profile.Add(run.second)) return Failed("the runs' profiles are too large to add");
  }
  if (!records.empty()) std::fprintf(lines, "%s\n", io::DescribeEnsemble(records, &profile).c_str());
  std::string unsummed;
  const std::optional<io::GrowthEnsemble> growth = SumGrowth(records, lines, unsummed);
  if (!unsummed.empty()) return Failed(unsummed);
  if (!opt.growth.empty() && !growth && !records.empty()) return Failed("--growth: the runs kept no growth");
  if (std::fflush(lines) != 0 || std::ferror(lines)) return Failed("cannot write the runs' lines");
  if (const int code = WriteFiles(opt, records, &profile, About(opt), range, growth ? &*growth : nullptr)) return code;
  if (stop) {
    std::fprintf(stderr, "aggsim: interrupted by %s after %zu of %u runs; the lines and files hold those %zu\n",
                 SignalName(stop), records.size(), opt.runs, records.size());
    return 128 + stop;
  }
  return 0;
}

namespace {

// More than any table of an ensemble holds (a million runs of a couple of
// hundred bytes): a file this large is not one, and is not read whole.
constexpr std::streamsize kMostMergeBytes = std::streamsize(1) << 28;

// A file to merge, read strictly: its first line must be a table's or a
// profile's mark before more is read, so that a device or a huge file of
// anything else is refused at once.
std::string ReadMergeInput(const std::string& name, std::string& text) {
  // Names are UTF-8 inside; as a path they reach Windows' wide calls.
  const std::filesystem::path path(std::u8string(name.begin(), name.end()));
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return "cannot read " + name + ": it is a folder";
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot read " + name + ": " + std::strerror(errno);
  const size_t mark = std::max(std::strlen(io::kTableMark), std::strlen(io::kProfileMark)) + 1;
  text.resize(mark);
  in.read(text.data(), static_cast<std::streamsize>(mark));
  text.resize(static_cast<size_t>(in.gcount()));
  if (in.bad()) return "cannot read " + name + ": " + std::strerror(errno);
  // Either mark, so far as the bytes read reach (the reader judges the rest).
  const auto fits = [&](const char* m) {
    const size_t n = std::min(text.size(), std::strlen(m));
    return text.compare(0, n, m, n) == 0;
  };
  if (!fits(io::kTableMark) && !fits(io::kProfileMark))
    return name + ":1: kind: neither an aggsim ensemble table nor its profile";
  char buf[1 << 16];
  while (in) {
    in.read(buf, sizeof buf);
    text.append(buf, static_cast<size_t>(in.gcount()));
    if (static_cast<std::streamsize>(text.size()) > kMostMergeBytes)
      return name + ": larger than any ensemble's table or profile (" + std::to_string(kMostMergeBytes >> 20) + " MiB)";
  }
  if (in.bad()) return "cannot read " + name + ": " + std::strerror(errno);
  return {};
}

}  // namespace

int RunMerge(const AggsimOptions& opt) {
  std::vector<io::MergeInput> inputs;
  for (size_t i = 0; i < opt.merge.size(); ++i) {
    const std::string& name = opt.merge[i];
    // One file given twice is a slip of the command line, not runs met twice.
    for (size_t j = 0; j < i; ++j)
      if (io::SameOutput(opt.merge[j], name)) return Failed(opt.merge[j] + " and " + name + " are the same file, given twice");
    std::string text;
    const std::string unread = ReadMergeInput(name, text);
    if (!unread.empty()) return Failed(unread);
    inputs.push_back({name, std::move(text)});
  }
  io::Merged merged;
  const std::string refused = io::MergeEnsembles(inputs, merged);
  if (!refused.empty()) return Failed(refused);
  if (!opt.profile.empty() && !merged.profiled)
    return Failed("--profile: no profile among the files to merge");
  std::FILE* lines = LineSink(opt);
  for (size_t i = 0; i < merged.records.size(); ++i)
    std::fprintf(lines, "%s\n", io::DescribeRun(static_cast<int>(i + 1), merged.records[i]).c_str());
  if (!merged.records.empty())
    std::fprintf(lines, "%s\n", io::DescribeEnsemble(merged.records, merged.profiled ? &merged.profile : nullptr).c_str());
  std::string unsummed;
  const std::optional<io::GrowthEnsemble> growth = SumGrowth(merged.records, lines, unsummed);
  if (!unsummed.empty()) return Failed(unsummed);
  if (!opt.growth.empty() && !growth) return Failed("--growth: the tables hold no growth of their runs");
  if (std::fflush(lines) != 0 || std::ferror(lines)) return Failed("cannot write the runs' lines");
  const int code = WriteFiles(opt, merged.records, merged.profiled ? &merged.profile : nullptr, merged.about,
                              merged.range, growth ? &*growth : nullptr);
  if (code != 0) return code;
  const std::string missing = io::MissingSeeds(merged.range, merged.seeds);
  if (missing.empty()) return 0;
  // The outputs hold what there is; the exit code says it is not the whole.
  std::fprintf(stderr, "aggsim: the merge holds %zu of the ensemble's %u runs (seeds %s); missing seeds: %s\n",
               merged.records.size(), merged.range.runs, io::DescribeRange(merged.range).c_str(), missing.c_str());
  return kIncompleteMerge;
}

}  // namespace aggsim
