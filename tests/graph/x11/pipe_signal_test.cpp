// The guard that every call of the X11 backend talking to the server runs
// under: a write to a peer that has gone fails instead of ending the
// process, whatever the host program does with SIGPIPE.
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "graph/x11/internal.h"

namespace {

using graph::x11::PipeSignalGuard;

bool Blocked() {
  sigset_t now;
  pthread_sigmask(SIG_BLOCK, nullptr, &now);
  return sigismember(&now, SIGPIPE) == 1;
}

bool Pending() {
  sigset_t pending;
  sigpending(&pending);
  return sigismember(&pending, SIGPIPE) == 1;
}

// Writes to a pipe whose reading end is closed: the write a dead server's
// socket gets.  Returns the write's errno.
int WriteToClosedPipe() {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  close(fds[0]);
  const ssize_t n = write(fds[1], "x", 1);
  const int err = n < 0 ? errno : 0;
  close(fds[1]);
  return err;
}

TEST(X11PipeSignalGuard, AWriteToAGonePeerFailsAndLeavesNoSignalBehind) {
  // The process's default, which ends it: the guard alone keeps it alive.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  ASSERT_EQ(sigaction(SIGPIPE, &dfl, nullptr), 0);
  ASSERT_FALSE(Blocked());
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    {
      const PipeSignalGuard quiet;
      EXPECT_TRUE(Blocked());
      {
        const PipeSignalGuard nested;  // inside another: leaves it to the outer one
        EXPECT_EQ(WriteToClosedPipe(), EPIPE);
      }
      EXPECT_TRUE(Blocked()) << "the inner guard let the signal through early";
      EXPECT_TRUE(Pending());
      errno = 1234;
    }
    EXPECT_EQ(errno, 1234) << "the guard's clean-up keeps errno";
    EXPECT_FALSE(Blocked());
    EXPECT_FALSE(Pending());
  }
}

TEST(X11PipeSignalGuard, AThreadThatBlocksTheSignalItselfKeepsItsOwn) {
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  sigset_t old;
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &pipeSignal, &old), 0);
  {
    const PipeSignalGuard quiet;
    EXPECT_EQ(WriteToClosedPipe(), EPIPE);
  }
  EXPECT_TRUE(Blocked());
  EXPECT_TRUE(Pending()) << "the thread's own pending signal was taken";
  const timespec now{0, 0};
  EXPECT_EQ(sigtimedwait(&pipeSignal, nullptr, &now), SIGPIPE);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

}  // namespace
