#include "io/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

extern char** environ;

namespace io {

namespace {

// Starts argv[0] with its standard output into a close-on-exec pipe (so that
// no other child holds it open), standard error on the null device when
// asked; a bare name is looked up in the PATH when search is set.
int Spawn(const std::vector<std::string>& argv, bool search, bool quiet, Child& child, bool ownGroup = false,
          const std::vector<std::string>& environment = {}) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return errno;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  if (quiet) posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  // This process's environment, less the names that `environment` sets.
  std::vector<char*> env;
  for (char** e = environ; *e; ++e) {
    const std::string_view entry = *e;
    const bool replaced = std::any_of(environment.begin(), environment.end(), [&](const std::string& set) {
      const std::string_view name = std::string_view(set).substr(0, set.find('='));
      return entry.size() > name.size() && entry.substr(0, name.size()) == name && entry[name.size()] == '=';
    });
    if (!replaced) env.push_back(*e);
  }
  for (const std::string& e : environment) env.push_back(const_cast<char*>(e.c_str()));
  env.push_back(nullptr);
  // A group of its own keeps the terminal's Ctrl-C from the child; the
  // parent's blocked signals are not handed on, nor an ignored SIGTERM.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  if (ownGroup) {
    sigset_t none, term;
    sigemptyset(&none);
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &term);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  pid_t pid = -1;
  const int rc = search ? posix_spawnp(&pid, args[0], &actions, &attr, args.data(), env.data())
                        : posix_spawn(&pid, args[0], &actions, &attr, args.data(), env.data());
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    return rc;
  }
  child.process = pid;
  child.output = fds[0];
  return 0;
}

// The watched children still to reap, for StopWatched in a signal handler:
// a fixed table of atomics, as nothing else is safe there.
constexpr int kMostWatched = 2048;
std::atomic<pid_t> watched[kMostWatched];

void Watch(pid_t pid) {
  for (auto& slot : watched) {
    pid_t none = 0;
    if (slot.compare_exchange_strong(none, pid)) return;
  }
}

void Unwatch(pid_t pid) {
  for (auto& slot : watched) {
    pid_t p = pid;
    if (slot.compare_exchange_strong(p, 0)) return;
  }
}

const char* SignalName(int sig) {
  switch (sig) {
    case SIGHUP: return "SIGHUP";
    case SIGINT: return "SIGINT";
    case SIGQUIT: return "SIGQUIT";
    case SIGILL: return "SIGILL";
    case SIGTRAP: return "SIGTRAP";
    case SIGABRT: return "SIGABRT";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGKILL: return "SIGKILL";
    case SIGUSR1: return "SIGUSR1";
    case SIGSEGV: return "SIGSEGV";
    case SIGUSR2: return "SIGUSR2";
    case SIGPIPE: return "SIGPIPE";
    case SIGALRM: return "SIGALRM";
    case SIGTERM: return "SIGTERM";
    case SIGXCPU: return "SIGXCPU";
    case SIGXFSZ: return "SIGXFSZ";
    default: return nullptr;
  }
}

}  // namespace

std::string DescribeEnd(const ChildEnd& end) {
  if (end.signal == 0) return "exit code " + std::to_string(end.code);
  const char* name = SignalName(end.signal);
  return "killed by signal " + std::to_string(end.signal) + (name ? std::string(" (") + name + ")" : std::string());
}

// Tells a watched child whose parent it should have, so that it can tell
// when that parent ended before the child could watch for it.
constexpr const char* kParentVariable = "AGGSIM_ENSEMBLE_PID";

bool StartWatched(const std::string& program, const std::vector<std::string>& args, Watched& w, std::string& error,
                  const std::vector<std::string>& environment) {
  static const bool named = setenv(kParentVariable, std::to_string(getpid()).c_str(), 1) == 0;
  (void)named;
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  const int rc = Spawn(argv, false, false, w.child, true, environment);
  if (rc != 0) {
    error = "cannot start " + program + ": " + std::strerror(rc);
    return false;
  }
  Watch(static_cast<pid_t>(w.child.process));
  return true;
}

void PollWatched(const std::vector<Watched*>& children, int timeoutMs) {
  std::vector<pollfd> fds;
  std::vector<Watched*> of;
  for (Watched* w : children) {
    if (w->ended || w->child.output < 0) continue;
    fds.push_back({static_cast<int>(w->child.output), POLLIN, 0});
    of.push_back(w);
  }
  if (fds.empty() || poll(fds.data(), fds.size(), timeoutMs) <= 0) return;
  for (size_t i = 0; i < fds.size(); ++i) {
    if (fds[i].revents == 0) continue;
    Watched& w = *of[i];
    char buf[4096];
    const ssize_t n = read(fds[i].fd, buf, sizeof buf);
    if (n > 0) {
      w.output.append(buf, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // The end of its output: it has ended, or is ending.
    close(fds[i].fd);
    w.child.output = -1;
    const pid_t pid = static_cast<pid_t>(w.child.process);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    Unwatch(pid);
    w.child.process = -1;
    w.ended = true;
    w.end = WIFSIGNALED(status) ? ChildEnd{0, WTERMSIG(status)} : ChildEnd{WEXITSTATUS(status), 0};
  }
}

void StopWatched() {
  for (auto& slot : watched) {
    const pid_t pid = slot.load();
    if (pid > 0) kill(pid, SIGTERM);
  }
}

void EndWithParent() {
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  // The parent may have ended before the call: another process (init, a
  // subreaper) is then the parent.
  const char* parent = getenv(kParentVariable);
  if (parent && std::to_string(getppid()) != parent) raise(SIGTERM);
}

std::string SelfPath() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

bool StartChild(const std::string& program, const std::vector<std::string>& args, Child& child, std::string& error,
                const std::vector<std::string>& environment) {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  const int rc = Spawn(argv, false, false, child, false, environment);
  if (rc != 0) error = "cannot start " + program + ": " + std::strerror(rc);
  return rc == 0;
}

int WaitChild(Child& child, std::string& output) {
  char buf[4096];
  for (;;) {
    const ssize_t n = read(static_cast<int>(child.output), buf, sizeof buf);
    if (n > 0) {
      output.append(buf, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(static_cast<int>(child.output));
  child.output = -1;
  int status = 0;
  while (waitpid(static_cast<pid_t>(child.process), &status, 0) < 0) {
    if (errno != EINTR) return 127;
  }
  child.process = -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

bool RunChild(const std::vector<std::string>& argv, std::string& out) {
  Child child;
  if (argv.empty() || Spawn(argv, true, true, child) != 0) return false;
  return WaitChild(child, out) == 0;
}

}  // namespace io
