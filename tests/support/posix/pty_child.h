// A program run whole on a pseudo-terminal that the test plays: it reads
// what the program writes, types keys, answers cursor queries as a
// terminal would, and sees how the program ends.  Each standard handle may
// be the terminal, a file, a pipe, the null device, closed, or a pipe
// nobody reads; with job control the program runs as a shell runs a job, in
// a process group of its own in the terminal's foreground, so that it can
// be stopped.  Every wait is bounded; a child that outlives its test is
// killed.
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

#include <cerrno>
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

// Where a standard handle goes.
enum class Stream { Terminal, File, Pipe, Null, Closed, BrokenPipe };

inline const char* StreamName(Stream s) {
  static const char* const kNames[] = {"terminal", "file", "pipe", "/dev/null", "closed", "pipe without reader"};
  return kNames[static_cast<int>(s)];
}

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
  // For Pump and Ended unless told: only a bound for a child that never
  // gets there, so long enough for one under emulation, ~100 times slower.
  std::chrono::milliseconds wait = 120s;
  // Each standard handle, unless one of the flags above redirects it.
  Stream stdinAs = Stream::Terminal, stdoutAs = Stream::Terminal, stderrAs = Stream::Terminal;
  std::string inputFile = {};  // what standard input holds when it is a file
  bool jobControl = false;     // a job of a shell that waits for it
};

// The program with the pseudo-terminal as its controlling terminal and, unless
// redirected, as its standard handles.
class PtyChild {
 public:
  explicit PtyChild(const PtyOptions& o)
      : options_(o), files_(testing::TempDir() + "pty_child." + std::to_string(getpid()) + "." + std::to_string(++serial_)) {
    as_[0] = o.stdinPipe ? Stream::Pipe : o.stdinAs;
    as_[1] = o.stdoutToFile ? Stream::File : o.stdoutAs;
    as_[2] = o.stderrPipe ? Stream::Pipe : o.stderrAs;
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
    const winsize ws{o.rows, o.columns, 0, 0};
    if (slave_ < 0 || ioctl(slave_, TIOCSWINSZ, &ws) != 0 || tcgetattr(slave_, &before_) != 0) return;
    // The child's end of each handle; -1 when it is to be closed.
    int ends[3] = {-1, -1, -1};
    const int null = open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd) {
      int p[2];
      switch (as_[fd]) {
        case Stream::Terminal: ends[fd] = o.noTerminal ? dup(null) : dup(slave_); break;
        case Stream::Null: ends[fd] = dup(null); break;
        case Stream::Closed: break;
        case Stream::File:
          if (fd == 0) std::ofstream(FileName(0), std::ios::binary) << o.inputFile;
          ends[fd] = open(FileName(fd).c_str(), fd == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC, 0600);
          break;
        case Stream::Pipe:
        case Stream::BrokenPipe:
          if (pipe(p) != 0) return;
          ends[fd] = p[fd == 0 ? 0 : 1];
          pipes_[fd] = p[fd == 0 ? 1 : 0];
          if (as_[fd] == Stream::BrokenPipe) {
            close(pipes_[fd]);
            pipes_[fd] = -1;
          }
          break;
      }
    }
    int report[2];
    if (pipe(report) != 0) return;
    // execv takes the arguments as a null-ended array.
    std::vector<char*> args;
    for (const std::string& a : o.argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      setsid();
      if (!o.noTerminal) ioctl(slave_, TIOCSCTTY, 0);
      if (o.jobControl) RunAsJob(report[1]);
      // Above 2 first, so that no dup2 overwrites an end still to be placed.
      for (int& end : ends)
        if (end >= 0 && end < 3) end = fcntl(end, F_DUPFD, 3);
      for (int fd = 0; fd < 3; ++fd) {
        if (ends[fd] >= 0)
          dup2(ends[fd], fd);
        else
          close(fd);
      }
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
    close(report[1]);
    program_ = pid_;
    if (o.jobControl && read(report[0], &program_, sizeof program_) != sizeof program_) program_ = pid_;
    close(report[0]);
    for (int fd : {ends[0], ends[1], ends[2], null})
      if (fd >= 0) close(fd);
    pipeIn_ = pipes_[0];
    errPipe_ = pipes_[2];
  }

  PtyChild(const PtyChild&) = delete;
  PtyChild& operator=(const PtyChild&) = delete;

  ~PtyChild() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {master_, slave_, pipeIn_, errPipe_, pipes_[1]})
      if (fd >= 0) close(fd);
    for (int fd = 0; fd < 3; ++fd)
      if (as_[fd] == Stream::File) unlink(FileName(fd).c_str());
  }

  bool Started() const { return pid_ > 0; }
  // The program's process (under job control not the child, which waits for it).
  pid_t Pid() const { return program_; }

  // Reads what the child writes, answering cursor queries as a terminal
  // would, until pred holds or `wait` has passed.
  bool Pump(const std::function<bool()>& pred, std::optional<std::chrono::milliseconds> wait = {}) {
    for (const auto end = std::chrono::steady_clock::now() + wait.value_or(options_.wait); !pred();) {
      if (std::chrono::steady_clock::now() >= end) return false;
      pollfd fds[3] = {{master_, POLLIN, 0}, {errPipe_, POLLIN, 0}, {pipes_[1], POLLIN, 0}};
      poll(fds, 3, 10);
      for (auto [fd, text] : {std::pair{fds[0], &out}, std::pair{fds[1], &err}, std::pair{fds[2], &outPipe}}) {
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
  void Signal(int sig) { kill(program_, sig); }
  // Under job control: the shell takes the terminal's foreground from the
  // program, or gives it back.  The shell does it on a signal; the answer
  // is awaited briefly.
  void ToBackground() { kill(pid_, SIGUSR1), Pump([] { return false; }, 50ms); }
  void ToForeground() { kill(pid_, SIGUSR2), Pump([] { return false; }, 50ms); }
  // The program is stopped (by a signal) or, false, running or gone.
  bool Stopped() const {
    std::ifstream f("/proc/" + std::to_string(program_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(f)), {});
    const size_t paren = text.rfind(')');
    return paren != std::string::npos && paren + 2 < text.size() && (text[paren + 2] == 'T' || text[paren + 2] == 't');
  }

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
  std::string OutputFile() const { return FileText(1); }
  // What the program wrote to its standard output or error as a file.
  std::string FileText(int fd) const {
    std::ifstream f(FileName(fd), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }

  // What reached the terminal, standard error's pipe and standard output's.
  std::string out, err, outPipe;
  int queries = 0;

 private:
  std::string FileName(int fd) const { return files_ + "." + std::to_string(fd); }

  // In the child, which becomes the shell: the program is forked into a
  // process group of its own, put in the terminal's foreground and waited
  // for; the shell then ends as the program did.  Returns in the program.
  void RunAsJob(int report) {
    int go[2];
    if (pipe(go) != 0) _exit(126);
    const pid_t job = fork();
    if (job == 0) {
      setpgid(0, 0);
      char c;
      // Not before it is in the foreground, where the terminal is its own.
      if (read(go[0], &c, 1) != 1) _exit(126);
      return;
    }
    // The shell keeps no end of the program's pipes open.
    for (int fd = 0; fd < 256; ++fd)
      if (fd != slave_ && fd != go[1] && fd != report) close(fd);
    setpgid(job, job);
    signal(SIGTTOU, SIG_IGN);
    tcsetpgrp(slave_, job);
    // SIGUSR1: the shell takes the terminal back, as for `bg`; SIGUSR2: it
    // gives it to the job again, as for `fg`.
    jobTerminal_ = slave_;
    struct sigaction sa{};
    sa.sa_handler = [](int sig) { tcsetpgrp(jobTerminal_, sig == SIGUSR1 ? getpgrp() : getpgid(jobPid_)); };
    jobPid_ = job;
    sigaction(SIGUSR1, &sa, nullptr);
    sigaction(SIGUSR2, &sa, nullptr);
    if (write(go[1], "g", 1) != 1 || write(report, &job, sizeof job) != sizeof job) _exit(126);
    int status = 0;
    while (waitpid(job, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) _exit(WEXITSTATUS(status));
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    signal(WTERMSIG(status), SIG_DFL);
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_UNBLOCK, &all, nullptr);
    kill(getpid(), WTERMSIG(status));
    _exit(125);
  }

  static inline int serial_ = 0;
  static inline int jobTerminal_ = -1;  // in the shell of a job
  static inline pid_t jobPid_ = -1;
  PtyOptions options_;
  std::string files_;
  Stream as_[3] = {};
  int pipes_[3] = {-1, -1, -1};  // the test's end of each handle that is a pipe
  int master_ = -1, slave_ = -1, pipeIn_ = -1, errPipe_ = -1;
  pid_t pid_ = -1, program_ = -1;
  bool reaped_ = false;
  size_t asked_ = 0;
  termios before_{};
};

}  // namespace testsupport
