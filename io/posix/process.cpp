#include "io/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string_view>

extern char** environ;

namespace io {

namespace {

// Starts argv[0] with its standard output into a close-on-exec pipe (so that
// no other child holds it open), standard error on the null device when
// asked; a bare name is looked up in the PATH when search is set.
int Spawn(const std::vector<std::string>& argv, bool search, bool quiet, Child& child,
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
  pid_t pid = -1;
  const int rc = search ? posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data())
                        : posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
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

}  // namespace

std::string SelfPath() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

bool StartChild(const std::string& program, const std::vector<std::string>& args, Child& child, std::string& error,
                const std::vector<std::string>& environment) {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  const int rc = Spawn(argv, false, false, child, environment);
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
