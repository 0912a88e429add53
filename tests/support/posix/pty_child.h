// A program run whole on a pseudo-terminal that the test plays: it reads
// what the program writes, types keys, answers cursor queries as a
// terminal would, and sees how the program ends.  Every wait is bounded; a
// child that outlives its test is killed.
#pragma once

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
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

using namespace std::chrono_literals;

constexpr const char* kAskCursor = "\x1b[6n";

inline bool SameModes(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

inline std::string ExitedWith(int status) {
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("signal ") + strsignal(WTERMSIG(status));
  return "running";
}

struct Cell {
  int row, column;
};

struct PtyOptions {
  std::string path = {};               // the program
  std::vector<std::string> argv = {};  // its arguments, the name it goes by first
  bool stdinPipe = false;              // standard input from a pipe the test writes
  bool stdoutToFile = false;           // standard output to a file
  bool stderrPipe = false;             // standard error apart, in a pipe the test reads
  bool noTerminal = false;             // no controlling terminal, no terminal handles
  unsigned short rows = 24, columns = 80;
  std::optional<std::string> display = {};        // DISPLAY set, or unset when empty; inherited when absent
  std::optional<Cell> answerCursor = Cell{3, 1};  // where the terminal says the cursor is, if it answers
  std::chrono::milliseconds wait = 3s;            // for Pump and Ended unless told
};

// The program with the pseudo-terminal as its controlling terminal and, unless
// redirected, as its standard handles.
class PtyChild {
 public:
  explicit PtyChild(const PtyOptions& o)
      : options_(o), outFile_(testing::TempDir() + "pty_child_out." + std::to_string(getpid())) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
    const winsize ws{o.rows, o.columns, 0, 0};
    if (slave_ < 0 || ioctl(slave_, TIOCSWINSZ, &ws) != 0 || tcgetattr(slave_, &before_) != 0) return;
    int in[2], err[2];
    if (pipe(in) != 0 || pipe(err) != 0) return;
    const int null = o.noTerminal ? open("/dev/null", O_RDWR) : -1;
    const int file = o.stdoutToFile ? open(outFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600) : -1;
    // execv takes the arguments as a null-ended array.
    std::vector<char*> args;
    for (const std::string& a : o.argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      setsid();
      if (!o.noTerminal) ioctl(slave_, TIOCSCTTY, 0);
      const int tty = o.noTerminal ? null : slave_;
      dup2(o.stdinPipe ? in[0] : tty, 0);
      dup2(o.stdoutToFile ? file : tty, 1);
      dup2(o.stderrPipe ? err[1] : tty, 2);
      for (int fd = 3; fd < 256; ++fd) close(fd);
      const rlimit noCore{0, 0};
      setrlimit(RLIMIT_CORE, &noCore);
      if (o.display && o.display->empty())
        unsetenv("DISPLAY");
      else if (o.display)
        setenv("DISPLAY", o.display->c_str(), 1);
      execv(o.path.c_str(), args.data());
      _exit(127);
    }
    for (int fd : {in[0], err[1], null, file})
      if (fd >= 0) close(fd);
    pipeIn_ = in[1];
    errPipe_ = err[0];
  }

  PtyChild(const PtyChild&) = delete;
  PtyChild& operator=(const PtyChild&) = delete;

  ~PtyChild() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {master_, slave_, pipeIn_, errPipe_})
      if (fd >= 0) close(fd);
    if (options_.stdoutToFile) unlink(outFile_.c_str());
  }

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }

  // Reads what the child writes, answering cursor queries as a terminal
  // would, until pred holds or `wait` has passed.
  bool Pump(const std::function<bool()>& pred, std::optional<std::chrono::milliseconds> wait = {}) {
    for (const auto end = std::chrono::steady_clock::now() + wait.value_or(options_.wait); !pred();) {
      if (std::chrono::steady_clock::now() >= end) return false;
      pollfd fds[2] = {{master_, POLLIN, 0}, {errPipe_, POLLIN, 0}};
      poll(fds, 2, 10);
      for (auto [fd, text] : {std::pair{fds[0], &out}, std::pair{fds[1], &err}}) {
        char buf[4096];
        const ssize_t n = fd.revents & POLLIN ? read(fd.fd, buf, sizeof buf) : 0;
        if (n > 0) text->append(buf, static_cast<size_t>(n));
      }
      for (size_t at; (at = out.find(kAskCursor, asked_)) != std::string::npos; asked_ = at + 1) {
        ++queries;
        if (options_.answerCursor) AnswerCursor(options_.answerCursor->row, options_.answerCursor->column);
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
  std::string Ended(std::optional<std::chrono::milliseconds> wait = {}) {
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
  bool ModesAsBefore() const { return SameModes(Modes(), before_); }
  std::string OutputFile() const {
    std::ifstream f(outFile_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }

  std::string out, err;
  int queries = 0;

 private:
  PtyOptions options_;
  std::string outFile_;
  int master_ = -1, slave_ = -1, pipeIn_ = -1, errPipe_ = -1;
  pid_t pid_ = -1;
  bool reaped_ = false;
  size_t asked_ = 0;
  termios before_{};
};

}  // namespace testsupport
