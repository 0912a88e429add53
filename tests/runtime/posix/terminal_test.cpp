// The terminal console as a user meets it: crt_echo run on a
// pseudo-terminal that the test plays (modes, signals, exit codes, what
// reaches the terminal), and in tmux, a real terminal, for what the screen
// shows.  Every wait is bounded; a child that outlives its test is killed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kAskCursor = "\x1b[6n";

bool SameModes(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

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

struct Options {
  const char* mode = "line";
  bool answerCursor = true;   // the terminal answers cursor queries
  bool stdinPipe = false;     // standard input from a pipe the test writes
  bool stdoutToFile = false;  // standard output to a file
  bool noTerminal = false;    // no controlling terminal, no terminal handles
};

std::string ExitedWith(int status) {
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("signal ") + strsignal(WTERMSIG(status));
  return "running";
}

// crt_echo with a pseudo-terminal of 80 x 24 as its controlling terminal
// and, unless redirected, as its standard handles; standard error goes to
// a pipe when there is no terminal.
class PtyChild {
 public:
  explicit PtyChild(Options o) : options_(o), outFile_(testing::TempDir() + "crt_echo_out." + std::to_string(getpid())) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
    const winsize ws{24, 80, 0, 0};
    if (slave_ < 0 || ioctl(slave_, TIOCSWINSZ, &ws) != 0 || tcgetattr(slave_, &before_) != 0) return;
    int in[2], err[2];
    if (pipe(in) != 0 || pipe(err) != 0) return;
    const int null = open("/dev/null", O_RDWR);
    const int file = open(outFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_ = fork();
    if (pid_ == 0) {
      setsid();
      if (!o.noTerminal) ioctl(slave_, TIOCSCTTY, 0);
      const int tty = o.noTerminal ? null : slave_;
      dup2(o.stdinPipe ? in[0] : tty, 0);
      dup2(o.stdoutToFile ? file : tty, 1);
      dup2(o.noTerminal ? err[1] : tty, 2);
      for (int fd = 3; fd < 64; ++fd) close(fd);
      const rlimit noCore{0, 0};
      setrlimit(RLIMIT_CORE, &noCore);
      execl(CRT_ECHO, "crt_echo", o.mode, static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int fd : {in[0], err[1], null, file}) close(fd);
    pipeIn_ = in[1];
    errPipe_ = err[0];
  }

  ~PtyChild() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {master_, slave_, pipeIn_, errPipe_})
      if (fd >= 0) close(fd);
    unlink(outFile_.c_str());
  }

  bool Started() const { return pid_ > 0; }

  // Reads what the child writes, answering cursor queries as a terminal
  // would, until pred holds or `wait` has passed.
  bool Pump(const std::function<bool()>& pred, std::chrono::milliseconds wait = 3s) {
    for (const auto end = Clock::now() + wait; !pred();) {
      if (Clock::now() >= end) return false;
      pollfd fds[2] = {{master_, POLLIN, 0}, {errPipe_, POLLIN, 0}};
      poll(fds, 2, 10);
      for (auto [fd, text] : {std::pair{fds[0], &out}, std::pair{fds[1], &err}}) {
        char buf[4096];
        const ssize_t n = fd.revents & POLLIN ? read(fd.fd, buf, sizeof buf) : 0;
        if (n > 0) text->append(buf, static_cast<size_t>(n));
      }
      for (size_t at; (at = out.find(kAskCursor, asked_)) != std::string::npos; asked_ = at + 1) {
        ++queries;
        if (options_.answerCursor) AnswerCursor(3, 1);
      }
    }
    return true;
  }
  bool WaitForOutput(const std::string& needle) {
    return Pump([&] { return out.find(needle) != std::string::npos; });
  }

  void AnswerCursor(int row, int column) { Type("\x1b[" + std::to_string(row) + ";" + std::to_string(column) + "R"); }
  void Type(const std::string& bytes) { ASSERT_EQ(write(master_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
  void Feed(const std::string& bytes) { ASSERT_EQ(write(pipeIn_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
  void CloseInput() {
    close(pipeIn_);
    pipeIn_ = -1;
  }
  void Signal(int sig) { kill(pid_, sig); }

  // How the child ended, or "running" when it has not within `wait`.
  std::string Ended(std::chrono::milliseconds wait = 3s) {
    int status = 0;
    Pump([&] { return reaped_ = waitpid(pid_, &status, WNOHANG) == pid_; }, wait);
    Pump([] { return false; }, 20ms);  // what it wrote last
    return reaped_ ? ExitedWith(status) : "running";
  }

  termios Modes() const {
    termios t{};
    tcgetattr(slave_, &t);
    return t;
  }
  const termios& ModesBefore() const { return before_; }
  std::string OutputFile() const {
    std::ifstream f(outFile_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }

  std::string out, err;
  int queries = 0;

 private:
  Options options_;
  std::string outFile_;
  int master_ = -1, slave_ = -1, pipeIn_ = -1, errPipe_ = -1;
  pid_t pid_ = -1;
  bool reaped_ = false;
  size_t asked_ = 0;
  termios before_{};
};

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
    PtyChild child({.mode = e.mode});
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

TEST(Terminal, KeysReachTheKeyFilterAsConsoleKeys) {
  PtyChild child({.mode = "keys"});
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
    PtyChild child({.answerCursor = false});
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
  PtyChild child({.stdinPipe = true, .stdoutToFile = true});
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.WaitForOutput(kAskCursor)) << "the terminal is asked through /dev/tty";
  child.Feed("typed\n");
  EXPECT_EQ(child.Ended(), "exit 0");
  EXPECT_EQ(Visible(child.out), "typed");
  EXPECT_EQ(child.OutputFile(), "");
  EXPECT_TRUE(SameModes(child.Modes(), child.ModesBefore()));
}

TEST(Terminal, PipedInputEndsTheLineAtItsEnd) {
  PtyChild child({.stdinPipe = true});
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.WaitForOutput(kAskCursor));
  EXPECT_EQ(child.Ended(300ms), "running") << "an open, empty pipe is no key";
  child.Feed("no line end");
  child.CloseInput();
  EXPECT_EQ(child.Ended(), "exit 0");
  EXPECT_EQ(Visible(child.out), "no line end");
}

TEST(Terminal, WithoutAnyTerminalTheProgramStops) {
  PtyChild child({.noTerminal = true});
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
