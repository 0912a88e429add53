// Reading a 3 × 3 block of pixels at once, for a caller that probes the
// eight neighbours of a place: one short entry of the drawing lock for the
// block instead of one for each pixel, and plain reads of the read-back map.
// The answers are GetPixel's own; the block is read this way only when the
// GetPixel hook is the window driver's routine and every pixel of the block
// is one that routine would answer from the fresh map.  Otherwise Enter
// declines and the caller goes through the hook.
#pragma once

#include <cstddef>
#include <cstdint>

#include "graph/graph.h"
#include "graph/window.h"

namespace graph {

// The read-back map while it is fresh (a byte a back-buffer pixel, row after
// row), else null.  Changed only under GraphDrawing.
extern const uint8_t* FreshReadBack;

class BlockReader {
 public:
  // Takes the lock's short entry and answers true when the block around
  // (x, y), in viewport coordinates, can be read directly; Leave must then
  // follow.  False leaves the lock as it was.
  [[gnu::always_inline]] bool Enter(int32_t x, int32_t y) {
    if (GetPixel != GetPixel16Win32GUI) return false;
    // Screen coordinates; the block must lie on the surface, inside the
    // viewport when it clips, and its coordinates inside 16 bits, so that
    // the caller's checks of x ± 1 and y ± 1 cannot fail while it holds
    // the lock.  Origins are never negative, so no sum wraps.
    const int32_t sx = x + StartXViewPort, sy = y + StartYViewPort;
    int32_t loX = 1, loY = 1, hiX = MaxX - 1, hiY = MaxY - 1;
    if (ClipPixels) {
      loX = StartXViewPort + 1, hiX = StartXViewPort + ViewWidth - 1;
      loY = StartYViewPort + 1, hiY = StartYViewPort + ViewHeight - 1;
    }
    if (sx < loX || sx > hiX || sy < loY || sy > hiY || x <= INT16_MIN || x >= INT16_MAX || y <= INT16_MIN ||
        y >= INT16_MAX)
      return false;
    if (!GraphDrawing.TryLockShort()) return false;
    // The surface may be smaller than the mode says while a window of an
    // earlier mode still runs.
    if (!GraphRunning.load(std::memory_order_relaxed) || FreshReadBack == nullptr || sx + 1 >= BackBuffer.Width ||
        sy + 1 >= BackBuffer.Height) [[unlikely]] {
      GraphDrawing.UnlockShort();
      return false;
    }
    width_ = BackBuffer.Width;
    centre_ = FreshReadBack + static_cast<std::ptrdiff_t>(sy) * width_ + sx;
    return true;
  }

  // The pixel (dx, dy) from the block's centre, dx and dy in −1..1.
  [[gnu::always_inline]] uint16_t At(int32_t dx, int32_t dy) const {
    return centre_[static_cast<std::ptrdiff_t>(dy) * width_ + dx];
  }

  void Leave() { GraphDrawing.UnlockShort(); }

 private:
  const uint8_t* centre_ = nullptr;
  std::ptrdiff_t width_ = 0;
};

}  // namespace graph
