#include "tools/spawn.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

extern char** environ;

namespace tools {

std::string SelfPath() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

bool StartChild(const std::string& program, const std::vector<std::string>& args, Child& child, std::string& error) {
  int fds[2];
  // Close-on-exec, so that no other child holds this pipe open.
  if (pipe2(fds, O_CLOEXEC) != 0) {
    error = std::string("cannot make a pipe: ") + std::strerror(errno);
    return false;
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    error = "cannot start " + program + ": " + std::strerror(rc);
    return false;
  }
  child.process = pid;
  child.output = fds[0];
  return true;
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

}  // namespace tools
