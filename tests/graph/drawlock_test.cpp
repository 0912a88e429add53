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

}  // namespace
