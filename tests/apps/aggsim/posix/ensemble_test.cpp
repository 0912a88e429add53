// aggsim's ensembles run whole: how they end under signals and failures,
// what an interrupted one keeps, each run's outputs, and a merge of parts.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Generous bounds that only a hang reaches: nothing here measures time.
constexpr double kGuardSeconds = 120;

std::string DirName() { return testing::TempDir() + "aggsim-ens." + std::to_string(getpid()); }

std::string Dir() {
  static const std::string d = [] {
    mkdir(DirName().c_str(), 0755);
    return DirName() + "/";
  }();
  return d;
}

// The folder goes with the tests that made it.
class RemoveDir : public testing::Environment {
 public:
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(DirName(), ec);
  }
};
const testing::Environment* const kRemoveDir = testing::AddGlobalTestEnvironment(new RemoveDir);

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

bool WaitFor(const std::function<bool()>& done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(kGuardSeconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// aggsim started in a process group of its own, as a shell starts a job:
// standard output and error to files, the signals at their defaults.
struct Job {
  pid_t pid = -1;
  std::string out, err;
  int status = -1;

  // before runs in the child just before aggsim starts.
  explicit Job(const std::vector<std::string>& args, const std::string& name,
               const std::function<void()>& before = nullptr) {
    out = Dir() + name + ".out", err = Dir() + name + ".err";
    pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) signal(sig, SIG_DFL);
      if (before) before();
      const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(o, 1), dup2(e, 2);
      std::vector<char*> argv{const_cast<char*>(AGGSIM)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(AGGSIM, argv.data());
      _exit(127);
    }
    setpgid(pid, pid);
  }
  // True once it ended (within the guard); status then holds how.
  bool Wait() {
    const bool ended = WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; });
    if (!ended) kill(-pid, SIGKILL), waitpid(pid, &status, 0);
    return ended;
  }
  int Code() const { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }
};

// The processes whose parent is pid.
std::vector<pid_t> ChildrenOf(pid_t parent) {
  std::vector<pid_t> found;
  DIR* proc = opendir("/proc");
  while (dirent* e = proc ? readdir(proc) : nullptr) {
    const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
    if (pid <= 0) continue;
    const std::string stat = Slurp("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    int ppid = 0;
    char state = 0;
    if (close != std::string::npos && std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 &&
        ppid == parent && state != 'Z')
      found.push_back(pid);
  }
  if (proc) closedir(proc);
  return found;
}

// Gone, or a zombie that nobody has reaped yet: either way not running.
bool Ended(pid_t pid) {
  const std::string stat = Slurp("/proc/" + std::to_string(pid) + "/stat");
  const size_t close = stat.rfind(')');
  return close == std::string::npos || stat[close + 2] == 'Z' || stat[close + 2] == 'X';
}

bool AllEnded(const std::vector<pid_t>& pids) {
  return WaitFor([&] {
    for (pid_t p : pids)
      if (!Ended(p)) return false;
    return true;
  });
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

const std::vector<std::string> kForever = {"--runs", "4", "--jobs", "2", "--particles", "100000000"};

// However the ensemble ends, its runs end with it.
struct Ending {
  const char* name;
  std::function<void(Job&, const std::vector<pid_t>&)> act;
  int code;  // its exit code, or 0 for "any"
};

void PrintTo(const Ending& e, std::ostream* os) { *os << e.name; }

class EnsembleEnds : public testing::TestWithParam<Ending> {};

TEST_P(EnsembleEnds, NoRunOutlivesIt) {
  Job job(kForever, GetParam().name);
  ASSERT_TRUE(WaitFor([&] { return ChildrenOf(job.pid).size() == 2; })) << "the runs did not start";
  const std::vector<pid_t> runs = ChildrenOf(job.pid);
  GetParam().act(job, runs);
  ASSERT_TRUE(job.Wait()) << "the ensemble did not end";
  if (GetParam().code) {
    EXPECT_EQ(job.Code(), GetParam().code) << Slurp(job.err);
  }
  EXPECT_TRUE(AllEnded(runs)) << "a run outlived the ensemble";
}

INSTANTIATE_TEST_SUITE_P(
    Signals, EnsembleEnds,
    testing::Values(Ending{"term", [](Job& j, auto&) { kill(j.pid, SIGTERM); }, 143},
                    Ending{"hup", [](Job& j, auto&) { kill(j.pid, SIGHUP); }, 129},
                    // Ctrl-C at a terminal reaches the whole foreground group.
                    Ending{"int", [](Job& j, auto&) { kill(-j.pid, SIGINT); }, 130},
                    Ending{"twice", [](Job& j, auto&) { kill(j.pid, SIGTERM), kill(j.pid, SIGTERM); }, 143},
                    Ending{"kill", [](Job& j, auto&) { kill(j.pid, SIGKILL); }, 128 + SIGKILL}),
    [](const testing::TestParamInfo<Ending>& i) { return std::string(i.param.name); });

// A run that dies is seen at once, not after the (endless) runs before it,
// and named with the signal that killed it.
TEST(Ensemble, ADeadRunIsNamedAndEndsTheOthers) {
  Job job({"--runs", "3", "--jobs", "3", "--seed", "70", "--particles", "100000000"}, "dead");
  ASSERT_TRUE(WaitFor([&] { return ChildrenOf(job.pid).size() == 3; }));
  std::vector<pid_t> runs = ChildrenOf(job.pid);
  std::sort(runs.begin(), runs.end());  // started in order: the last is seed 72
  kill(runs.back(), SIGKILL);
  ASSERT_TRUE(job.Wait());
  EXPECT_EQ(job.Code(), 1);
  EXPECT_NE(Slurp(job.err).find("run 3 (seed 72) failed: killed by signal 9 (SIGKILL)"), std::string::npos)
      << Slurp(job.err);
  EXPECT_TRUE(AllEnded(runs));
}

// Interrupted, an ensemble keeps what finished: the runs that ended before
// the signal, whatever order they ended in, their lines, the closing line
// over them, the table, a note saying how many of how many; only the
// ensemble speaks.  The first run waits for a reader on its picture (a
// FIFO) until the signal, the other two end.
TEST(Ensemble, InterruptedKeepsTheRunsThatFinished) {
  const std::string out = Dir() + "kept/";
  mkdir(out.c_str(), 0755);
  ASSERT_EQ(mkfifo((out + "dla-30.png").c_str(), 0644), 0);
  const std::string csv = Dir() + "kept.csv";
  Job job({"--runs", "3", "--jobs", "3", "--seed", "30", "--particles", "200", "--out-dir", out, "--png", "dla.png",
           "--csv", csv},
          "kept");
  ASSERT_TRUE(WaitFor([&] {
    return Exists(out + "dla-31.png") && Exists(out + "dla-32.png") && ChildrenOf(job.pid).size() == 1;
  }));
  const std::vector<pid_t> runs = ChildrenOf(job.pid);
  kill(-job.pid, SIGINT);
  ASSERT_TRUE(job.Wait());
  EXPECT_EQ(job.Code(), 130);
  const std::string err = Slurp(job.err), lines = Slurp(job.out), table = Slurp(csv);
  EXPECT_EQ(Count(err, "interrupted"), 1u) << err;
  EXPECT_NE(err.find("interrupted by Ctrl-C (SIGINT) after 2 of 3 runs"), std::string::npos) << err;
  EXPECT_EQ(lines.find("run 1:"), std::string::npos) << lines;
  EXPECT_NE(lines.find("run 2: seed 31,"), std::string::npos) << lines;
  EXPECT_NE(lines.find("run 3: seed 32,"), std::string::npos) << lines;
  EXPECT_NE(lines.find("\n2 runs: D mean "), std::string::npos) << lines;
  EXPECT_EQ(Count(table, "\n31,200,"), 1u) << table;
  EXPECT_EQ(Count(table, "\n32,200,"), 1u) << table;
  EXPECT_EQ(Count(table, "\n30,"), 0u) << table;
  EXPECT_TRUE(AllEnded(runs));
}

// With the table on standard output, standard output holds the table
// alone; the lines go to standard error.
TEST(Ensemble, ATableOnStandardOutputIsAloneThere) {
  const std::string csv = Dir() + "alone.csv";
  Job file({"--runs", "3", "--jobs", "3", "--seed", "8", "--particles", "200", "--csv", csv}, "file");
  Job piped({"--runs", "3", "--jobs", "3", "--seed", "8", "--particles", "200", "--csv", "-"}, "piped");
  ASSERT_TRUE(file.Wait());
  ASSERT_TRUE(piped.Wait());
  ASSERT_EQ(file.Code(), 0);
  ASSERT_EQ(piped.Code(), 0) << Slurp(piped.err);
  EXPECT_EQ(Slurp(piped.out), Slurp(csv));
  EXPECT_EQ(Slurp(piped.err), Slurp(file.out));
}

TEST(Ensemble, StatsIsRefusedWithRuns) {
  Job job({"--runs", "2", "--stats"}, "stats");
  ASSERT_TRUE(job.Wait());
  EXPECT_EQ(job.Code(), 2);
  EXPECT_NE(Slurp(job.err).find("--stats goes with a single run"), std::string::npos) << Slurp(job.err);
}

// --out-dir keeps each run's outputs under its seed's name, each what that
// seed gives alone.
TEST(Ensemble, EveryRunsOutputsKept) {
  const std::string out = Dir() + "each/";
  mkdir(out.c_str(), 0755);
  Job job({"--runs", "3", "--jobs", "2", "--seed", "50", "--particles", "150", "--out-dir", out, "--png", "a/dla.png",
           "--trace", "t.csv", "--profile", Dir() + "mean.csv"},
          "each");
  ASSERT_TRUE(job.Wait());
  ASSERT_EQ(job.Code(), 0) << Slurp(job.err);
  for (int seed : {50, 51, 52}) {
    const std::string s = std::to_string(seed);
    EXPECT_TRUE(Exists(out + "dla-" + s + ".png")) << seed;
    EXPECT_TRUE(Exists(out + "t-" + s + ".csv")) << seed;
    EXPECT_TRUE(Exists(out + "mean-" + s + ".csv")) << seed;
  }
  Job alone({"--seed", "51", "--particles", "150", "--trace", Dir() + "alone51.csv", "--profile", Dir() + "p51.csv"},
            "alone");
  ASSERT_TRUE(alone.Wait());
  EXPECT_EQ(Slurp(out + "t-51.csv"), Slurp(Dir() + "alone51.csv"));
  EXPECT_EQ(Slurp(out + "mean-51.csv"), Slurp(Dir() + "p51.csv"));
  EXPECT_NE(Slurp(Dir() + "mean.csv").find("# seeds 50-52\n"), std::string::npos);
}

// Parts merged give what one ensemble over their seeds gives, byte for
// byte: lines, table and profile; seeds missing at either end or between
// are named, with how many of how many runs the merge holds.
TEST(Merge, PartsGiveTheWhole) {
  const std::string d = Dir();
  const std::vector<std::string> common = {"--rule", "radial", "--particles", "250", "--jobs", "2"};
  const auto with = [&](std::vector<std::string> more) {
    more.insert(more.begin(), common.begin(), common.end());
    return more;
  };
  Job whole(with({"--runs", "5", "--seed", "20", "--csv", d + "w.csv", "--profile", d + "wp.csv"}), "whole");
  Job a(with({"--runs", "2", "--seed", "20", "--part-of", "20:5", "--csv", d + "a.csv", "--profile", d + "ap.csv"}), "a");
  Job b(with({"--runs", "3", "--seed", "22", "--part-of", "20:5", "--csv", d + "b.csv", "--profile", d + "bp.csv"}), "b");
  for (Job* j : {&whole, &a, &b}) {
    ASSERT_TRUE(j->Wait());
    ASSERT_EQ(j->Code(), 0) << Slurp(j->err);
  }
  Job merged({"--merge", d + "b.csv", d + "ap.csv", d + "a.csv", d + "bp.csv", "--csv", d + "m.csv", "--profile",
              d + "mp.csv"},
             "merged");
  ASSERT_TRUE(merged.Wait());
  ASSERT_EQ(merged.Code(), 0) << Slurp(merged.err);
  EXPECT_EQ(Slurp(merged.out), Slurp(whole.out));
  EXPECT_NE(Slurp(merged.out).find("; D of the mean profile "), std::string::npos);
  EXPECT_EQ(Slurp(d + "m.csv"), Slurp(d + "w.csv"));
  EXPECT_EQ(Slurp(d + "mp.csv"), Slurp(d + "wp.csv"));
  EXPECT_EQ(Slurp(merged.err), "");

  // Parts of an ensemble of 9 from 18: the first two seeds, the middle and
  // the last two lacking.
  Job c(with({"--runs", "2", "--seed", "20", "--part-of", "18:9", "--csv", d + "c.csv"}), "c");
  Job e(with({"--runs", "2", "--seed", "23", "--part-of", "18:9", "--csv", d + "e.csv"}), "e");
  for (Job* j : {&c, &e}) {
    ASSERT_TRUE(j->Wait());
    ASSERT_EQ(j->Code(), 0) << Slurp(j->err);
  }
  Job gap({"--merge", d + "e.csv", d + "c.csv", "--csv", d + "gap.csv"}, "gap");
  ASSERT_TRUE(gap.Wait());
  EXPECT_EQ(gap.Code(), 3);
  EXPECT_EQ(Slurp(gap.err),
            "aggsim: the merge holds 4 of the ensemble's 9 runs (seeds 18..26); missing seeds: 18-19,22,25-26\n");
  EXPECT_NE(Slurp(d + "gap.csv").find("# ensemble first 18 runs 9\nseed,"), std::string::npos);
  // A refusal is one line naming the file, the line and the field.
  Job twice({"--merge", d + "a.csv", d + "w.csv"}, "twice");
  ASSERT_TRUE(twice.Wait());
  EXPECT_EQ(twice.Code(), 1);
  EXPECT_EQ(Slurp(twice.err), "aggsim: " + d + "w.csv:5: seed: 20 given twice, also in " + d + "a.csv line 5\n");
  // One file named twice is named so, by whatever spelling.
  Job self({"--merge", d + "a.csv", d + "./a.csv"}, "self");
  ASSERT_TRUE(self.Wait());
  EXPECT_EQ(self.Code(), 1);
  EXPECT_EQ(Slurp(self.err), "aggsim: " + d + "a.csv and " + d + "./a.csv are the same file, given twice\n");
  // Files that cannot be read are named, one line each; a device of
  // endless bytes is refused at its first line, within a bounded memory.
  for (const auto& [name, why] : std::vector<std::pair<std::string, std::string>>{
           {d + "none.csv", "cannot read " + d + "none.csv: No such file or directory"},
           {d, "cannot read " + d + ": it is a folder"},
           {"/dev/zero", "/dev/zero:1: kind: neither an aggsim ensemble table nor its profile"}}) {
    Job unreadable({"--merge", d + "a.csv", name}, "unreadable", [] {
      const rlimit memory{512u << 20, 512u << 20};
      setrlimit(RLIMIT_AS, &memory);
    });
    ASSERT_TRUE(unreadable.Wait());
    EXPECT_EQ(unreadable.Code(), 1) << name;
    EXPECT_EQ(Slurp(unreadable.err), "aggsim: " + why + "\n");
  }
}

// A range past 2^32 - 1 wraps round, locally as in parts, and the merge
// gives the runs in the ensemble's order, as --runs ran them.
TEST(Merge, AWrappedEnsembleIsTheLocalOne) {
  const std::string d = Dir();
  const std::vector<std::string> common = {"--particles", "120", "--jobs", "2", "--part-of", "4294967294:4"};
  const auto with = [&](std::vector<std::string> more) {
    more.insert(more.begin(), common.begin(), common.end());
    return more;
  };
  Job whole({"--particles", "120", "--runs", "4", "--seed", "4294967294", "--csv", d + "ww.csv", "--profile",
             d + "wwp.csv"},
            "wwhole");
  Job a(with({"--runs", "2", "--seed", "4294967294", "--csv", d + "wa.csv", "--profile", d + "wap.csv"}), "wa");
  Job b(with({"--runs", "2", "--seed", "0", "--csv", d + "wb.csv", "--profile", d + "wbp.csv"}), "wb");
  for (Job* j : {&whole, &a, &b}) {
    ASSERT_TRUE(j->Wait());
    ASSERT_EQ(j->Code(), 0) << Slurp(j->err);
  }
  EXPECT_NE(Slurp(whole.out).find("run 3: seed 0,"), std::string::npos) << Slurp(whole.out);
  Job merged({"--merge", d + "wb.csv", d + "wa.csv", d + "wbp.csv", d + "wap.csv", "--csv", d + "wm.csv", "--profile",
              d + "wmp.csv"},
             "wmerged");
  ASSERT_TRUE(merged.Wait());
  ASSERT_EQ(merged.Code(), 0) << Slurp(merged.err);
  EXPECT_EQ(Slurp(merged.err), "");
  EXPECT_EQ(Slurp(merged.out), Slurp(whole.out));
  EXPECT_EQ(Slurp(d + "wm.csv"), Slurp(d + "ww.csv"));
  EXPECT_EQ(Slurp(d + "wmp.csv"), Slurp(d + "wwp.csv"));
  // A part that would leave the ensemble is refused before it runs.
  Job outside(with({"--runs", "2", "--seed", "1"}), "woutside");
  ASSERT_TRUE(outside.Wait());
  EXPECT_EQ(outside.Code(), 2);
  EXPECT_NE(Slurp(outside.err).find("aggsim: --runs 2 from --seed 1 is not within the ensemble of --part-of 4294967294:4\n"),
            std::string::npos)
      << Slurp(outside.err);
}

// The outputs one run writes (--trace without --out-dir) are the
// ensemble's last seed's, in whichever part holds it and in no other.
TEST(Ensemble, APartWritesTheLastSeedsOutputsOnlyWhenItHoldsIt) {
  const std::string d = Dir();
  Job first({"--particles", "100", "--runs", "2", "--seed", "10", "--part-of", "10:4", "--trace", d + "p1.csv"}, "p1");
  Job last({"--particles", "100", "--runs", "2", "--seed", "12", "--part-of", "10:4", "--trace", d + "p2.csv"}, "p2");
  Job alone({"--particles", "100", "--seed", "13", "--trace", d + "p13.csv"}, "p13");
  for (Job* j : {&first, &last, &alone}) {
    ASSERT_TRUE(j->Wait());
    ASSERT_EQ(j->Code(), 0) << Slurp(j->err);
  }
  EXPECT_FALSE(Exists(d + "p1.csv"));
  EXPECT_EQ(Slurp(d + "p2.csv"), Slurp(d + "p13.csv"));
  EXPECT_FALSE(Slurp(d + "p13.csv").empty());
  // A part's profile is its own alone: none of its runs' lands in --out-dir.
  const std::string out = d + "partdir/";
  mkdir(out.c_str(), 0755);
  Job dir({"--particles", "100", "--runs", "2", "--seed", "10", "--part-of", "10:4", "--out-dir", out, "--trace", "t.csv",
           "--profile", d + "part-profile.csv"},
          "partdir");
  ASSERT_TRUE(dir.Wait());
  ASSERT_EQ(dir.Code(), 0) << Slurp(dir.err);
  EXPECT_TRUE(Exists(out + "t-10.csv") && Exists(out + "t-11.csv"));
  EXPECT_FALSE(Exists(out + "part-profile-10.csv") || Exists(out + "part-profile-11.csv"));
  EXPECT_NE(Slurp(d + "part-profile.csv").find("# seeds 10-11\n"), std::string::npos);
}

// --check judges the options and outputs and runs nothing.
TEST(Ensemble, CheckRunsNothing) {
  const std::string d = Dir();
  Job ok({"--runs", "3", "--seed", "1", "--particles", "100000000", "--csv", d + "chk.csv", "--check"}, "chk");
  Job bad({"--runs", "3", "--rule", "radail", "--check"}, "chkbad");
  Job nowhere({"--runs", "3", "--csv", d + "no/such/chk.csv", "--check"}, "chkdir");
  for (Job* j : {&ok, &bad, &nowhere}) ASSERT_TRUE(j->Wait());
  EXPECT_EQ(ok.Code(), 0) << Slurp(ok.err);
  EXPECT_EQ(Slurp(ok.out) + Slurp(ok.err), "");
  EXPECT_FALSE(Exists(d + "chk.csv"));
  EXPECT_EQ(bad.Code(), 2);
  EXPECT_NE(nowhere.Code(), 0);
  EXPECT_NE(Slurp(nowhere.err).find("chk.csv"), std::string::npos) << Slurp(nowhere.err);
}

// The table and the profile are replaced together or not at all: a
// profile that cannot be written (a full device) leaves the old table.
TEST(Merge, TableAndProfileAreReplacedTogether) {
  const std::string d = Dir();
  Job part({"--particles", "100", "--runs", "2", "--seed", "40", "--csv", d + "tp.csv", "--profile", d + "tpp.csv"},
           "tp");
  ASSERT_TRUE(part.Wait());
  ASSERT_EQ(part.Code(), 0) << Slurp(part.err);
  {
    std::ofstream old(d + "kept.csv");
    old << "an older table\n";
  }
  Job full({"--merge", d + "tp.csv", d + "tpp.csv", "--csv", d + "kept.csv", "--profile", "/dev/full"}, "full");
  ASSERT_TRUE(full.Wait());
  EXPECT_EQ(full.Code(), 1);
  EXPECT_NE(Slurp(full.err).find("/dev/full"), std::string::npos) << Slurp(full.err);
  EXPECT_EQ(Slurp(d + "kept.csv"), "an older table\n");
}

// The files in a folder but those named.
std::vector<std::string> Others(const std::string& dir, const std::vector<std::string>& names) {
  std::vector<std::string> found;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string n = e.path().filename().string();
    if (std::find(names.begin(), names.end(), n) == names.end()) found.push_back(n);
  }
  return found;
}

// A merge stopped while it writes leaves no temporary: its table's is
// written while its profile (a FIFO) waits for a reader, and seen at once.
TEST(Merge, StoppedWhileWritingLeavesNoTemporary) {
  const std::string d = Dir() + "stopped/";
  mkdir(d.c_str(), 0755);
  const int runs = 200000;
  std::string table = "# aggsim ensemble table\n# aggsim; particles 1\n# ensemble first 0 runs 200000\n"
                      "seed,stuck,in_picture,launched,final_radius,gyration,dimension,dimension_error\n";
  for (int s = 0; s < runs; ++s) table += std::to_string(s) + ",1,1,1,60,0.5,,\n";
  std::ofstream(d + "big.csv") << table;
  std::ofstream(d + "bigp.csv") << "# aggsim ensemble profile\n# aggsim; particles 1\n# ensemble first 0 runs 200000\n"
                                   "# seeds 0-199999\n# farthest 0.5\nr,runs,mean,sd,sum,sum_squares\n"
                                   "1,200000,1.000000,0.000000,200000,200000\n";
  ASSERT_EQ(mkfifo((d + "fifo").c_str(), 0644), 0);
  const std::vector<std::string> inputs = {"big.csv", "bigp.csv", "fifo"};
  Job writing({"--merge", d + "big.csv", d + "bigp.csv", "--csv", d + "out.csv", "--profile", d + "fifo"}, "writing");
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(kGuardSeconds);
  while (Others(d, inputs).empty() && !Ended(writing.pid) && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  ASSERT_FALSE(Others(d, inputs).empty()) << "the merge wrote nothing";
  kill(writing.pid, SIGTERM);
  ASSERT_TRUE(writing.Wait());
  EXPECT_EQ(writing.Code(), 143);
  EXPECT_EQ(Others(d, inputs), std::vector<std::string>{}) << "the table is replaced only with the profile";
}

// A run of an ensemble asked to stop as it starts (the request waiting,
// blocked, until it can be heard) ends at once and writes nothing.
TEST(Ensemble, ARunStoppedAtItsStartWritesNothing) {
  const std::string d = Dir();
  Job run({"--particles", "300", "--seed", "600", "--trace", d + "tr-600.csv"}, "startup", [] {
    setenv("AGGSIM_ENSEMBLE_RUN", "1", 1);
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    sigprocmask(SIG_BLOCK, &term, nullptr);
    raise(SIGTERM);
  });
  ASSERT_TRUE(run.Wait());
  EXPECT_TRUE(WIFSIGNALED(run.status) && WTERMSIG(run.status) == SIGTERM) << run.Code() << Slurp(run.err);
  EXPECT_FALSE(Exists(d + "tr-600.csv"));
}

// A complete ensemble whose table waits for a reader (a FIFO) and is then
// asked to stop does not call itself interrupted: the stop ends it at once.
TEST(Ensemble, AStopWhileItsTableWaitsIsNoInterruptedEnsemble) {
  const std::string d = Dir();
  const std::string fifo = d + "table.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  Job job({"--runs", "2", "--jobs", "2", "--seed", "3", "--particles", "100", "--csv", fifo}, "fifo");
  ASSERT_TRUE(WaitFor([&] { return Slurp(job.out).find("\n2 runs: ") != std::string::npos; })) << Slurp(job.err);
  kill(job.pid, SIGTERM);
  // A reader, so that a writer still waiting can go on.
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  std::string read;
  ASSERT_TRUE(WaitFor([&] {
    char buf[4096];
    const ssize_t n = ::read(reader, buf, sizeof buf);
    if (n > 0) read.append(buf, static_cast<size_t>(n));
    return waitpid(job.pid, &job.status, WNOHANG) == job.pid;
  }));
  close(reader);
  EXPECT_EQ(Slurp(job.err).find("interrupted"), std::string::npos) << Slurp(job.err);
  EXPECT_TRUE(WIFSIGNALED(job.status) && WTERMSIG(job.status) == SIGTERM);
}

}  // namespace
