// The drawing lock keeps the drawing thread and any other thread apart,
// and lets each take it again while holding it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "graph/drawlock.h"

namespace {

TEST(GraphDrawLock, ExcludesOtherThreadsAndNests) {
  graph::DrawLock lock;
  lock.BindDrawingThread();
  // Plain memory, as the surfaces are: an overlap shows as a wrong owner.
  volatile int owner = 0;
  std::atomic<int> overlaps{0};
  std::atomic<bool> stop{false};
  auto section = [&](int me) {
    if (owner != 0) overlaps++;
    owner = me;
    for (int i = 0; i < 50; ++i)
      if (owner != me) overlaps++;
    owner = 0;
  };
  std::thread window([&] {
    while (!stop) {
      lock.lock();
      lock.lock();
      section(2);
      lock.unlock();
      lock.unlock();
    }
  });
  for (int i = 0; i < 200000; ++i) {
    lock.lock();
    section(1);
    lock.lock();  // the pixel routines nest
    section(1);
    lock.unlock();
    lock.unlock();
  }
  stop = true;
  window.join();
  EXPECT_EQ(overlaps.load(), 0);
}

// Each lock has a drawing thread of its own: two locks bound to two
// threads, each thread the drawer of one and an ordinary taker of the
// other.  Were the binding shared by the locks, each thread would take both
// by the drawer's way and the sections would overlap.
TEST(GraphDrawLock, TheDrawingThreadBelongsToTheLock) {
  graph::DrawLock first, second;
  first.BindDrawingThread();
  std::atomic<bool> secondBound{false};
  std::atomic<bool> stop{false};
  volatile int owner[2] = {0, 0};
  std::atomic<int> overlaps{0};
  std::atomic<int> shortEntries{0};
  auto section = [&](int which, int me) {
    if (owner[which] != 0) overlaps++;
    owner[which] = me;
    for (int i = 0; i < 50; ++i)
      if (owner[which] != me) overlaps++;
    owner[which] = 0;
  };
  std::thread other([&] {
    second.BindDrawingThread();
    secondBound = true;
    while (!stop) {
      if (first.TryLockShort()) shortEntries++;  // not this thread's lock
      second.lock();
      section(1, 2);
      second.unlock();
      first.lock();
      section(0, 2);
      first.unlock();
    }
  });
  while (!secondBound) std::this_thread::yield();
  for (int i = 0; i < 100000; ++i) {
    if (second.TryLockShort()) shortEntries++;
    first.lock();
    section(0, 1);
    first.unlock();
    second.lock();
    section(1, 1);
    second.unlock();
  }
  stop = true;
  other.join();
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(shortEntries.load(), 0) << "only a lock's own drawing thread takes the short way in";
  // Each thread does take the short way into its own lock.
  ASSERT_TRUE(first.TryLockShort());
  first.UnlockShort();
}

}  // namespace
