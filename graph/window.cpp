// The portable half of the graph window: the state both threads share, what
// the window thread runs when it makes and releases the surfaces, and the
// main thread's start and stop of the window.
#include "graph/window.h"

#include <algorithm>

#include "graph/graph.h"
#include "runtime/procsvc.h"

namespace graph {

DrawLock GraphDrawing;
std::atomic<bool> GraphRunning{false};
Surface BackBuffer;
bool DrawToBitmap = true;
bool DrawToScreen = true;
MessageHandler CharMessageHandler = nullptr;
MessageHandler MouseMessageHandler = nullptr;

namespace {

// True from a successful start until the stop has waited for the thread.
bool MessageThreadValid = false;

}  // namespace

void SurfacesCreated(uint32_t* pixels, int32_t w, int32_t h) {
  std::lock_guard lock(GraphDrawing);
  BackBuffer = {pixels, w, h};
  std::fill_n(pixels, static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0u);
  PixelMapsCreated(w, h);
  GraphRunning = true;
}

void SurfacesDestroyed() {
  std::lock_guard lock(GraphDrawing);
  GraphRunning = false;
  std::vector<RGBRec>().swap(Pal);
  PixelMapsDestroyed();
  BackBuffer = {};
}

void WindowStart() {
  // A window that still runs keeps its size, surfaces and palette.
  if (GraphRunning) return;
  const bool maximized = IsMaximizedMode(IntCurrentMode);
  // The thread that opens the window is the one that draws in it.
  GraphDrawing.BindDrawingThread();
  GraphRunning = false;
  if (!backend::StartWindow(MaxX + 1, MaxY + 1, maximized)) {
    _GraphResult = result::Failure;
    return;
  }
  MessageThreadValid = true;
}

void WindowStop() {
  // A post fails when the window has just gone; the thread then ends on its
  // own, so the wait below returns either way.
  if (GraphRunning && !backend::PostClose()) {
    sys::os::SleepMs(1);
    backend::PostClose();
  }
  if (MessageThreadValid) {
    MessageThreadValid = false;
    backend::JoinWindowThread();
  }
}

}  // namespace graph
