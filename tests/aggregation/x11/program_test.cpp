// aggwhite as a user runs it on a Linux desktop: in a terminal (a
// pseudo-terminal the test plays) with its graph window on an X server
// (Xvfb).  Every wait is bounded; a child that outlives its test is killed.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <regex>
#include <string>

#include "tests/graph/x11/xserver.h"
#include "tests/support/posix/pty_child.h"

namespace {

using namespace std::chrono_literals;
using xtest::Probe;
using xtest::Until;
using xtest::XServer;

XServer& SharedServer() {
  static XServer server;
  return server;
}

// aggwhite on an 80 x 24 pseudo-terminal, standard error apart in a pipe, on
// the given display (none when empty); standard input from a pipe when
// asked.  A window takes longer to come than a line of text, hence the
// longer waits.
class Program : public testsupport::PtyChild {
 public:
  explicit Program(const std::string& display, bool stdinPipe = false)
      : PtyChild({.path = AGGWHITE,
                  .argv = {"aggwhite"},
                  .stdinPipe = stdinPipe,
                  .stderrPipe = true,
                  .display = display,
                  .wait = 5s}) {}
  // With the standard handles and job control as given.
  Program(const std::string& display, testsupport::Stream in, testsupport::Stream out, bool jobControl)
      : PtyChild({.path = AGGWHITE,
                  .argv = {"aggwhite"},
                  .stderrPipe = true,
                  .display = display,
                  .wait = 5s,
                  .stdinAs = in,
                  .stdoutAs = out,
                  .jobControl = jobControl}) {}
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

// Keys as the keyboard would give them, through the server's test
// extension (its library loaded where it is installed): a window manager's
// key bindings see them, as they never see events sent to a window.
class Keyboard {
 public:
  explicit Keyboard(Display* dpy) : dpy_(dpy) {
    if (void* lib = dlopen("libXtst.so.6", RTLD_NOW)) fake_ = reinterpret_cast<Fake>(dlsym(lib, "XTestFakeKeyEvent"));
  }
  bool Ready() const { return fake_ != nullptr; }
  // The keys pressed in order, then released in reverse.
  void Chord(std::initializer_list<KeySym> keys) const {
    for (KeySym k : keys) fake_(dpy_, XKeysymToKeycode(dpy_, k), True, 0);
    for (auto k = std::rbegin(keys); k != std::rend(keys); ++k) fake_(dpy_, XKeysymToKeycode(dpy_, *k), False, 0);
    XSync(dpy_, False);
  }

 private:
  using Fake = int (*)(Display*, unsigned, Bool, unsigned long);
  Display* dpy_;
  Fake fake_ = nullptr;
};

TEST_F(Desktop, AltF4IsTheWindowManagersCloseRequestAndDoesWhatTheCloseBoxDoes) {
  XServer server({.windowManager = true});
  if (!server.Ready()) GTEST_SKIP() << "Xvfb or openbox is not installed";
  Probe probe(server.Name());
  Keyboard keyboard(probe.dpy());
  if (!keyboard.Ready()) GTEST_SKIP() << "no libXtst to type with";
  Program program(server.Name());
  ASSERT_TRUE(program.Started());
  const Window w = WindowOf(program, probe);
  ASSERT_NE(w, 0u) << program.err;
  XSetInputFocus(probe.dpy(), w, RevertToParent, CurrentTime);
  XSync(probe.dpy(), False);
  program.Pump([] { return false; }, 300ms);  // the window manager sees the focus
  keyboard.Chord({XK_Alt_L, XK_F4});
  EXPECT_TRUE(program.Pump([&] { return !probe.Exists(w); })) << "the window goes at once";
  EXPECT_EQ(program.Ended(500ms), "running");
  program.Type("k\r");
  EXPECT_EQ(program.Ended(), "exit 0") << program.err;
  EXPECT_EQ(program.err, "");
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

TEST_F(Desktop, StoppedAndContinuedMidGrowthTheProgramStillEndsOnAKeyAndEnter) {
  using testsupport::Stream;
  Probe probe(SharedServer().Name());
  // Standard output elsewhere: the echo's terminal is then opened by name.
  Program program(SharedServer().Name(), Stream::Terminal, Stream::File, /*jobControl=*/true);
  ASSERT_TRUE(program.Started());
  const Window w = WindowOf(program, probe);
  ASSERT_NE(w, 0u) << program.err;
  const termios raw = program.Modes();
  ASSERT_FALSE(raw.c_lflag & ICANON) << "reading keys";
  for (int stop : {SIGTSTP, SIGSTOP}) {
    SCOPED_TRACE(strsignal(stop));
    program.Signal(stop);
    ASSERT_TRUE(program.Pump([&] { return program.Stopped(); }));
    if (stop == SIGTSTP) {
      EXPECT_TRUE(program.ModesAsBefore()) << "the shell has its terminal while the program is stopped";
    }
    program.Signal(SIGCONT);
    ASSERT_TRUE(program.Pump([&] { return !program.Stopped() && testsupport::SameModes(program.Modes(), raw); }));
    int lit = probe.Lit(w);
    EXPECT_TRUE(program.Pump([&] { return probe.Lit(w) > lit + 20; }, 10s)) << "growing again";
  }
  program.Type("x");
  EXPECT_TRUE(program.Pump([&] { return program.out.find('x') != std::string::npos; })) << "the key starts the line";
  program.Type("\r");
  EXPECT_EQ(program.Ended(), "exit 0") << program.err;
  EXPECT_TRUE(program.ModesAsBefore());
  EXPECT_EQ(program.OutputFile(), "");
}

TEST_F(Desktop, WithStandardInputClosedTheRunEndsAtOnceAsAtTheEndOfInput) {
  using testsupport::Stream;
  Program program(SharedServer().Name(), Stream::Closed, Stream::Terminal, /*jobControl=*/false);
  ASSERT_TRUE(program.Started());
  EXPECT_EQ(program.Ended(), "exit 0") << program.err;
  EXPECT_EQ(program.err, "");
  EXPECT_TRUE(program.ModesAsBefore());
}

struct HandlerFailure {
  const char* Arg;
  const char* Error;
  bool SendKey;  // the test presses a key, else the program sends its own
};

// A key handler that fails on the window thread, with a run-time error or
// by running out of stack; and one that fails while the main thread, which
// failed first, is closing the window: every run ends within its time-out
// with one report, the first error's.
TEST_F(Desktop, ARunTimeErrorInAWindowHandlerClosesTheWindowThenReportsItsNumber) {
  const HandlerFailure failures[] = {{"range", "201", true}, {"stack", "202", true}, {"both", "201", false}};
  for (const HandlerFailure& f : failures) {
    SCOPED_TRACE(f.Arg);
#ifdef __SANITIZE_THREAD__
    // The thread sanitizer never learns of a thread that ends by the system
    // call, and its join waits for it for ever.
    if (std::strcmp(f.Arg, "both") == 0) continue;
#endif
    Probe probe(SharedServer().Name());
    testsupport::PtyChild program({.path = HANDLER_ERROR,
                                   .argv = {"handler_error", f.Arg},
                                   .stdinPipe = true,
                                   .stderrPipe = true,
                                   .display = SharedServer().Name(),
                                   .wait = 20s});
    ASSERT_TRUE(program.Started());
    Window w = 0;
    if (f.SendKey) {
      ASSERT_TRUE(program.Pump([&] { return (w = probe.WindowOf(program.Pid())) != 0 && probe.Viewable(w); }))
          << program.err;
      probe.SendKey(w, XK_a, true);
    }
    EXPECT_EQ(program.Ended(), std::string("exit ") + f.Error) << program.out << program.err;
    // The exit procedures took the window away before the report, which
    // names where the handler failed and its callers.
    const std::regex report("window closed\r\nRuntime error " + std::string(f.Error) +
                            " at 0x([0-9A-F]{8})\r\n  0x\\1\r\n(  0x[0-9A-F]{8}\r\n)*\r\n");
    // The terminal console's cursor question may come first.
    std::string out = program.out;
    if (out.starts_with(testsupport::kAskCursor)) out.erase(0, std::strlen(testsupport::kAskCursor));
    EXPECT_TRUE(std::regex_match(out, report)) << program.out;
    // After a stack overflow a sanitizer's build warns of the change of
    // stacks; nothing else is written there.
    if (std::strcmp(f.Arg, "stack") != 0) {
      EXPECT_EQ(program.err, "");
    }
    if (w != 0) {
      EXPECT_FALSE(probe.Exists(w));
    }
  }
}

// The window on a server of every true-colour depth: the aggregate on the
// screen, and the run's end as on any other.
class Depth : public Desktop, public testing::WithParamInterface<int> {};

TEST_P(Depth, TheAggregateShowsAndTheRunEndsOnAKeyAndEnter) {
  XServer server({.depth = GetParam()});
  if (!server.Ready()) GTEST_SKIP() << "Xvfb cannot make a " << GetParam() << "-bit screen here";
  Probe probe(server.Name());
  ASSERT_EQ(DefaultDepth(probe.dpy(), 0), GetParam());
  Program program(server.Name());
  ASSERT_TRUE(program.Started());
  const Window w = WindowOf(program, probe);
  ASSERT_NE(w, 0u) << program.err;
  // The seed and the first particles round it, read from the screen.
  auto litNearSeed = [&] {
    int n = 0;
    for (unsigned long p : probe.Pixels(w, 512 - 8, 384 - 8, 17, 17)) n += p != 0;
    return n;
  };
  EXPECT_TRUE(program.Pump([&] { return litNearSeed() >= 4; }, 10s)) << litNearSeed();
  EXPECT_NE(probe.Pixel(w, 512, 384), 0u) << "the seed";
  program.Type("x");
  EXPECT_TRUE(program.Pump([&] { return program.out.find('x') != std::string::npos; }));
  program.Type("\r");
  EXPECT_EQ(program.Ended(), "exit 0") << program.err;
  EXPECT_EQ(program.err, "");
  EXPECT_TRUE(program.ModesAsBefore());
}

INSTANTIATE_TEST_SUITE_P(Displays, Depth, testing::Values(16, 24, 30),
                         [](const testing::TestParamInfo<int>& i) { return std::to_string(i.param) + "bit"; });

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  xtest::InstallQuietHandlers();
  return RUN_ALL_TESTS();
}
