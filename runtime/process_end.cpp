// What must run however the process ends (the terminal's restore, say):
// the same registry on every platform, run by its ExitProcess and its
// fault hooks.
#include <atomic>

#include "runtime/procsvc.h"

namespace sys::os {

namespace {

// Lock-free, so that a signal handler may take hooks while another thread
// adds one.
std::atomic<void (*)()> endHooks[kMaxProcessEndHooks];
static_assert(std::atomic<void (*)()>::is_always_lock_free);

}  // namespace

bool AtProcessEnd(void (*hook)()) {
  for (auto& slot : endHooks) {
    void (*empty)() = nullptr;
    if (slot.compare_exchange_strong(empty, hook)) return true;
  }
  return false;
}

void RunProcessEndHooks() {
  for (int i = kMaxProcessEndHooks - 1; i >= 0; --i)
    if (void (*hook)() = endHooks[i].exchange(nullptr)) hook();
}

}  // namespace sys::os
