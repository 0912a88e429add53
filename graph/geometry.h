// The window geometry assumed where no window system says otherwise: the
// headless window's screen, the X11 backend without a window manager's
// word or without a display at all, and the runner's surface estimate all
// take it from here.
#pragma once

#include <cstdint>

#include "graph/window.h"

namespace graph {

// A sizable window's frame on each side, and its caption.
inline constexpr int32_t kDefaultFrame = 4;
inline constexpr int32_t kDefaultCaption = 19;
// The rows a maximized window loses to its caption and a task bar.
inline constexpr int32_t kDefaultMaximizedLoss = 49;
// The screen assumed when there is none to ask.
inline constexpr int32_t kFallbackWidth = 1024;
inline constexpr int32_t kFallbackHeight = 768;

// A w × h screen with the default frame and caption and a maximized client
// area of w × (h − 49).
constexpr backend::ScreenMeasures DefaultScreenMeasures(int32_t w, int32_t h) {
  return {w, h, kDefaultFrame, kDefaultFrame, kDefaultCaption, w, h - kDefaultMaximizedLoss};
}

}  // namespace graph
