// Child processes started directly, without a shell between: their names
// and arguments reach them as they are, whatever characters they hold.  The
// runs of an ensemble, and the benchmark's live-window helper.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace io {

// The running program's own executable, or an empty string.
std::string SelfPath();

struct Child {
  intptr_t process = -1;  // the process (its id, or its handle)
  intptr_t output = -1;   // the read end of its standard output
};

// Starts program with args (not counting the program's name), its standard
// output into a pipe, standard error and input shared with this process,
// and this process's environment with the NAME=value settings of
// `environment` added (replacing any of the same name) for the child alone.
// False, with a one-line reason, when it cannot be started.
bool StartChild(const std::string& program, const std::vector<std::string>& args, Child& child, std::string& error,
                const std::vector<std::string>& environment = {});

// Reads the child's output to its end and waits for it to exit; returns its
// exit code, or 128 + the signal that ended it.
int WaitChild(Child& child, std::string& output);

// How a child ended: its exit code, or the signal that killed it (never on
// Windows, where a killed process has an exit code too).
struct ChildEnd {
  int code = 0;
  int signal = 0;
};
// "exit code 3", "killed by signal 9 (SIGKILL)".
std::string DescribeEnd(const ChildEnd& end);

// The runs of an ensemble: each is kept apart from the terminal's Ctrl-C
// (its own process group, or console process group), so that only the
// ensemble hears the user and decides for its runs, and is ended with it.
struct Watched {
  Child child;
  std::string output;  // what it wrote so far
  bool ended = false;
  ChildEnd end;
};
bool StartWatched(const std::string& program, const std::vector<std::string>& args, Watched& w, std::string& error,
                  const std::vector<std::string>& environment = {});
// Waits up to timeoutMs for output or an end among the children (returning
// sooner on a signal), takes in what they wrote and reaps those that ended.
void PollWatched(const std::vector<Watched*>& children, int timeoutMs);
// Ends every watched child that has not been reaped; safe in a signal
// handler, so that an ensemble ended by a signal takes its runs with it.
void StopWatched();
// For a run of an ensemble: ends this process when its parent ends, even by
// SIGKILL (Windows does this by the job the parent put its runs in).
void EndWithParent();

#ifndef _WIN32
// Runs argv (the program's path first; a bare name is looked up in the
// PATH, as a shell would) with standard error on the null device and
// collects its standard output.  True when it ran and exited with code 0.
bool RunChild(const std::vector<std::string>& argv, std::string& out);
#endif

}  // namespace io
