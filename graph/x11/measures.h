// The screen measures of the mode table as an X server and its window
// manager describe them.
//
// What is read (QueryScreenMeasures, on a connection of its own):
// - the size of the default screen;
// - the frame a window manager puts round a normal window: the
//   _NET_FRAME_EXTENTS it sets on a window that asked for them with
//   _NET_REQUEST_FRAME_EXTENTS (left, right, top, bottom);
// - the work area, _NET_WORKAREA of the root window for the current desktop:
//   the screen less panels and docks.
// How they become the measures is FromReadings below.
#pragma once

#include <cstdint>

#include "graph/geometry.h"
#include "graph/window.h"

namespace graph::x11 {

struct FrameExtents {
  int32_t Left = 0, Right = 0, Top = 0, Bottom = 0;
};

struct ScreenReadings {
  bool Display = false;  // a display could be opened at all
  int32_t ScreenWidth = 0, ScreenHeight = 0;
  bool HasExtents = false;
  FrameExtents Extents;
  bool HasWorkArea = false;
  int32_t WorkWidth = 0, WorkHeight = 0;
};

// The defaults below are those of graph/geometry.h.
// - No display: a 1024 × 768 screen with the default frame and caption and
//   a maximized client area of 1024 × 719, so that the mode table exists.
// - Frame: the wider side extent is the frame's width, the bottom extent
//   its height, and what the top extent has beyond the bottom one is the
//   caption; without extents, frame 4 and caption 19.
// - Maximized client area: a maximized window keeps its caption but loses
//   its border, so it is the work area (else the screen) less the top
//   extent without the border (the top extent less the side one), or less
//   the default caption when the window manager published no extents; with
//   neither work area nor extents it is the screen less 49.
backend::ScreenMeasures FromReadings(const ScreenReadings& r);

}  // namespace graph::x11
