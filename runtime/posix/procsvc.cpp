// Process services on POSIX systems.
#include "runtime/procsvc.h"

#include <fcntl.h>
#include <signal.h>

#include <cerrno>
#include <ctime>
#include <linux/membarrier.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace sys::os {

Handle GetStdHandle(StdHandleKind kind) {
  switch (kind) {
    case StdInputHandle: return STDIN_FILENO;
    case StdOutputHandle: return STDOUT_FILENO;
    case StdErrorHandle: return STDERR_FILENO;
  }
  return InvalidHandle;
}

void PrepareStandardHandles() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is this one.
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0 && null != fd) ::close(null);
  }
  ::signal(SIGPIPE, SIG_IGN);
}

int32_t WriteHandle(Handle h, const void* data, int32_t len) {
  for (;;) {
    ssize_t n = ::write(static_cast<int>(h), data, static_cast<size_t>(len));
    if (n >= 0) return static_cast<int32_t>(n);
    if (errno != EINTR) return -1;
  }
}

int32_t ReadHandle(Handle h, void* data, int32_t len) {
  for (;;) {
    ssize_t n = ::read(static_cast<int>(h), data, static_cast<size_t>(len));
    if (n >= 0) return static_cast<int32_t>(n);
    if (errno != EINTR) return -1;
  }
}

bool IsCharDevice(Handle h) {
  struct stat st;
  return ::fstat(static_cast<int>(h), &st) == 0 && S_ISCHR(st.st_mode);
}

bool IsTerminal(Handle h) { return ::isatty(static_cast<int>(h)) == 1; }

uint32_t TickCount() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                               static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

void SleepMs(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

double ThreadCpuSeconds() {
  timespec ts;
  if (::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) != 0) return 0;
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

bool EnableProcessBarrier() {
  return ::syscall(SYS_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
}

void ProcessBarrier() { ::syscall(SYS_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0); }

void ExitProcess(uint32_t code) {
  RunProcessEndHooks();
  ::_exit(static_cast<int>(code & 0xFF));
}

// The system call itself: the C library's thread exit would unwind the
// stack, which may be a fault's or run through code that cannot be
// unwound.  The kernel still wakes a thread that joins this one.
void EndThisThread() {
  for (;;) ::syscall(SYS_exit, 0);
}

}  // namespace sys::os
