// The drawing lock: re-entrant, and biased towards the thread that draws.
//
// The drawing thread takes the lock on every pixel it reads, millions of
// times a second; the window thread takes it only to make, repaint and
// release the surfaces.  So the drawing thread enters with a plain store
// and a plain load, and no atomic read-modify-write.  Any other thread pays
// instead: it announces itself, runs a process-wide barrier that makes the
// drawing thread's store visible, and waits until the drawing thread is
// out.  A drawing thread that finds another thread announced steps back and
// queues behind it on an ordinary mutex.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace graph {

class DrawLock {
 public:
  // Makes the calling thread this lock's drawing thread, for the lock's
  // life; later calls do nothing.  That thread must outlive its use of the
  // lock.
  void BindDrawingThread();

  void lock() {
    if (IsDrawer()) {
      if (depth_++ == 0) EnterDrawing();
    } else {
      LockOther();
    }
  }

  void unlock() {
    if (IsDrawer()) {
      if (--depth_ == 0) LeaveDrawing();
    } else {
      UnlockOther();
    }
  }

  // The drawing thread's way in for a short read, with no call at all: it
  // succeeds when the calling thread is the drawing thread, holds the lock
  // nowhere else, and no other thread wants it.  Otherwise it leaves the
  // lock as it was, and the caller takes lock().  UnlockShort ends it.
  bool TryLockShort() {
    if (!IsDrawer() || depth_ != 0) return false;
    drawing_.store(true, std::memory_order_relaxed);
    Fence();
    if (otherWants_.load(std::memory_order_acquire)) [[unlikely]] {
      drawing_.store(false, std::memory_order_release);
      return false;
    }
    return true;
  }
  void UnlockShort() { drawing_.store(false, std::memory_order_release); }

 private:
  // Orders the drawing thread's store of drawing_ before its load of
  // otherWants_.
  void Fence() const {
    if (fenced_) {
      std::atomic_thread_fence(std::memory_order_seq_cst);
    } else {
      // The other side's barrier does the hardware's part.
      std::atomic_signal_fence(std::memory_order_seq_cst);
    }
  }

  void EnterDrawing() {
    drawing_.store(true, std::memory_order_relaxed);
    Fence();
    if (otherWants_.load(std::memory_order_acquire)) [[unlikely]]
      EnterDrawingBehindOther();
  }

  void LeaveDrawing() {
    if (viaMutex_) [[unlikely]] {
      viaMutex_ = false;
      other_.unlock();
    } else {
      drawing_.store(false, std::memory_order_release);
    }
  }

  void EnterDrawingBehindOther();
  void LockOther();
  void UnlockOther();

  // The binding belongs to the lock: its drawing thread's identity,
  // compared with the calling thread's, 0 while unbound.  An identity is
  // an address no other live thread shares.
#if defined(_WIN32) && defined(__i386__)
  // MinGW's thread-locals cost a call; a thread's own information block,
  // whose address fs:0x18 holds, names the thread in one load.
  static uintptr_t CurrentThread() {
    uintptr_t block;
    asm("movl %%fs:0x18, %0" : "=r"(block));
    return block;
  }
#else
  // The address of a thread-local of one byte.
  static uintptr_t CurrentThread() { return reinterpret_cast<uintptr_t>(&threadMark_); }
  static constinit thread_local char threadMark_;
#endif
  bool IsDrawer() const { return drawer_.load(std::memory_order_relaxed) == CurrentThread(); }
  std::atomic<uintptr_t> drawer_{0};
  std::atomic<bool> drawing_{false};     // the drawing thread is inside
  std::atomic<bool> otherWants_{false};  // another thread is inside or about to be
  std::recursive_mutex other_;           // held by any thread but the drawer's fast path
  int depth_ = 0;                        // the drawing thread's nesting
  bool viaMutex_ = false;                // the drawing thread entered through other_
  int otherDepth_ = 0;                   // nesting of the thread holding other_
  bool bound_ = false;
  bool fenced_ = true;  // no process-wide barrier: both sides fence
};

}  // namespace graph
