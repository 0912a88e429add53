// aggwhite as a user runs it on a Linux desktop: in a terminal (a
// pseudo-terminal the test plays) with its graph window on an X server
// (Xvfb).  Every wait is bounded; a child that outlives its test is killed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "tests/graph/x11/xserver.h"

namespace {

using namespace std::chrono_literals;
using xtest::Clock;
using xtest::Probe;
using xtest::Until;
using xtest::XServer;

constexpr const char* kAskCursor = "\x1b[6n";

bool SameModes(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

std::string ExitedWith(int status) {
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("signal ") + strsignal(WTERMSIG(status));
  return "running";
}

XServer& SharedServer() {
  static XServer server;
  return server;
}

// aggwhite with an 80 x 24 pseudo-terminal as its controlling terminal and
// standard handles, standard error apart in a pipe, on the given display
// (none when empty); standard input from a pipe when asked.
class Program {
 public:
  Program(const std::string& display, bool stdinPipe = false) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
    const winsize ws{24, 80, 0, 0};
    if (slave_ < 0 || ioctl(slave_, TIOCSWINSZ, &ws) != 0 || tcgetattr(slave_, &before_) != 0) return;
    int in[2], err[2];
    if (pipe(in) != 0 || pipe(err) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      setsid();
      ioctl(slave_, TIOCSCTTY, 0);
      dup2(stdinPipe ? in[0] : slave_, 0);
      dup2(slave_, 1);
      dup2(err[1], 2);
      for (int fd = 3; fd < 256; ++fd) close(fd);
      const rlimit noCore{0, 0};
      setrlimit(RLIMIT_CORE, &noCore);
      if (display.empty())
        unsetenv("DISPLAY");
      else
        setenv("DISPLAY", display.c_str(), 1);
      execl(AGGWHITE, "aggwhite", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(in[0]);
    close(err[1]);
    pipeIn_ = in[1];
    errPipe_ = err[0];
  }

  ~Program() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {master_, slave_, pipeIn_, errPipe_})
      if (fd >= 0) close(fd);
  }

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }

  // Reads what the program writes, answering cursor queries as a terminal
  // would, until pred holds or `wait` has passed.
  bool Pump(const std::function<bool()>& pred, std::chrono::milliseconds wait = 5s) {
    for (const auto end = Clock::now() + wait; !pred();) {
      if (Clock::now() >= end) return false;
      pollfd fds[2] = {{master_, POLLIN, 0}, {errPipe_, POLLIN, 0}};
      poll(fds, 2, 10);
      for (auto [fd, text] : {std::pair{fds[0], &out}, std::pair{fds[1], &err}}) {
        char buf[4096];
        const ssize_t n = fd.revents & POLLIN ? read(fd.fd, buf, sizeof buf) : 0;
        if (n > 0) text->append(buf, static_cast<size_t>(n));
      }
      for (size_t at; (at = out.find(kAskCursor, asked_)) != std::string::npos; asked_ = at + 1) Type("\x1b[3;1R");
    }
    return true;
  }

  void Type(const std::string& bytes) { ASSERT_EQ(write(master_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
  void CloseInput() {
    close(pipeIn_);
    pipeIn_ = -1;
  }

  // How the program ended, or "running" when it has not within `wait`.
  std::string Ended(std::chrono::milliseconds wait = 5s) {
    int status = 0;
    Pump([&] { return reaped_ = waitpid(pid_, &status, WNOHANG) == pid_; }, wait);
    Pump([] { return false; }, 20ms);  // what it wrote last
    return reaped_ ? ExitedWith(status) : "running";
  }

  bool ModesAsBefore() const {
    termios now{};
    tcgetattr(slave_, &now);
    return SameModes(now, before_);
  }

  std::string out, err;

 private:
  int master_ = -1, slave_ = -1, pipeIn_ = -1, errPipe_ = -1;
  pid_t pid_ = -1;
  bool reaped_ = false;
  size_t asked_ = 0;
  termios before_{};
};

class Desktop : public testing::Test {
 protected:
  void SetUp() override {
    if (!SharedServer().Ready()) GTEST_SKIP() << "Xvfb is not installed";
  }
};

// The program's window once it is on the screen, else 0.
Window WindowOf(Program& program, const Probe& probe) {
  Window w = 0;
  program.Pump([&] { return (w = probe.WindowOf(program.Pid())) != 0 && probe.Viewable(w); });
  return w;
}

TEST_F(Desktop, TheAggregateGrowsInTheWindowUntilAKeyAndEnterInTheTerminal) {
  Probe probe(SharedServer().Name());
  Program program(SharedServer().Name());
  ASSERT_TRUE(program.Started());
  const Window w = WindowOf(program, probe);
  ASSERT_NE(w, 0u) << program.err;
  int first = 0;
  ASSERT_TRUE(program.Pump([&] { return (first = probe.Lit(w)) > 1; })) << "the seed and the first particles";
  int later = 0;
  EXPECT_TRUE(program.Pump([&] { return (later = probe.Lit(w)) > first + 50; }, 10s)) << first << " then " << later;

  // Keys typed into the graph window go nowhere.
  probe.SendKey(w, XK_q, true);
  probe.SendKey(w, XK_q, false);
  probe.SendKey(w, XK_Return, true);
  probe.SendKey(w, XK_Return, false);
  EXPECT_EQ(program.Ended(500ms), "running");

  program.Type("x");
  EXPECT_TRUE(program.Pump([&] { return program.out.find('x') != std::string::npos; })) << "the key starts the line";
  EXPECT_EQ(program.Ended(300ms), "running") << "until Enter";
  program.Type("\r");
  EXPECT_EQ(program.Ended(), "exit 0") << program.err;
  EXPECT_EQ(program.err, "");
  EXPECT_TRUE(program.ModesAsBefore());
  EXPECT_TRUE(Until([&] { return !probe.Exists(w); })) << "CloseGraph took the window away";
}

TEST_F(Desktop, AfterTheCloseBoxTheProgramRunsOnUntilAKeyAndEnter) {
  Probe probe(SharedServer().Name());
  Program program(SharedServer().Name());
  ASSERT_TRUE(program.Started());
  const Window w = WindowOf(program, probe);
  ASSERT_NE(w, 0u) << program.err;
  probe.SendDelete(w);
  EXPECT_TRUE(program.Pump([&] { return !probe.Exists(w); })) << "the window goes at once";
  EXPECT_EQ(program.Ended(500ms), "running");
  program.Type("k\r");
  EXPECT_EQ(program.Ended(), "exit 0") << program.err;
  EXPECT_EQ(program.err, "");
  EXPECT_TRUE(program.ModesAsBefore());
}

TEST_F(Desktop, LosingTheServerLeavesTheProgramRunningUntilAKeyAndEnter) {
  XServer server;
  ASSERT_TRUE(server.Ready());
  Program program(server.Name());
  ASSERT_TRUE(program.Started());
  {
    Probe probe(server.Name());
    ASSERT_NE(WindowOf(program, probe), 0u) << program.err;
  }
  program.Pump([] { return false; }, 300ms);  // growing
  server.Kill();
  EXPECT_EQ(program.Ended(700ms), "running");
  program.Type("k\r");
  EXPECT_EQ(program.Ended(), "exit 0") << program.err;
  EXPECT_TRUE(program.ModesAsBefore());
}

TEST_F(Desktop, WithoutADisplayTheProgramStopsWithTheMessages) {
  Program program("");
  ASSERT_TRUE(program.Started());
  EXPECT_EQ(program.Ended(), "exit 1");
  EXPECT_EQ(program.err,
            "Window creation failed\nError: Not in graphics mode (use InitGraph and test GraphResult afterwards)\n");
  EXPECT_TRUE(program.ModesAsBefore());
}

TEST_F(Desktop, PipedInputEndsTheRunAtItsEnd) {
  Probe probe(SharedServer().Name());
  Program program(SharedServer().Name(), /*stdinPipe=*/true);
  ASSERT_TRUE(program.Started());
  const Window w = WindowOf(program, probe);
  ASSERT_NE(w, 0u) << program.err;
  EXPECT_EQ(program.Ended(300ms), "running") << "an open, empty pipe is no key";
  program.CloseInput();
  EXPECT_EQ(program.Ended(), "exit 0") << program.err;
  EXPECT_TRUE(Until([&] { return !probe.Exists(w); }));
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  xtest::InstallQuietHandlers();
  return RUN_ALL_TESTS();
}
