// The graph window's shared state and the window backend seam.
//
// Two threads meet here while a window is open: the main thread draws and
// reads through the pixel routines, the window thread owns the window and
// repaints it.  What they share is this file's state, guarded by
// GraphDrawing; GraphRunning is also read outside the lock, so it is atomic.
#pragma once

#include <atomic>
#include <cstdint>

#include "graph/drawlock.h"

namespace graph {

extern DrawLock GraphDrawing;
// True while the window exists and the back buffer is valid; changed only
// under GraphDrawing.
extern std::atomic<bool> GraphRunning;

// The back buffer: Width × Height pixels, row after row, each pixel
// 0x00RRGGBB (the layout both X11 true-colour images and Windows DIB
// sections use, so a backend can blit it as it is).  Valid while
// GraphRunning is true.
struct Surface {
  uint32_t* Pixels = nullptr;
  int32_t Width = 0;
  int32_t Height = 0;
};
extern Surface BackBuffer;

// Where the drawing primitives write: the back buffer, the window, or both
// (the default).  Main-thread state; reading always uses the back buffer.
extern bool DrawToBitmap;
extern bool DrawToScreen;

// An RGB colour (red in the low byte) as a back-buffer pixel, and back.
constexpr uint32_t RGBToPixel(uint32_t rgb) {
  return ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
}
constexpr uint32_t PixelToRGB(uint32_t px) { return RGBToPixel(px & 0xFFFFFF); }

// The pixel level's own per-surface state, made and released with the
// surfaces under the lock.
void PixelMapsCreated(int32_t w, int32_t h);
void PixelMapsDestroyed();

// Window-thread side, called by backends.
// Creation: takes the lock, adopts `pixels` (w × h) as the back buffer,
// clears it to black and sets GraphRunning.  The backend clears its window.
void SurfacesCreated(uint32_t* pixels, int32_t w, int32_t h);
// Teardown: takes the lock, clears GraphRunning, releases the palette table
// and forgets the back buffer, whose memory the backend then frees.
void SurfacesDestroyed();

// The window's keyboard and mouse-button messages go to these when set, on
// the window thread, with Windows message numbers and parameters.
#if defined(_WIN32) && defined(__i386__)
#define AGG_WINAPI __attribute__((stdcall))
#else
#define AGG_WINAPI
#endif
using MessageHandler = int32_t(AGG_WINAPI*)(uintptr_t window, uint32_t msg, uint32_t wparam,
                                            int32_t lparam);
extern MessageHandler CharMessageHandler;
extern MessageHandler MouseMessageHandler;

// Main-thread side: the window half of the mode initialisation and of
// CloseGraph.
void WindowStart();
void WindowStop();

namespace backend {

// What the mode table is built from; see QueryAdapterInfo.
struct ScreenMeasures {
  int32_t ScreenWidth = 0, ScreenHeight = 0;  // the whole screen
  int32_t FrameWidth = 0, FrameHeight = 0;    // a sizable window's frame, each side
  int32_t CaptionHeight = 0;
  int32_t FullWidth = 0, FullHeight = 0;      // client area of a maximized window
};
ScreenMeasures QueryScreenMeasures();

// Starts the window thread, which makes a window with a client area of
// w × h (maximized when asked), runs SurfacesCreated from its creation and
// shows and paints it.  Returns true once that is done; false when the
// thread ended without a window, leaving no thread behind.
bool StartWindow(int32_t w, int32_t h, bool maximized);
// Straight onto the window; called on the main thread under the lock while
// GraphRunning is true.
void DrawPixel(int32_t x, int32_t y, uint32_t pixel);
void DrawHLine(int32_t x1, int32_t x2, int32_t y, uint32_t pixel);
// Posts a close request to the window thread; false when it could not.
bool PostClose();
// Waits for the window thread to end and releases it.
void JoinWindowThread();

}  // namespace backend
}  // namespace graph
