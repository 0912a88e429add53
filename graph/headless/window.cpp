// The headless window backend.  The window thread makes two memory
// surfaces, the back buffer and one standing for the window, and keeps them
// until a close request (from the window stop or the user) makes it tear
// them down and end.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include "graph/geometry.h"
#include "graph/headless/headless_window.h"
#include "runtime/procsvc.h"

namespace graph {
namespace {

enum class Phase { None, Starting, Open, Closing, Ended };

// What the main thread and the window thread hand over to each other.  Never
// destroyed, so a thread still parked at the process's end finds it intact.
struct WindowThreadState {
  std::mutex Mutex;
  std::condition_variable Changed;
  Phase Now = Phase::None;
  std::thread Thread;
};
WindowThreadState& State() {
  static auto* state = new WindowThreadState;
  return *state;
}

void SetPhase(Phase phase) {
  WindowThreadState& s = State();
  {
    std::lock_guard lock(s.Mutex);
    s.Now = phase;
  }
  s.Changed.notify_all();
}

// Marks a close request; false when there is no window to close.
bool RequestClose() {
  WindowThreadState& s = State();
  {
    std::lock_guard lock(s.Mutex);
    if (s.Now != Phase::Open) return false;
    s.Now = Phase::Closing;
  }
  s.Changed.notify_all();
  return true;
}

backend::ScreenMeasures Measures = DefaultScreenMeasures(kFallbackWidth, kFallbackHeight);
bool FailNext = false;
headless::StartLog Log;

// The window's client area; touched only under GraphDrawing while
// GraphRunning is true.
Surface Window;

uint32_t* WindowAt(int32_t x, int32_t y) {
  if (x < 0 || x >= Window.Width || y < 0 || y >= Window.Height) return nullptr;
  return &Window.Pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(Window.Width) +
                        static_cast<std::size_t>(x)];
}

void WindowThread(int32_t w, int32_t h, bool fail) {
  sys::os::PrepareThreadForFaults();
  if (!fail && w > 0 && h > 0) {
    // Surfaces that do not fit in memory make no window, as a system that
    // cannot make the window's bitmap fails its creation.
    const std::size_t count = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    std::unique_ptr<uint32_t[]> back(new (std::nothrow) uint32_t[count]());
    std::unique_ptr<uint32_t[]> window(back ? new (std::nothrow) uint32_t[count]() : nullptr);
    fail = !back || !window;
    if (!fail) {
      {
        std::lock_guard lock(GraphDrawing);
        Window = {window.get(), w, h};
        SurfacesCreated(back.get(), w, h);
      }
      SetPhase(Phase::Open);
      WindowThreadState& s = State();
      {
        std::unique_lock lock(s.Mutex);
        s.Changed.wait(lock, [&] { return s.Now == Phase::Closing; });
      }
      std::lock_guard lock(GraphDrawing);
      SurfacesDestroyed();
      Window = {};
    }
  }
  SetPhase(Phase::Ended);
}

}  // namespace

namespace backend {

ScreenMeasures QueryScreenMeasures() { return Measures; }

bool StartWindow(int32_t w, int32_t h, bool maximized) {
  WindowThreadState& s = State();
  // A window the user closed leaves its ended thread for this start.
  if (s.Thread.joinable()) s.Thread.join();
  ++Log.Starts;
  Log.Width = w;
  Log.Height = h;
  Log.Maximized = maximized;
  const bool fail = std::exchange(FailNext, false);
  SetPhase(Phase::Starting);
  s.Thread = std::thread(WindowThread, w, h, fail);
  std::unique_lock lock(s.Mutex);
  s.Changed.wait(lock, [&] { return s.Now != Phase::Starting; });
  if (s.Now != Phase::Ended) return true;
  lock.unlock();
  s.Thread.join();
  return false;
}

void DrawPixel(int32_t x, int32_t y, uint32_t pixel) {
  if (uint32_t* p = WindowAt(x, y)) *p = pixel;
}

void DrawHLine(int32_t x1, int32_t x2, int32_t y, uint32_t pixel) {
  for (int32_t x = x1; x <= x2; ++x) DrawPixel(x, y, pixel);
}

bool PostClose() { return RequestClose(); }

void JoinWindowThread() {
  WindowThreadState& s = State();
  // A run-time error on the window thread runs the exit procedures there;
  // it cannot wait for its own end, and the process ends soon after.
  if (s.Thread.joinable() && s.Thread.get_id() != std::this_thread::get_id()) s.Thread.join();
  SetPhase(Phase::None);
}

}  // namespace backend

namespace headless {

void SetScreenMeasures(const backend::ScreenMeasures& measures) { Measures = measures; }

void SetScreen(int32_t w, int32_t h) { Measures = DefaultScreenMeasures(w, h); }

void FailNextStart(bool fail) { FailNext = fail; }

bool WindowOpen() {
  WindowThreadState& s = State();
  std::lock_guard lock(s.Mutex);
  return s.Now == Phase::Open;
}

uint32_t WindowPixel(int32_t x, int32_t y) {
  std::lock_guard lock(GraphDrawing);
  const uint32_t* p = GraphRunning ? WindowAt(x, y) : nullptr;
  return p ? PixelToRGB(*p) : 0;
}

void UserClose() {
  if (!RequestClose()) return;
  WindowThreadState& s = State();
  std::unique_lock lock(s.Mutex);
  s.Changed.wait(lock, [&] { return s.Now == Phase::Ended; });
}

StartLog Starts() { return Log; }

}  // namespace headless
}  // namespace graph
