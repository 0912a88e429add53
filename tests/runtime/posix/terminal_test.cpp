// The terminal console as a user meets it: crt_echo run on a
// pseudo-terminal that the test plays (modes, signals, exit codes, what
// reaches the terminal), and in tmux, a real terminal, for what the screen
// shows.  Every wait is bounded; a child that outlives its test is killed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/posix/pty_child.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testsupport::ExitedWith;
using testsupport::kAskCursor;
using testsupport::PtyChild;
using testsupport::PtyOptions;
using testsupport::SameModes;
using testsupport::Stream;
using testsupport::StreamName;

// What a terminal would print of the output: the escape sequences taken out.
std::string Visible(const std::string& out) {
  std::string text;
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] != '\x1b') {
      text += out[i];
    } else if (i + 1 < out.size() && out[i + 1] == '[') {
      i += 2;
      while (i < out.size() && !(out[i] >= 0x40 && out[i] <= 0x7E)) ++i;
    } else {
      ++i;  // ESC 7, ESC 8, ESC D
    }
  }
  return text;
}

// crt_echo in `mode` on an 80 x 24 pseudo-terminal that answers its cursor
// query with row 3, column 1 unless `o` says otherwise.
PtyOptions CrtEcho(const char* mode, PtyOptions o = {}) {
  o.path = CRT_ECHO;
  o.argv = {"crt_echo", mode};
  return o;
}

TEST(Terminal, ModesAreRestoredHoweverTheProgramEnds) {
  struct Ending {
    const char* what;
    const char* mode;
    std::function<void(PtyChild&)> act;
    std::string ended;
    const char* output;
  };
  const std::vector<Ending> endings = {
      {"Enter", "line", [](PtyChild& c) { c.Type("\r"); }, "exit 0", ""},
      {"Ctrl-C", "line", [](PtyChild& c) { c.Type("\x03"); }, ExitedWith(SIGINT), ""},
      {"SIGTERM", "line", [](PtyChild& c) { c.Signal(SIGTERM); }, ExitedWith(SIGTERM), ""},
      {"SIGHUP", "line", [](PtyChild& c) { c.Signal(SIGHUP); }, ExitedWith(SIGHUP), ""},
      {"run-time error", "runerror", [](PtyChild&) {}, "exit 201", "Runtime error 201 at 0x"},
      {"fault left to the system", "fault", [](PtyChild&) {}, ExitedWith(SIGSEGV), ""},
  };
  for (const Ending& e : endings) {
    SCOPED_TRACE(e.what);
    PtyChild child(CrtEcho(e.mode));
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(child.WaitForOutput(kAskCursor)) << "no cursor query: " << child.out;
    if (std::strcmp(e.mode, "line") == 0) {
      const termios running = child.Modes();
      EXPECT_FALSE(running.c_lflag & (ICANON | ECHO)) << "raw while running";
      EXPECT_TRUE(running.c_lflag & ISIG) << "Ctrl-C still signals";
    }
    e.act(child);
    EXPECT_EQ(child.Ended(), e.ended);
    EXPECT_NE(child.out.find(e.output), std::string::npos) << child.out;
    EXPECT_TRUE(SameModes(child.Modes(), child.ModesBefore()));
  }
}

// ---------------------------------------------------------------- every redirection, every way out

struct WayOut {
  const char* name;
  const char* mode;
  int signal;           // sent once the program has set up the terminal; 0: none
  std::string ended;
  bool report;          // a run-time error report on standard output
};

const WayOut kWaysOut[] = {
    {"normal end", "line", 0, "exit 0", false},
    {"Halt", "halt", 0, "exit 3", false},
    {"run-time error", "runerror", 0, "exit 201", true},
    {"SIGINT", "spin", SIGINT, ExitedWith(SIGINT), false},
    {"SIGTERM", "spin", SIGTERM, ExitedWith(SIGTERM), false},
    {"SIGHUP", "spin", SIGHUP, ExitedWith(SIGHUP), false},
    {"SIGQUIT", "spin", SIGQUIT, ExitedWith(SIGQUIT), false},
    {"fault left to the system", "fault", 0, ExitedWith(SIGSEGV), false},
};

class EveryRedirection : public testing::TestWithParam<WayOut> {};

// The terminal as it was, the exit as asked, and the report (if any) where
// standard output goes and nowhere else, whatever the three handles are.
TEST_P(EveryRedirection, LeavesTheTerminalAsItWas) {
  const WayOut& way = GetParam();
  constexpr Stream kInputs[] = {Stream::Terminal, Stream::File, Stream::Pipe, Stream::Null, Stream::Closed};
  constexpr Stream kOutputs[] = {Stream::Terminal, Stream::File, Stream::Pipe,
                                 Stream::Null,     Stream::Closed, Stream::BrokenPipe};
  for (Stream in : kInputs)
    for (Stream out : kOutputs)
      for (Stream err : kOutputs) {
        SCOPED_TRACE(std::string("stdin ") + StreamName(in) + ", stdout " + StreamName(out) + ", stderr " +
                     StreamName(err));
        PtyChild child(CrtEcho(way.mode, {.stdinAs = in, .stdoutAs = out, .stderrAs = err, .inputFile = "k\n"}));
        ASSERT_TRUE(child.Started());
        ASSERT_TRUE(child.WaitForOutput(kAskCursor)) << "the terminal is always asked: " << child.out;
        if (way.signal != 0) {
          ASSERT_TRUE(child.WaitForOutput("~")) << "polling for keys";
          child.Signal(way.signal);
        } else if (std::strcmp(way.mode, "line") == 0 && in == Stream::Terminal) {
          child.Type("k\r");
        } else if (std::strcmp(way.mode, "line") == 0 && in == Stream::Pipe) {
          child.Feed("k\n");
        }
        EXPECT_EQ(child.Ended(), way.ended);
        EXPECT_TRUE(SameModes(child.Modes(), child.ModesBefore()));
        const std::string where[] = {Visible(child.out), child.outPipe, child.err,
                                     out == Stream::File ? child.FileText(1) : "",
                                     err == Stream::File ? child.FileText(2) : ""};
        const bool toTerminal = out == Stream::Terminal, toPipe = out == Stream::Pipe, toFile = out == Stream::File;
        const bool expected[] = {toTerminal, toPipe, false, toFile, false};
        for (size_t i = 0; i < std::size(where); ++i)
          EXPECT_EQ(where[i].find("Runtime error 201 at 0x") != std::string::npos, way.report && expected[i])
              << "place " << i << ": " << testing::PrintToString(where[i]);
        if (HasFailure()) return;
      }
}

INSTANTIATE_TEST_SUITE_P(Terminal, EveryRedirection, testing::ValuesIn(kWaysOut),
                         [](const testing::TestParamInfo<WayOut>& info) {
                           std::string name = info.param.name;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

// ---------------------------------------------------------------- job control

// The terminal's modes while the program reads keys.
termios RawModes(PtyChild& child) {
  termios raw{};
  child.Pump([&] { return raw = child.Modes(), !(raw.c_lflag & ICANON); });
  return raw;
}

TEST(JobControl, AStoppedProgramGivesTheTerminalBackAndTakesItAgain) {
  for (int stop : {SIGTSTP, SIGSTOP}) {
    SCOPED_TRACE(strsignal(stop));
    PtyChild child(CrtEcho("line", {.jobControl = true}));
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(child.WaitForOutput(kAskCursor));
    const termios raw = RawModes(child);
    ASSERT_FALSE(raw.c_lflag & (ICANON | ECHO));
    for (int round = 0; round < 2; ++round) {
      child.Signal(stop);
      ASSERT_TRUE(child.Pump([&] { return child.Stopped(); })) << "stopped";
      // A stop that can be caught leaves the shell its own terminal.
      if (stop == SIGTSTP) {
        EXPECT_TRUE(child.ModesAsBefore());
      }
      child.Signal(SIGCONT);
      EXPECT_TRUE(child.Pump([&] { return !child.Stopped() && SameModes(child.Modes(), raw); }))
          << "raw again once continued";
    }
    // Keys are keys again: one stops the polling, Enter ends the line.
    child.Type("k");
    EXPECT_EQ(child.Ended(200ms), "running");
    child.Type("\r");
    EXPECT_EQ(child.Ended(), "exit 0");
    EXPECT_TRUE(child.ModesAsBefore());
  }
}

TEST(JobControl, ContinuedInTheBackgroundTheProgramLeavesTheTerminalToTheShell) {
  PtyChild child(CrtEcho("spin", {.jobControl = true}));
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.WaitForOutput("~"));
  const termios raw = RawModes(child);
  child.Signal(SIGTSTP);
  ASSERT_TRUE(child.Pump([&] { return child.Stopped(); }));
  child.ToBackground();
  child.Signal(SIGCONT);
  EXPECT_TRUE(child.Pump([&] { return !child.Stopped(); }));
  child.Pump([] { return false; }, 100ms);
  EXPECT_TRUE(child.ModesAsBefore()) << "running in the background, the terminal is the shell's";
  // `fg`: the terminal given back, then the continue.
  child.ToForeground();
  child.Signal(SIGCONT);
  EXPECT_TRUE(child.Pump([&] { return SameModes(child.Modes(), raw); })) << "raw again in the foreground";
  child.Signal(SIGTERM);
  EXPECT_EQ(child.Ended(), ExitedWith(SIGTERM));
  EXPECT_TRUE(child.ModesAsBefore());
}

// ---------------------------------------------------------------- descriptors and pipes

TEST(Terminal, ALineEndOnTheConsoleReturnsToTheFirstColumn) {
  PtyChild child(CrtEcho("writeln"));
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.WaitForOutput(kAskCursor));
  // The cursor is at row 3, column 1: "ab" there, "cd" at the start of row 4.
  ASSERT_TRUE(child.WaitForOutput("d\x1b" "8"));
  EXPECT_NE(child.out.find("\x1b[4;1H\x1b[0mc"), std::string::npos) << testing::PrintToString(child.out);
  child.Type("\r");
  EXPECT_EQ(child.Ended(), "exit 0");
}

TEST(Terminal, WritesToAPipeWithoutReaderFailWithoutKillingTheProgram) {
  // The report cannot be written: the exit code is still the error's.
  PtyChild report(CrtEcho("runerror", {.stdoutAs = Stream::BrokenPipe}));
  ASSERT_TRUE(report.Started());
  EXPECT_EQ(report.Ended(), "exit 201");
  EXPECT_TRUE(report.ModesAsBefore());
  // A checked write fails with 101, whose report cannot be written either.
  PtyChild print(CrtEcho("print", {.stdoutAs = Stream::BrokenPipe}));
  ASSERT_TRUE(print.Started());
  EXPECT_EQ(print.Ended(), "exit 101");
  PtyChild intact(CrtEcho("print", {.stdoutAs = Stream::Pipe}));
  ASSERT_TRUE(intact.Started());
  EXPECT_EQ(intact.Ended(), "exit 0");
  EXPECT_EQ(intact.outPipe, "printed\n");
}

TEST(Terminal, ClosedStandardHandlesAreHeldByTheNullDevice) {
  // A closed input is an input at its end: the line ends by itself.
  PtyChild in(CrtEcho("line", {.stdinAs = Stream::Closed}));
  ASSERT_TRUE(in.Started());
  EXPECT_EQ(in.Ended(), "exit 0");
  // A closed output drops what is written, the exit code stays.
  PtyChild out(CrtEcho("print", {.stdoutAs = Stream::Closed}));
  ASSERT_TRUE(out.Started());
  EXPECT_EQ(out.Ended(), "exit 0");
  EXPECT_EQ(out.out.find("printed"), std::string::npos) << "the terminal opened by name is not standard output";
  PtyChild all(CrtEcho("runerror", {.stdinAs = Stream::Closed, .stdoutAs = Stream::Closed, .stderrAs = Stream::Closed}));
  ASSERT_TRUE(all.Started());
  EXPECT_EQ(all.Ended(), "exit 201");
  EXPECT_EQ(all.out.find("Runtime error"), std::string::npos) << "nothing lands on the terminal's descriptor";
  EXPECT_TRUE(all.ModesAsBefore());
}

TEST(Terminal, MemoryRunningOutIsHeapOverflow) {
  PtyChild child(CrtEcho("heap", {.stdoutAs = Stream::Pipe}));
  ASSERT_TRUE(child.Started());
  EXPECT_EQ(child.Ended(), "exit 203");
  EXPECT_EQ(child.outPipe.rfind("Runtime error 203 at 0x", 0), 0u) << child.outPipe;
  EXPECT_TRUE(child.ModesAsBefore());
}

TEST(Terminal, KeysReachTheKeyFilterAsConsoleKeys) {
  PtyChild child(CrtEcho("keys"));
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.WaitForOutput(kAskCursor));
  const std::vector<std::pair<std::string, std::vector<int>>> typed = {
      {"a", {97}},
      {"\x1bx", {0, 45}},            // Alt-X
      {"\x1b" "1", {0, 120}},        // Alt-1
      {"\x1b[23~\x1b[24~", {0, 133, 0, 134}},
      {"\x1b[1;5P", {0, 94}},        // Ctrl-F1
      {"\x1b[1;2P", {0, 84}},        // Shift-F1
      {"\x1b[1;5H", {0, 119}},       // Ctrl-Home
      {"\x1bOD", {0, 75}},
      {"\x7f\x13\x1a", {8, 19, 26}}, // Ctrl-S and Ctrl-Z are keys, not flow control or suspend
      {"\xc3\xa9", {130}},
      {"\x1b", {27}},                // alone, after the time-out
      {"\r", {13}},
  };
  std::string expected;
  for (const auto& [bytes, codes] : typed) {
    child.Type(bytes);
    for (int code : codes) expected += std::to_string(code) + "\n";
    // Each key is read before the next is typed, so a lone Esc stays alone.
    ASSERT_TRUE(child.Pump([&] { return std::erase(child.out, '\r'), Visible(child.out) == expected; }))
        << "after " << testing::PrintToString(bytes) << ": " << testing::PrintToString(child.out);
  }
  EXPECT_EQ(child.Ended(), "exit 0");
}

TEST(Terminal, EchoStartsAtTheCursorTheTerminalReports) {
  for (bool answers : {true, false}) {
    SCOPED_TRACE(answers ? "answered late" : "never answered");
    PtyChild child(CrtEcho("line", {.answerCursor = std::nullopt}));
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(child.WaitForOutput(kAskCursor));
    child.Type("ab");  // before the answer: kept as input
    if (answers) child.AnswerCursor(5, 10);
    child.Type("\r");
    EXPECT_EQ(child.Ended(), "exit 0");
    // Without an answer the cursor is taken to be at the start of the bottom
    // row, so Enter scrolls the screen and blanks the new bottom row.
    EXPECT_EQ(Visible(child.out), answers ? "ab" : "ab" + std::string(80, ' '));
    EXPECT_NE(child.out.find(answers ? "\x1b[5;10H" : "\x1b[24;1H"), std::string::npos) << child.out;
    EXPECT_EQ(child.queries, 1) << "the terminal is asked once";
  }
}

TEST(Terminal, RedirectedStandardHandlesStillEchoToTheTerminal) {
  PtyChild child(CrtEcho("line", {.stdinPipe = true, .stdoutToFile = true}));
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.WaitForOutput(kAskCursor)) << "the terminal is asked through /dev/tty";
  child.Feed("typed\n");
  EXPECT_EQ(child.Ended(), "exit 0");
  EXPECT_EQ(Visible(child.out), "typed");
  EXPECT_EQ(child.OutputFile(), "");
  EXPECT_TRUE(SameModes(child.Modes(), child.ModesBefore()));
}

TEST(Terminal, PipedInputEndsTheLineAtItsEnd) {
  PtyChild child(CrtEcho("line", {.stdinPipe = true}));
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.WaitForOutput(kAskCursor));
  EXPECT_EQ(child.Ended(300ms), "running") << "an open, empty pipe is no key";
  child.Feed("no line end");
  child.CloseInput();
  EXPECT_EQ(child.Ended(), "exit 0");
  EXPECT_EQ(Visible(child.out), "no line end");
}

TEST(Terminal, WithoutAnyTerminalTheProgramStops) {
  PtyChild child(CrtEcho("line", {.stderrPipe = true, .noTerminal = true}));
  ASSERT_TRUE(child.Started());
  EXPECT_EQ(child.Ended(), "exit 1");
  EXPECT_EQ(child.err, "No way to get the console handle\n");
  EXPECT_EQ(child.out, "");
}

// ---------------------------------------------------------------- tmux

std::string Shell(const std::string& command) {
  std::string text;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[512];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
    pclose(p);
  }
  return text;
}

std::string Quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// crt_echo in a tmux pane of its own server, after a shell has printed
// `before` (a printf format).  tmux does not always learn a pane's exit
// status, so the shell writes it to a file.
class TmuxPane {
 public:
  TmuxPane(const std::string& before, int width, int height) {
    const std::string name = "crt-echo-" + std::to_string(getpid()) + "-" + std::to_string(++serial_);
    socket_ = testing::TempDir() + name + ".sock";
    tmux_ = "tmux -u -f /dev/null -S " + Quoted(socket_);
    statusFile_ = testing::TempDir() + name;
    const std::string command =
        "printf " + Quoted(before) + "; " + CRT_ECHO + "; echo $? > " + Quoted(statusFile_);
    Shell(tmux_ + " new-session -d -x " + std::to_string(width) + " -y " + std::to_string(height) + " " +
          Quoted(command) + " \\; set-option -g remain-on-exit on 2>&1");
  }
  ~TmuxPane() {
    Shell(tmux_ + " kill-server 2>/dev/null");
    unlink(statusFile_.c_str());
    unlink(socket_.c_str());
  }

  std::string Query(const std::string& format) {
    std::string s = Shell(tmux_ + " display-message -p " + Quoted(format));
    while (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
  }
  // The screen's rows, or with the history above them.
  std::vector<std::string> Rows(bool history = false) {
    std::vector<std::string> rows;
    std::string all = Shell(tmux_ + " capture-pane -p" + (history ? " -S -" : ""));
    for (size_t at = 0, nl; (nl = all.find('\n', at)) != std::string::npos; at = nl + 1) {
      std::string row = all.substr(at, nl - at);
      row.erase(row.find_last_not_of(' ') + 1);
      rows.push_back(row);
    }
    return rows;
  }
  void Keys(const std::string& args) { Shell(tmux_ + " send-keys " + args); }

  bool Until(const std::function<bool()>& pred, std::chrono::milliseconds wait = 5s) {
    for (const auto end = Clock::now() + wait; Clock::now() < end; std::this_thread::sleep_for(20ms))
      if (pred()) return true;
    return pred();
  }
  // The program has set up the terminal and is reading keys.
  bool Raw() {
    return Until([&] {
      const int fd = open(Query("#{pane_tty}").c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
      termios t{};
      const bool raw = fd >= 0 && tcgetattr(fd, &t) == 0 && !(t.c_lflag & ICANON);
      if (fd >= 0) close(fd);
      return raw;
    });
  }
  // The program's exit status once it has ended, else "".
  std::string Status() {
    std::string status;
    Until([&] {
      std::ifstream f(statusFile_);
      return static_cast<bool>(std::getline(f, status));
    });
    return status;
  }

 private:
  static inline int serial_ = 0;
  std::string tmux_, socket_, statusFile_;
};

class Tmux : public testing::Test {
 protected:
  void SetUp() override {
    if (Shell("tmux -V 2>/dev/null").rfind("tmux", 0) != 0) GTEST_SKIP() << "tmux is not installed";
  }
};

TEST_F(Tmux, EchoIsInPlaceAndEditable) {
  TmuxPane pane("prompt> ", 40, 6);
  ASSERT_TRUE(pane.Raw());
  pane.Keys("-l helo");
  pane.Keys("BSpace");
  pane.Keys("-l lo");
  pane.Keys("Left Left X End Tab");
  pane.Keys("-H c3 a9");
  ASSERT_TRUE(pane.Until([&] { return pane.Rows().at(0) == "prompt> helXo\u25CB\u00E9"; }))
      << pane.Rows().at(0);
  EXPECT_EQ(pane.Query("#{cursor_x},#{cursor_y}"), "15,0");
  pane.Keys("Enter");
  EXPECT_EQ(pane.Status(), "0");
  // tmux scrolls a dead pane's screen into its history.
  EXPECT_EQ(pane.Rows(true).at(0), "prompt> helXo\u25CB\u00E9") << "Enter keeps the line on the screen";
}

TEST_F(Tmux, EchoPastTheLastRowScrollsTheScreen) {
  TmuxPane pane("top\\n\\n\\np> ", 20, 4);
  ASSERT_TRUE(pane.Raw());
  pane.Keys("-l abcdefghijklmnopqrstuvwxyz");
  const std::vector<std::string> expected = {"", "", "p> abcdefghijklmnopq", "rstuvwxyz"};
  ASSERT_TRUE(pane.Until([&] { return pane.Rows() == expected; })) << testing::PrintToString(pane.Rows());
  EXPECT_EQ(pane.Query("#{cursor_x},#{cursor_y}"), "9,3");
  pane.Keys("Enter");
  EXPECT_EQ(pane.Status(), "0");
}

}  // namespace
