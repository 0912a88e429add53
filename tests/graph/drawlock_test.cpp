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

// The walk's way in: TryLockShort, falling back to lock() when it fails, as
// the pixel reads do, against a window thread taking the lock.  The two meet
// at a start line before each round.  In odd rounds the drawing thread
// tries while the window thread is inside, which waits for that try before
// it leaves; in even ones the drawing thread tries as the window thread
// sets off, a race either may win.
TEST(GraphDrawLock, TheShortWayInExcludesAContendingThread) {
  graph::DrawLock lock;
  lock.BindDrawingThread();
  constexpr int kRounds = 3000;
  volatile int owner = 0;
  std::atomic<int> overlaps{0};
  std::atomic<int> drawerAt{0}, windowAt{0}, asking{0}, entered{0}, tried{0};
  std::atomic<int> shortEntries{0};
  auto startLine = [](std::atomic<int>& mine, const std::atomic<int>& theirs, int round) {
    mine = round;
    while (theirs.load() < round) std::this_thread::yield();
  };
  auto waitFor = [](const std::atomic<int>& cue, int round) {
    while (cue.load() < round) std::this_thread::yield();
  };
  std::thread window([&] {
    for (int round = 1; round <= kRounds; ++round) {
      startLine(windowAt, drawerAt, round);
      asking = round;
      lock.lock();
      if (owner != 0) overlaps++;
      owner = 2;
      entered = round;
      if (round % 2) waitFor(tried, round);
      for (int i = 0; i < 500; ++i)
        if (owner != 2) overlaps++;
      owner = 0;
      lock.unlock();
    }
  });
  for (int round = 1; round <= kRounds; ++round) {
    startLine(drawerAt, windowAt, round);
    waitFor(round % 2 ? entered : asking, round);
    const bool in = lock.TryLockShort();
    tried = round;
    if (in) {
      shortEntries++;
    } else {
      lock.lock();
    }
    if (owner != 0) overlaps++;
    owner = 1;
    for (int i = 0; i < 20; ++i)
      if (owner != 1) overlaps++;
    owner = 0;
    if (in)
      lock.UnlockShort();
    else
      lock.unlock();
  }
  window.join();
  EXPECT_EQ(overlaps.load(), 0);
  // Half the rounds must go the long way; how the races of the others went
  // depends on the machine.
  EXPECT_LE(shortEntries.load(), kRounds / 2);
}

// Step by step, each step handed over between the two threads: while
// another thread holds the lock the short way in fails and leaves the lock
// as it was; once that thread is out, it succeeds again.
TEST(GraphDrawLock, TheShortWayInFailsWhileAnotherThreadHoldsTheLock) {
  graph::DrawLock lock;
  lock.BindDrawingThread();
  std::atomic<int> step{0};
  auto waitFor = [&](int s) {
    while (step.load() < s) std::this_thread::yield();
  };
  std::thread window([&] {
    lock.lock();
    step = 1;  // holds it
    waitFor(2);
    lock.unlock();
    step = 3;  // out
  });
  waitFor(1);
  EXPECT_FALSE(lock.TryLockShort()) << "taken while the window thread holds the lock";
  step = 2;
  // The failed attempt left nothing behind: the ordinary way in still
  // works once the window thread lets go.
  lock.lock();
  lock.unlock();
  waitFor(3);
  window.join();
  ASSERT_TRUE(lock.TryLockShort());
  lock.UnlockShort();
}

// And the other way round: a thread that asks for the lock while the
// drawing thread is inside by the short way waits until it is out.
TEST(GraphDrawLock, AnotherThreadWaitsForTheShortHolder) {
  graph::DrawLock lock;
  lock.BindDrawingThread();
  volatile int owner = 0;
  std::atomic<bool> asking{false};
  int seen = -1;
  ASSERT_TRUE(lock.TryLockShort());
  owner = 1;
  std::thread window([&] {
    asking = true;
    lock.lock();
    seen = owner;
    lock.unlock();
  });
  while (!asking) std::this_thread::yield();
  // Time for the window thread to get into lock(); how much it gets does
  // not matter: were it let in early, it would see the drawer's mark.
  for (int i = 0; i < 1000; ++i) std::this_thread::yield();
  owner = 0;
  lock.UnlockShort();
  window.join();
  EXPECT_EQ(seen, 0) << "the window thread got in while the drawing thread was inside";
}

}  // namespace
