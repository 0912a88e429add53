// x11_startup_bench: on the display in DISPLAY, how long the graphics module
// takes from its initialisation (the screen query) and from InitGraph to
// the first pixel visible on the screen, and what one PutPixel and one
// GetPixel cost on a live window.
//
//   x11_startup_bench [rounds]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "graph/graph.h"
#include "graph/window.h"
#include "graph/x11/x11_window.h"
#include "runtime/system.h"

// After the module's headers: Xlib's macros would rename its names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  if (!std::getenv("DISPLAY")) {
    std::fprintf(stderr, "x11_startup_bench: no DISPLAY\n");
    return 2;
  }
  Display* probe = XOpenDisplay(nullptr);
  if (!probe) {
    std::fprintf(stderr, "x11_startup_bench: cannot open the display\n");
    return 2;
  }
  sys::InitSystemUnit();
  std::vector<double> query, open, visible;
  for (int r = 0; r < rounds; ++r) {
    const auto t0 = Clock::now();
    graph::InitializeGraph();
    const auto t1 = Clock::now();
    int16_t driver = 0, mode = 0;
    graph::DetectGraph(driver, mode);
    graph::InitGraph(driver, mode, "");
    graph::PutPixel(512, 384, 15);
    const auto t2 = Clock::now();
    if (graph::GraphResult() != 0) {
      std::fprintf(stderr, "x11_startup_bench: no window\n");
      return 1;
    }
    const Window w = graph::x11::WindowId();
    for (;;) {
      XImage* img = XGetImage(probe, w, 512, 384, 1, 1, AllPlanes, ZPixmap);
      const bool lit = img && (XGetPixel(img, 0, 0) & 0xFFFFFF) != 0;
      if (img) XDestroyImage(img);
      if (lit) break;
    }
    const auto t3 = Clock::now();
    query.push_back(Ms(t0, t1));
    open.push_back(Ms(t1, t2));
    visible.push_back(Ms(t1, t3));
    graph::CloseGraph();
    graph::GraphExitProc();
  }
  std::printf(
      "%d rounds, medians: screen query %.2f ms, InitGraph to return %.2f ms, "
      "InitGraph to first pixel on the screen %.2f ms\n",
      rounds, Median(query), Median(open), Median(visible));

  graph::InitializeGraph();
  int16_t driver = 0, mode = 0;
  graph::InitGraph(driver, mode, "");
  constexpr int kPixels = 200000;
  const auto p0 = Clock::now();
  for (int i = 0; i < kPixels; ++i)
    graph::PutPixel(static_cast<int16_t>(i % 1000), static_cast<int16_t>(i / 1000 % 700),
                    static_cast<uint16_t>(1 + i % 200));
  const auto p1 = Clock::now();
  uint32_t sum = 0;
  for (int i = 0; i < kPixels; ++i)
    sum += graph::GetPixel(static_cast<int16_t>(i % 1000), static_cast<int16_t>(i / 1000 % 700));
  const auto p2 = Clock::now();
  std::printf("PutPixel on the window %.2f us, GetPixel %.3f us (%s shared memory; check %u)\n",
              Ms(p0, p1) * 1000.0 / kPixels, Ms(p1, p2) * 1000.0 / kPixels,
              graph::x11::UsingSharedMemory() ? "with" : "without", sum % 7);
  graph::CloseGraph();
  XCloseDisplay(probe);
  return 0;
}
