#include <windows.h>

#include <atomic>

#include "runtime/procsvc.h"
#include "io/outfile.h"
#include "io/stop.h"

namespace io {
namespace {

std::atomic<int> requested{0};
std::atomic<bool> atOnce{false};

int SignalOf(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT: return 2;
    case CTRL_BREAK_EVENT: return 2;
    case CTRL_CLOSE_EVENT: return 1;
    default: return 15;  // log-off, shut-down
  }
}

BOOL WINAPI Handler(DWORD event) {
  const int sig = SignalOf(event);
  int none = 0;
  // The console closing, or a second request, ends the process here and
  // now; a temporary still open is deleted once its handle goes.
  if (event == CTRL_CLOSE_EVENT || atOnce.load() || !requested.compare_exchange_strong(none, sig)) {
    RemoveTemporaries();
    sys::os::RunProcessEndHooks();
    ::ExitProcess(128 + static_cast<UINT>(sig));
  }
  return TRUE;
}

}  // namespace

void CatchStopRequests() { ::SetConsoleCtrlHandler(Handler, TRUE); }

int StopRequested() { return requested.load(std::memory_order_relaxed); }

void StopAtOnceFromNow() { atOnce.store(true); }

}  // namespace io
