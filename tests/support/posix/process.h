// A program started by a test, its standard output and error collected
// through pipes (or its output sent where the test says), waited for with
// its exit status and the time it took.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// Whether these tests run under a user-mode emulator (qemu): there the
// kernel's record of a process's handlers is the emulator's, which catches
// nearly every signal to pass it on, and its guest's memory is what the
// emulator reserved, so neither tells what the program itself has done.
// Nothing in the tests catches these three.
inline bool UnderUserModeEmulator() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigCgt:", 0) != 0) continue;
    const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
    const auto caught = [&](int sig) { return (mask >> (sig - 1)) & 1; };
    return caught(SIGUSR2) && caught(SIGXCPU) && caught(SIGPROF);
  }
  return false;
}

struct Ran {
  int status = -1;  // as waitpid gives it
  std::string out, err;
  double seconds = 0;
  // The exit code, or 1000 + the signal that ended the process.
  int code() const { return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status); }
};

struct ProcessOptions {
  std::vector<std::string> argv;  // the program's path first
  int stdoutFd = -1;              // standard output there instead of a pipe
  bool stderrToStdout = false;    // standard error where standard output goes
  rlim_t addressSpace = 0;        // a limit on the address space, when set
};

class Process {
 public:
  explicit Process(ProcessOptions options) : t0_(Clock::now()) {
    int o[2] = {-1, -1}, e[2] = {-1, -1};
    if (pipe2(o, O_CLOEXEC) != 0 || pipe2(e, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      if (options.addressSpace != 0) {
        const rlimit limit{options.addressSpace, options.addressSpace};
        setrlimit(RLIMIT_AS, &limit);
      }
      const int outFd = options.stdoutFd >= 0 ? options.stdoutFd : o[1];
      dup2(outFd, STDOUT_FILENO);
      dup2(options.stderrToStdout ? outFd : e[1], STDERR_FILENO);
      for (int fd = 3; fd < 1024; ++fd) close(fd);
      // Signals as a shell would leave them, whatever the test runner set.
      signal(SIGPIPE, SIG_DFL);
      std::vector<char*> argv;
      for (std::string& a : options.argv) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(o[1]);
    close(e[1]);
    out_ = o[0], err_ = e[0];
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {out_, err_})
      if (fd >= 0) close(fd);
  }

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  void Signal(int sig) const { kill(pid_, sig); }

  // Whether the process has a handler of its own for sig, as the kernel
  // tells: the moment a test's signal can be caught rather than kill it.
  bool Catches(int sig) const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("SigCgt:", 0) != 0) continue;
      const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
      return (mask >> (sig - 1)) & 1;
    }
    return false;
  }
  // Waits until it catches sig, or has ended; never judged by time, but a
  // limit keeps a broken program from hanging the suite.
  bool WaitUntilCatches(int sig, std::chrono::seconds limit = std::chrono::seconds(120)) const {
    for (const auto end = Clock::now() + limit; Clock::now() < end;) {
      if (Catches(sig)) return true;
      siginfo_t ended{};
      if (waitid(P_PID, static_cast<id_t>(pid_), &ended, WEXITED | WNOHANG | WNOWAIT) != 0 || ended.si_pid != 0)
        return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  // Reads both pipes to their end and waits for the process.
  Ran Wait() {
    Ran r;
    std::thread errReader([&] { ReadAll(err_, r.err); });
    ReadAll(out_, r.out);
    errReader.join();
    waitpid(pid_, &r.status, 0);
    reaped_ = true;
    r.seconds = std::chrono::duration<double>(Clock::now() - t0_).count();
    return r;
  }

 private:
  using Clock = std::chrono::steady_clock;
  static void ReadAll(int& fd, std::string& into) {
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) != 0;) {
      if (n > 0) into.append(buf, static_cast<size_t>(n));
      else if (errno != EINTR) break;
    }
    close(fd);
    fd = -1;
  }
  Clock::time_point t0_;
  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
  bool reaped_ = false;
};

// Starts, then waits for, a program.
inline Ran Run(ProcessOptions options) { return Process(std::move(options)).Wait(); }

}  // namespace testsupport
