#include "graph/drawlock.h"

#include <thread>

#include "runtime/procsvc.h"

namespace graph {

#if !(defined(_WIN32) && defined(__i386__))
constinit thread_local char DrawLock::threadMark_ = 0;
#endif

void DrawLock::BindDrawingThread() {
  if (bound_) return;
  std::lock_guard hold(other_);
  fenced_ = !sys::os::EnableProcessBarrier();
  bound_ = true;
  drawer_.store(CurrentThread(), std::memory_order_relaxed);
}

void DrawLock::EnterDrawingBehindOther() {
  drawing_.store(false, std::memory_order_release);
  other_.lock();
  viaMutex_ = true;
}

void DrawLock::LockOther() {
  other_.lock();
  if (otherDepth_++ > 0) return;
  otherWants_.store(true, std::memory_order_relaxed);
  if (fenced_) {
    std::atomic_thread_fence(std::memory_order_seq_cst);
  } else {
    sys::os::ProcessBarrier();
  }
  // The drawing thread's sections are short, and it never waits for this
  // thread while it holds the lock.
  while (drawing_.load(std::memory_order_acquire)) std::this_thread::yield();
}

void DrawLock::UnlockOther() {
  if (--otherDepth_ == 0) otherWants_.store(false, std::memory_order_release);
  other_.unlock();
}

}  // namespace graph
