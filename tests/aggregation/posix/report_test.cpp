// Whole processes ending by run-time errors: the report's lines on a
// file, a terminal and a full device, and the exit code in each case.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/posix/process.h"

namespace {

struct Ended {
  int code = -1;
  std::string out;
};

enum class Sink { Pipe, Pty, DevFull };

// Runs argv with standard output (and standard error too, when asked) on
// the given sink, in an address space limited to addressSpace bytes when
// given; returns its exit code and what it wrote there.
Ended RunProcess(std::vector<std::string> args, Sink sink, bool withStderr = false, rlim_t addressSpace = 0) {
  testsupport::ProcessOptions options{.argv = std::move(args), .stderrToStdout = withStderr, .addressSpace = addressSpace};
  int master = -1;
  if (sink == Sink::Pty) {
    if (openpty(&master, &options.stdoutFd, nullptr, nullptr, nullptr) != 0) return {};
  } else if (sink == Sink::DevFull) {
    options.stdoutFd = open("/dev/full", O_WRONLY | O_CLOEXEC);
  }
  testsupport::Process process(options);
  if (options.stdoutFd >= 0) close(options.stdoutFd);
  Ended e;
  if (master >= 0) {
    // A terminal's reader sees the end as an error once the program closes it.
    char buf[4096];
    for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;) e.out.append(buf, static_cast<size_t>(n));
    close(master);
  }
  const testsupport::Ran r = process.Wait();
  if (sink == Sink::Pipe) e.out = r.out;
  e.code = r.code();
  return e;
}

// Splits a report into its lines, CR LF or LF, checking its shape: the
// error line, the same address again, frame lines, an empty line.
std::vector<std::string> ReportLines(std::string out, int error) {
  out = std::regex_replace(out, std::regex("\r\n"), "\n");
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(out.substr(start, end - start));
  std::smatch m;
  EXPECT_GE(lines.size(), 3u) << out;
  if (lines.size() < 3) return {};
  EXPECT_TRUE(std::regex_match(lines[0], m, std::regex("Runtime error " + std::to_string(error) +
                                                       " at 0x([0-9A-F]{8})")))
      << lines[0];
  EXPECT_EQ(lines[1], "  0x" + m[1].str());
  for (size_t i = 2; i + 1 < lines.size(); ++i) EXPECT_TRUE(std::regex_match(lines[i], std::regex("  0x[0-9A-F]{8}")));
  EXPECT_EQ(lines.back(), "");
  return lines;
}

const std::string kAggsim = AGGSIM;
const std::string kDeep = DEEP_ERROR;

TEST(Report, RangeErrorInTheWalkAndInTheMainProgram) {
  // Launched inside the 16-bit range, the walk runs into its edge: the
  // report names the walk, the main program and the start routine.
  const Ended walk = RunProcess({kAggsim, "--seed", "1", "--start-radius", "32000"}, Sink::Pipe);
  EXPECT_EQ(walk.code, 201);
  EXPECT_EQ(ReportLines(walk.out, 201).size(), 5u) << walk.out;
  // A launch radius no launch point fits fails in the main program itself.
  const Ended launch = RunProcess({kAggsim, "--seed", "1", "--start-radius", "50000"}, Sink::Pipe);
  EXPECT_EQ(launch.code, 201);
  EXPECT_EQ(ReportLines(launch.out, 201).size(), 4u) << launch.out;
  // The same run gives the same bytes.
  EXPECT_EQ(RunProcess({kAggsim, "--seed", "1", "--start-radius", "50000"}, Sink::Pipe).out, launch.out);
}

TEST(Report, FrameLinesAreLimitedOnATerminalOnly) {
  const Ended file = RunProcess({kDeep, "300"}, Sink::Pipe);
  EXPECT_EQ(file.code, 201);
  EXPECT_EQ(ReportLines(file.out, 201).size(), 2u + 257u + 1u);
  const Ended shallow = RunProcess({kDeep, "3"}, Sink::Pipe);
  // Descend four times, then the start routine's caller line.
  EXPECT_EQ(ReportLines(shallow.out, 201).size(), 2u + 5u + 1u) << shallow.out;
  const Ended tty = RunProcess({kDeep, "300"}, Sink::Pty);
  EXPECT_EQ(tty.code, 201);
  EXPECT_EQ(ReportLines(tty.out, 201).size(), 2u + 9u + 1u);
}

// Runs argv with standard output and standard error each into a file of
// its own; the exit code and both texts.
struct Split {
  int code = -1;
  std::string out, err;
};
Split RunSplit(std::vector<std::string> args) {
  char outName[] = "/tmp/agg-out-XXXXXX", errName[] = "/tmp/agg-err-XXXXXX";
  const int out = mkstemp(outName), err = mkstemp(errName);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  Split r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  for (auto [fd, text] : {std::pair{out, &r.out}, std::pair{err, &r.err}}) {
    char buf[4096];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) text->append(buf, static_cast<size_t>(n));
    close(fd);
  }
  unlink(outName);
  unlink(errName);
  return r;
}

TEST(Report, WithAnOutputOnStandardOutputTheReportGoesToStandardError) {
  // As the summary does: an output read from standard output never holds
  // a report.
  for (const char* output : {"--trace", "--png", "--profile"}) {
    SCOPED_TRACE(output);
    const Split s = RunSplit({kAggsim, "--seed", "1", "--start-radius", "50000", output, "-"});
    EXPECT_EQ(s.code, 201);
    EXPECT_EQ(s.out, "");
    EXPECT_EQ(ReportLines(s.err, 201).size(), 4u) << s.err;
  }
  // Otherwise standard output has it, and standard error nothing.
  const Split plain = RunSplit({kAggsim, "--seed", "1", "--start-radius", "50000"});
  EXPECT_EQ(plain.code, 201);
  EXPECT_EQ(ReportLines(plain.out, 201).size(), 4u) << plain.out;
  EXPECT_EQ(plain.err, "");
}

TEST(Report, AnUnwritableStandardOutputKeepsTheExitCode) {
  EXPECT_EQ(RunProcess({kDeep, "3"}, Sink::DevFull).code, 201);
  EXPECT_EQ(RunProcess({kAggsim, "--seed", "1", "--start-radius", "50000"}, Sink::DevFull).code, 201);
}

TEST(Report, MemoryRunningOutEndsInAnOrderlyWay) {
  if (testsupport::UnderUserModeEmulator())
    GTEST_SKIP() << "under an emulator an address-space limit bounds the emulator's reservation, not the program's heap";
  // A surface too large for the memory left makes no window (exit 1); one
  // that fits with too little left for the rest of the graphics module's
  // maps is heap overflow, 203, with its report.  Never a signal.
  std::vector<int> codes;
  for (rlim_t mib = 1050; mib <= 1500; mib += 64) {
    SCOPED_TRACE(std::to_string(mib) + " MiB");
    const Ended e = RunProcess({kAggsim, "--seed", "1", "--particles", "10", "--screen", "12000x12000"}, Sink::Pipe,
                               false, mib << 20);
    codes.push_back(e.code);
    EXPECT_TRUE(e.code == 0 || e.code == 1 || e.code == 203) << e.code << "\n" << e.out;
    if (e.code == 203) ReportLines(e.out, 203);
  }
  EXPECT_NE(std::find(codes.begin(), codes.end(), 203), codes.end()) << testing::PrintToString(codes);
  EXPECT_EQ(codes.back(), 0) << "enough memory for the whole run";
}

}  // namespace

namespace {

TEST(Runner, BadArgumentsAndUnwritableFiles) {
  for (std::vector<std::string> bad : {std::vector<std::string>{"--bogus"},
                                       {"--particles", "0"},
                                       {"--particles", "12x"},
                                       {"--screen", "10x10"},
                                       {"--rule", "blue"},
                                       {"--screen", "800x420"},  // the seed falls off the surface
                                       {"--seconds", "-1"},
                                       {"--seed"}}) {
    bad.insert(bad.begin(), kAggsim);
    EXPECT_EQ(RunProcess(bad, Sink::Pipe).code, 2) << bad[1];
  }
  const std::string missing = testing::TempDir() + "no/such/dir/t.csv";
  const Ended e = RunProcess({kAggsim, "--seed", "1", "--particles", "5", "--trace", missing}, Sink::Pipe);
  EXPECT_EQ(e.code, 1);
  EXPECT_EQ(e.out, "") << "the error goes to standard error, nothing else is printed";
}

TEST(Runner, ProgressShowsOnATerminalOnly) {
  const std::vector<std::string> run{kAggsim, "--seed", "3", "--particles", "1500"};
  const Ended tty = RunProcess(run, Sink::Pty, true);
  EXPECT_EQ(tty.code, 0);
  EXPECT_TRUE(std::regex_search(tty.out, std::regex("\\[[#.]{24}\\] [0-9]+/1500 stuck  R [0-9]+"))) << tty.out;
  const Ended pipe = RunProcess(run, Sink::Pipe, true);
  EXPECT_EQ(pipe.code, 0);
  EXPECT_EQ(pipe.out.find("stuck  R"), std::string::npos) << pipe.out;
  EXPECT_NE(pipe.out.find("stuck 1500,"), std::string::npos) << pipe.out;
}

TEST(Runner, TimeAndRadiusEndARun) {
  const Ended byRadius = RunProcess({kAggsim, "--seed", "1", "--radius", "90"}, Sink::Pipe);
  EXPECT_EQ(byRadius.code, 0);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(byRadius.out, m, std::regex("R ([0-9.]+),")));
  EXPECT_GE(std::stod(m[1]), 90.0);
  EXPECT_LT(std::stod(m[1]), 93.5) << "the first particle past the radius ends it";

  const Ended byTime = RunProcess({kAggsim, "--seed", "1", "--seconds", "0.5", "--stats"}, Sink::Pipe);
  EXPECT_EQ(byTime.code, 0);
  ASSERT_TRUE(std::regex_search(byTime.out, m, std::regex(", ([0-9.]+) s,")));
  EXPECT_GE(std::stod(m[1]), 0.5);
  EXPECT_LT(std::stod(m[1]), 5.0);
  // How many particles half a second grows depends on the machine (and
  // its sanitizers): the statistics line comes either way.
  EXPECT_NE(byTime.out.find("radius of gyration"), std::string::npos) << byTime.out;
}

}  // namespace
