// The headless runner as a user meets it: its output files on every kind of
// path, its failures before and after a run, signals, and its progress line
// on a narrow terminal.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/posix/process.h"
#include "tests/support/posix/pty_child.h"
#include "tests/support/posix/scratch_dir.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kAggsim = AGGSIM;

using testsupport::Slurp;

size_t Lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

using testsupport::Ran;

// A started runner with its standard output and error in pipes.
class Started : public testsupport::Process {
 public:
  explicit Started(std::vector<std::string> args, int stdoutFd = -1, const std::string& program = kAggsim)
      : Process({.argv = WithProgram(std::move(args), program), .stdoutFd = stdoutFd}) {}

 private:
  static std::vector<std::string> WithProgram(std::vector<std::string> args, const std::string& program) {
    args.insert(args.begin(), program);
    return args;
  }
};

Ran RunAggsim(std::vector<std::string> args) { return Started(std::move(args)).Wait(); }

class RunnerFiles : public testsupport::ScratchDirTest {};

TEST(RunnerArgs, UnknownOptionsStrayWordsAndEmptyOrRepeatedNames) {
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--seed", "1", "--bogus"}, "aggsim: unknown option --bogus\n"},
      {{"--bogus", "--seed", "1"}, "aggsim: unknown option --bogus\n"},
      {{"--seed", "1", "extra"}, "aggsim: unexpected argument extra\n"},
      {{"--seed"}, "aggsim: missing value for --seed\n"},
      {{"--trace", ""}, "aggsim: an empty file name for --trace\n"},
      {{"--png", "/tmp/same.out", "--trace", "/tmp/./same.out"}, "aggsim: --png and --trace name the same file\n"},
      {{"--png", "-", "--trace", "/dev/stdout"}, "aggsim: --png and --trace name the same file\n"},
  };
  for (const auto& c : cases) {
    const Ran r = RunAggsim(c.args);
    EXPECT_EQ(r.code(), 2) << c.says;
    // The reason, then where to look: never the whole usage, which would bury it.
    EXPECT_EQ(r.err, std::string(c.says) + "Try 'aggsim --help'.\n");
  }
  EXPECT_NE(access("/tmp/same.out", F_OK), 0) << "nothing is written for a refused command";
}

TEST_F(RunnerFiles, BadOutputsFailBeforeTheRunStarts) {
  // A run this long would take hours: each must be refused at once.
  const std::vector<std::string> endless{"--seed", "1", "--particles", "10000000"};
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"--trace", dir},
           {"--png", dir + "/missing/x.png"},
           {"--trace", dir + "/file/x.csv"},
           {"--png", dir + "/loop"}}) {
    std::ofstream(dir + "/file") << "";
    unlink((dir + "/loop").c_str());
    ASSERT_EQ(symlink("loop", (dir + "/loop").c_str()), 0);
    std::vector<std::string> args = endless;
    args.insert(args.end(), bad.begin(), bad.end());
    const Ran r = RunAggsim(args);
    EXPECT_EQ(r.code(), 1) << bad[1];
    // Refused before the run: a run this long would not end for hours.
    EXPECT_LT(r.seconds, 60.0) << bad[1];
    EXPECT_EQ(Lines(r.err), 1u) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(Entries(), (std::set<std::string>{"file", "loop"}));
}

TEST_F(RunnerFiles, AFailedSummaryWriteIsAFailure) {
  const int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  const Ran r = Started({"--seed", "1", "--particles", "20", "--stats"}, full).Wait();
  close(full);
  EXPECT_EQ(r.code(), 1);
  EXPECT_EQ(r.err, "aggsim: cannot write the summary: No space left on device\n");
}

// The help, as any output, fails when it cannot be written.
TEST_F(RunnerFiles, AFailedHelpWriteIsAFailure) {
  const int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  const Ran r = Started({"--help"}, full).Wait();
  close(full);
  EXPECT_EQ(r.code(), 1);
  EXPECT_EQ(r.err, "aggsim: cannot write the help: No space left on device\n");
}

// --out-dir makes its folder, parents included, as mkdir -p would; a folder
// that cannot be made is one line and exit code 1, before any run.
TEST_F(RunnerFiles, TheRunsFolderIsMadeAsMkdirWould) {
  const Ran made = RunAggsim({"--runs", "2", "--jobs", "1", "--seed", "7", "--particles", "20", "--out-dir",
                              dir + "/runs/a", "--png", "dla.png"});
  ASSERT_EQ(made.code(), 0) << made.err;
  EXPECT_EQ(Slurp(dir + "/runs/a/dla-7.png").substr(1, 3), "PNG");
  EXPECT_EQ(Slurp(dir + "/runs/a/dla-8.png").substr(1, 3), "PNG");
  const Ran again = RunAggsim({"--runs", "1", "--seed", "7", "--particles", "20", "--out-dir", dir + "/runs/a",
                               "--png", "dla.png"});
  EXPECT_EQ(again.code(), 0) << "a folder already there is used: " << again.err;
  std::ofstream(dir + "/file") << "";
  const Ran refused = RunAggsim({"--runs", "1", "--seed", "7", "--particles", "20", "--out-dir",
                                 dir + "/file/runs", "--png", "dla.png"});
  EXPECT_EQ(refused.code(), 1);
  EXPECT_EQ(refused.err.rfind("aggsim: cannot make the folder " + dir + "/file/runs: ", 0), 0u) << refused.err;
  EXPECT_EQ(Lines(refused.err), 1u) << refused.err;
}

TEST_F(RunnerFiles, RegularFilesAreReplacedWithTheirPermissionsAndLinksFollowed) {
  const std::string trace = dir + "/t.csv", png = dir + "/real.png";
  std::ofstream(trace) << "old\n";
  std::ofstream(png) << "old\n";
  ASSERT_EQ(chmod(trace.c_str(), 0600), 0);
  ASSERT_EQ(symlink("real.png", (dir + "/link.png").c_str()), 0);
  std::ofstream(dir + "/t.csv.part") << "the user's own\n";
  const Ran r = RunAggsim({"--seed", "1", "--particles", "30", "--trace", trace, "--png", dir + "/link.png"});
  ASSERT_EQ(r.code(), 0) << r.err;
  EXPECT_EQ(Lines(Slurp(trace)), 30u);
  struct stat st{};
  ASSERT_EQ(stat(trace.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(Slurp(png).substr(1, 3), "PNG");
  ASSERT_EQ(lstat((dir + "/link.png").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link is written through, not replaced";
  EXPECT_EQ(Slurp(dir + "/t.csv.part"), "the user's own\n");
  EXPECT_EQ(Entries(), (std::set<std::string>{"t.csv", "real.png", "link.png", "t.csv.part"}));
}

TEST_F(RunnerFiles, SpecialFilesAreStreamedInPlace) {
  // A FIFO with a reader.
  const std::string fifo = dir + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string got;
  std::thread reader([&] { got = Slurp(fifo); });
  Ran r = RunAggsim({"--seed", "1", "--particles", "25", "--trace", fifo});
  reader.join();
  EXPECT_EQ(r.code(), 0) << r.err;
  EXPECT_EQ(Lines(got), 25u);
  struct stat st{};
  ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));

  // Standard output by "-" and by /dev/stdout: the summary moves to
  // standard error.
  for (const char* name : {"-", "/dev/stdout"}) {
    r = RunAggsim({"--seed", "1", "--particles", "25", "--trace", name});
    EXPECT_EQ(r.code(), 0) << name;
    EXPECT_EQ(Lines(r.out), 25u) << name;
    EXPECT_NE(r.err.find("stuck 25,"), std::string::npos) << name;
  }

  // A process substitution, through a shell.
  const std::string counted = dir + "/counted";
  const std::string cmd = "bash -c '" + kAggsim + " --seed 1 --particles 25 --trace >(wc -l >" + counted +
                          ") >/dev/null; s=$?; wait; exit $s'";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  // The substitution's reader may end after the shell does.
  for (const auto end = Clock::now() + 60s; Slurp(counted).empty() && Clock::now() < end;)
    std::this_thread::sleep_for(20ms);
  EXPECT_EQ(Slurp(counted), "25\n");
  EXPECT_EQ(Entries(), (std::set<std::string>{"fifo", "counted"}));
}

TEST_F(RunnerFiles, DeviceNodesStayDevices) {
  // Device nodes of its own, on a file system of its own in a mount
  // namespace of its own, so that nothing of the machine's is at risk.
  if (geteuid() != 0 || std::system("unshare --mount true 2>/dev/null") != 0)
    GTEST_SKIP() << "needs root and a mount namespace";
  const std::string script =
      "set -e; mount -t tmpfs tmpfs " + dir + "; cd " + dir + "; mknod null c 1 3; mknod full c 1 7; " + kAggsim +
      " --seed 1 --particles 20 --trace null >/dev/null; test -c null; " +
      "if " + kAggsim + " --seed 1 --particles 20 --png full >/dev/null 2>err; then exit 3; fi; test -c full; " +
      "grep -q 'cannot write full: No space left on device' err; ls -A | sort | tr '\\n' ' ' >&2";
  const std::string cmd = "unshare --mount --propagation private sh -c \"" + script + "\" 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string said;
  char buf[256];
  while (fgets(buf, sizeof buf, p)) said += buf;
  EXPECT_EQ(pclose(p), 0) << said;
  EXPECT_EQ(said, "err full null ") << "no temporary on the device's file system";
}

TEST_F(RunnerFiles, CtrlCWritesWhatGrewAndExitsWith130) {
  if (testsupport::UnderUserModeEmulator())
    GTEST_SKIP() << "under an emulator the moment the runner can catch a signal cannot be told from outside";
  for (const int sig : {SIGINT, SIGTERM}) {
    const std::string trace = dir + "/t.csv", png = dir + "/p.png";
    Started run({"--seed", "5", "--particles", "100000000", "--trace", trace, "--png", png, "--stats"});
    ASSERT_TRUE(run.WaitUntilCatches(sig));
    run.Signal(sig);
    const Ran r = run.Wait();
    EXPECT_EQ(r.code(), 128 + sig);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex("^stuck ([0-9]+),"))) << r.out;
    const size_t stuck = std::stoul(m[1]);
    EXPECT_GT(stuck, 0u);
    EXPECT_EQ(Lines(Slurp(trace)), stuck) << "the trace holds every particle stuck";
    // Early in a white run every particle is in the picture, beside the seed.
    EXPECT_NE(r.out.find("aggregate pixels " + std::to_string(stuck + 1) + ","), std::string::npos) << r.out;
    EXPECT_EQ(Slurp(png).substr(1, 3), "PNG");
    EXPECT_NE(r.err.find("interrupted"), std::string::npos) << r.err;
    EXPECT_EQ(Entries(), (std::set<std::string>{"t.csv", "p.png"}));
  }
}

TEST_F(RunnerFiles, ASignalWhileWritingLeavesNoTemporary) {
  // The trace's FIFO has no reader, so the runner waits there with the
  // picture's temporary made: a signal then ends it at once.
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    const std::string fifo = dir + "/fifo", png = dir + "/p.png";
    std::ofstream(png) << "old\n";
    mkfifo(fifo.c_str(), 0600);
    Started run({"--seed", "5", "--particles", "50", "--png", png, "--trace", fifo});
    for (const auto end = Clock::now() + 60s; !TemporaryPresent() && Clock::now() < end;)
      std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(TemporaryPresent());
    run.Signal(sig);
    const Ran r = run.Wait();
    EXPECT_EQ(r.code(), 1000 + sig) << "ended by the signal itself";
    EXPECT_EQ(Entries(), (std::set<std::string>{"fifo", "p.png"}));
    EXPECT_EQ(Slurp(png), "old\n");
  }
  // A first Ctrl-C stops the run, a second while it writes ends it.
  if (testsupport::UnderUserModeEmulator())
    GTEST_SKIP() << "under an emulator the moment the runner can catch a signal cannot be told from outside";
  const std::string fifo = dir + "/fifo";
  Started run({"--seed", "5", "--particles", "100000000", "--png", dir + "/p.png", "--trace", fifo});
  ASSERT_TRUE(run.WaitUntilCatches(SIGINT));
  run.Signal(SIGINT);
  for (const auto end = Clock::now() + 60s; !TemporaryPresent() && Clock::now() < end;)
    std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(TemporaryPresent());
  run.Signal(SIGINT);
  EXPECT_EQ(run.Wait().code(), 1000 + SIGINT);
  EXPECT_EQ(Entries(), (std::set<std::string>{"fifo", "p.png"}));
}

TEST(RunnerMemory, AScreenTooLargeForTheMemoryIsNamed) {
  const std::string cmd = "ulimit -v 600000; " + kAggsim + " --screen 12000x12000 --particles 5 2>&1; echo \"rc=$?\"";
  FILE* p = popen(("bash -c '" + cmd + "'").c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string said;
  char buf[256];
  while (fgets(buf, sizeof buf, p)) said += buf;
  pclose(p);
  EXPECT_TRUE(std::regex_match(said, std::regex("aggsim: not enough memory for a 12000 x 12000 screen [^\n]*\nrc=1\n")))
      << said;
}

// Each redraw of the progress line on a 40-column terminal.
std::vector<std::string> Frames(const std::string& out) {
  std::vector<std::string> frames;
  for (size_t at = 0; (at = out.find('\r', at)) != std::string::npos;) {
    const size_t end = out.find_first_of("\r\x1b", at + 1);
    frames.push_back(out.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1));
    at = end == std::string::npos ? out.size() : end;
  }
  return frames;
}

TEST(RunnerProgress, FitsANarrowTerminalDroppingTheLesserFiguresFirst) {
  // Long enough for several redraws and a time left: 14 s here, and a tenth
  // of the particles under an emulator, which walks a hundred times slower.
  const std::string count = testsupport::UnderUserModeEmulator() ? "2000" : "20000";
  testsupport::PtyChild child({.path = kAggsim,
                               .argv = {"aggsim", "--seed", "3", "--particles", count},
                               .stdoutToFile = true,
                               .columns = 40,
                               .wait = 900s});
  ASSERT_TRUE(child.Started());
  EXPECT_EQ(child.Ended(), "exit 0");
  const std::vector<std::string> frames = Frames(child.out);
  ASSERT_GT(frames.size(), 2u) << child.out;
  bool sawLeft = false;
  for (const std::string& f : frames) {
    EXPECT_LE(f.size(), 39u) << f;
    if (f.empty()) continue;
    EXPECT_TRUE(std::regex_search(f, std::regex("^[0-9]+/" + count + " stuck"))) << "the count stays, the bar goes: " << f;
    sawLeft = sawLeft || f.find(" s left") != std::string::npos;
  }
  EXPECT_TRUE(sawLeft) << "the time left comes before the radius and the speed";
  EXPECT_NE(child.OutputFile().find("stuck " + count + ","), std::string::npos);
}

TEST(RunnerProgress, NoDebrisInATmuxPaneOf40Columns) {
  if (std::system("command -v tmux >/dev/null") != 0) GTEST_SKIP() << "no tmux";
  const std::string session = "aggsim" + std::to_string(getpid());
  const std::string sock = "-L " + session;
  ASSERT_EQ(std::system(("tmux " + sock + " new-session -d -s " + session + " -x 40 -y 12 '" + kAggsim +
                         " --seed 3 --particles 30000 --stats 2>&1 >/dev/null; sleep 30'")
                            .c_str()),
            0);
  auto capture = [&] {
    std::string text;
    FILE* p = popen(("tmux " + sock + " capture-pane -p -t " + session).c_str(), "r");
    char buf[256];
    while (p && fgets(buf, sizeof buf, p)) text += buf;
    if (p) pclose(p);
    return text;
  };
  // Watched until the line shows and for a few redraws after; the run (30000
  // particles) outlasts that on any machine, and the server is killed after.
  std::vector<std::string> seen;
  const auto watch = [&](const std::function<bool(const std::string&)>& until) {
    bool met = false;
    int after = 0;
    for (const auto end = Clock::now() + 60s; Clock::now() < end && after < 10;) {
      std::this_thread::sleep_for(150ms);
      seen.push_back(capture());
      met = met || until(seen.back());
      if (met) ++after;
    }
    return met;
  };
  EXPECT_TRUE(watch([](const std::string& pane) { return pane.find("stuck") != std::string::npos; }));
  // Made wider, the terminal has room for every figure again.
  ASSERT_EQ(std::system(("tmux " + sock + " resize-window -t " + session + " -x 120").c_str()), 0);
  const bool wide = watch([](const std::string& pane) { return pane.find("steps/s") != std::string::npos; });
  (void)!std::system(("tmux " + sock + " kill-server").c_str());
  EXPECT_TRUE(wide) << "redrawn for the new width:\n" << seen.back();
  int withLine = 0;
  for (const std::string& pane : seen) {
    std::vector<std::string> rows;
    for (size_t s = 0, e; (e = pane.find('\n', s)) != std::string::npos; s = e + 1) rows.push_back(pane.substr(s, e - s));
    int stuckRows = 0;
    for (const std::string& row : rows)
      if (row.find("stuck") != std::string::npos) ++stuckRows;
    EXPECT_LE(stuckRows, 1) << "one line, redrawn in place:\n" << pane;
    for (size_t i = 1; i < rows.size(); ++i) EXPECT_EQ(rows[i].find_first_not_of(' '), std::string::npos) << pane;
    withLine += stuckRows;
  }
  EXPECT_GT(withLine, 0) << "the line was seen";
}

// A terminal that cannot erase to the end of a line (TERM=dumb, as Emacs'
// shell and many CI logs have it, or no TERM at all) gets no escape
// sequence: the line is redrawn over itself and blanked at the end with
// carriage returns and spaces.  Any other terminal is erased to the end.
TEST(RunnerProgress, ATerminalThatCannotEraseGetsCarriageReturnsAndSpaces) {
  const struct {
    std::vector<std::string> env;
    bool erases;
  } cases[] = {{{"TERM=dumb"}, false}, {{"-u", "TERM"}, false}, {{"TERM="}, false}, {{"TERM=xterm"}, true}};
  for (const auto& c : cases) {
    std::vector<std::string> argv{"env"};
    argv.insert(argv.end(), c.env.begin(), c.env.end());
    argv.insert(argv.end(), {kAggsim, "--seed", "3", "--particles", "3000"});
    testsupport::PtyChild child({.path = "/usr/bin/env", .argv = argv, .stdoutToFile = true, .columns = 100, .wait = 60s});
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(child.Ended(), "exit 0");
    const std::string& out = child.out;
    SCOPED_TRACE(c.env.back());
    ASSERT_NE(out.find(" stuck"), std::string::npos) << "a progress line was shown: " << out;
    if (c.erases) {
      EXPECT_NE(out.find("\x1b[K"), std::string::npos) << out;
      continue;
    }
    EXPECT_EQ(out.find('\x1b'), std::string::npos) << "no escape sequence: " << out;
    // Cleared at the end: the last line drawn is overwritten by as many
    // spaces, and the cursor goes back to the start of the line.
    const size_t last = out.rfind(" stuck");
    const size_t lineStart = out.rfind('\r', last) + 1;
    const size_t lineEnd = out.find('\r', last);
    ASSERT_NE(lineEnd, std::string::npos) << out;
    const std::string blank = "\r" + std::string(lineEnd - lineStart, ' ') + "\r";
    EXPECT_EQ(out.substr(lineEnd), blank) << "what followed the last line: " << out.substr(lineEnd);
  }
}

TEST(RunnerProgress, TheTimeLeftIsShownAndFitsTheRun) {
  // A run whose particles grow dearer as the aggregate grows, long enough
  // (several seconds on a quiet machine) that an estimate is shown after two
  // seconds: that estimate against the end it foretold.  The estimate itself
  // is judged against recorded progress in io_tests; on a machine whose
  // load comes and goes, this whole run can only be held to a loose factor.
  testsupport::PtyChild child({.path = kAggsim,
                               .argv = {"aggsim", "--seed", "3", "--particles", "20000"},
                               .stdoutToFile = true,
                               .columns = 100,
                               .wait = 120s});
  ASSERT_TRUE(child.Started());
  const auto t0 = Clock::now();
  const auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - t0).count(); };
  ASSERT_TRUE(child.Pump([&] { return elapsed() > 2.0; }, 10s));
  child.out.clear();
  std::smatch m;
  const std::regex left("([0-9]+) s left");
  ASSERT_TRUE(child.Pump([&] { return std::regex_search(child.out, m, left); }, 10s)) << child.out;
  const double foretold = elapsed() + std::stod(m[1]);
  EXPECT_EQ(child.Ended(120s), "exit 0");
  const double took = elapsed();
  EXPECT_GT(foretold / took, 0.2) << "foretold " << foretold << " s, took " << took << " s";
  EXPECT_LT(foretold / took, 5.0) << "foretold " << foretold << " s, took " << took << " s";
}

}  // namespace

namespace {

// aggbench as a user meets it: its help on standard output and exit code
// 0; a bad value named, then the usage, exit code 2; and, copied away from
// its helper, a live-window line that says the helper was not found and where
// it was looked for.
TEST_F(RunnerFiles, TheBenchmarksHelpMistakesAndMissingHelper) {
  for (const char* ask : {"--help", "-h", "/?"}) {
    const Ran r = Started({ask}, -1, AGGBENCH).Wait();
    EXPECT_EQ(r.code(), 0) << ask;
    EXPECT_EQ(r.out.rfind("usage: aggbench ", 0), 0u) << ask << ": " << r.out;
    EXPECT_NE(r.out.find("--rounds N"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "") << ask;
  }
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"--rounds", "0"}, {"--particles", "0"}, {"--seed", "99999999999"}}) {
    const Ran r = Started(bad, -1, AGGBENCH).Wait();
    EXPECT_EQ(r.code(), 2) << bad[0];
    EXPECT_EQ(r.err, "aggbench: bad value for " + bad[0] + ": " + bad[1] + "\nTry 'aggbench --help'.\n");
    EXPECT_EQ(r.out, "");
  }
  ASSERT_EQ(std::system(("cp '" + std::string(AGGBENCH) + "' '" + dir + "/aggbench'").c_str()), 0);
  const std::string cmd = "DISPLAY=:none '" + dir + "/aggbench' --particles 20 --rounds 1 > '" + dir + "/out' 2>&1";
  (void)!std::system(cmd.c_str());
  const std::string out = Slurp(dir + "/out");
  EXPECT_NE(out.find("4 shipped, X11      not measured (aggbench_x11 not found in " + dir + " and " +
                     dir.substr(0, dir.rfind('/')) + "/lib/aggregation)"),
            std::string::npos)
      << out;
  // Figures that cannot be written are a failure, not a measurement.
  const int status = std::system(
      ("DISPLAY=:none '" + dir + "/aggbench' --particles 20 --rounds 1 > /dev/full 2> '" + dir + "/err'").c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_EQ(Slurp(dir + "/err"), "aggbench: cannot write the figures: No space left on device\n");
}

TEST_F(RunnerFiles, TheBenchmarkStartsItsChildWithoutAShell) {
  // A build folder whose name a shell would run, and a stand-in for the
  // desktop build that tells what it was given.
  const std::string folder = dir + "/a b $(touch PWNED)";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  ASSERT_EQ(std::system(("cp '" + std::string(AGGBENCH) + "' '" + folder + "/aggbench'").c_str()), 0);
  std::ofstream(folder + "/aggbench_x11") << "#!/bin/sh\nprintf '%s|' \"$@\" > \"$(dirname \"$0\")/../args\"\n"
                                             "echo 123 0.5 42 0.00002\n";
  ASSERT_EQ(chmod((folder + "/aggbench_x11").c_str(), 0755), 0);
  const std::string cmd = "cd '" + dir + "' && DISPLAY=:none '" + folder +
                          "/aggbench' --particles 20 --rounds 1 > out 2>&1";
  (void)!std::system(cmd.c_str());
  EXPECT_EQ(access((dir + "/PWNED").c_str(), F_OK), -1) << "no command ran from the folder's name";
  EXPECT_EQ(Slurp(dir + "/args"), "--child|--seed|12345|--particles|20|--rounds|1|");
  const std::string out = Slurp(dir + "/out");
  EXPECT_TRUE(std::regex_search(out, std::regex("4 shipped, X11 +246 steps/s"))) << out;
  // The helper's cost of one drawn pixel sets the bound printed for 4/3.
  EXPECT_TRUE(std::regex_search(out, std::regex("one pixel drawn on the live window 20\\.0 us, one particle's walk "
                                                "[0-9.]+ us: 4/3 at most 0\\.[0-9]{3}\n")))
      << out;
}

}  // namespace
