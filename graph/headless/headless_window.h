// The headless window backend: a real window thread whose window is a
// memory surface.  Tests and the headless runner choose the screen it
// reports and look at what reached the window through this interface.
#pragma once

#include <cstdint>

#include "graph/window.h"

namespace graph::headless {

// The measures QueryScreenMeasures reports from now on.
void SetScreenMeasures(const backend::ScreenMeasures& measures);
// A w × h screen with the default frame, caption and maximized client area
// of graph/geometry.h.  The backend starts out with its fallback screen,
// as SetScreen(1024, 768).
void SetScreen(int32_t w, int32_t h);
// Makes the next start's thread end before it makes a window, so that the
// start fails.
void FailNextStart(bool fail);

bool WindowOpen();
// The window's pixel as an RGB colour (red in the low byte); 0 when there
// is no window or the point is not on it.
uint32_t WindowPixel(int32_t x, int32_t y);
// The user's close box: the window thread tears the window down on its own.
// Returns once the window is gone; the thread is left for the next window
// stop to wait for, as the program goes on meanwhile.
void UserClose();

struct StartLog {
  int32_t Starts = 0;  // window starts asked for so far
  int32_t Width = 0;   // the size and kind of the last one
  int32_t Height = 0;
  bool Maximized = false;
};
StartLog Starts();

}  // namespace graph::headless
