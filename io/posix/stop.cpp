#include <signal.h>

#include <atomic>

#include "runtime/procsvc.h"
#include "io/outfile.h"
#include "io/stop.h"

namespace io {
namespace {

std::atomic<int> requested{0};
std::atomic<bool> atOnce{false};

void EndNow(int sig) {
  RemoveTemporaries();
  sys::os::RunProcessEndHooks();
  ::signal(sig, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(sig);
}

void Handler(int sig) {
  int none = 0;
  if (atOnce.load() || !requested.compare_exchange_strong(none, sig)) EndNow(sig);
}

}  // namespace

void CatchStopRequests() {
  struct sigaction sa{};
  sa.sa_handler = Handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    // A signal ignored by whoever started us (nohup, a background job)
    // stays ignored.
    struct sigaction current{};
    if (::sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    ::sigaction(sig, &sa, nullptr);
  }
  // Blocked by whoever started us, a stop would never be heard; one that
  // came while they were blocked is heard now.
  sigset_t stops;
  sigemptyset(&stops);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, sig);
  ::sigprocmask(SIG_UNBLOCK, &stops, nullptr);
}

int StopRequested() { return requested.load(std::memory_order_relaxed); }

void StopAtOnceFromNow() {
  atOnce.store(true);
}

}  // namespace io
