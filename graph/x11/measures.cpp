#include "graph/x11/measures.h"

#include <algorithm>

namespace graph::x11 {

backend::ScreenMeasures FromReadings(const ScreenReadings& r) {
  backend::ScreenMeasures m;
  if (!r.Display) {
    m.ScreenWidth = kFallbackWidth;
    m.ScreenHeight = kFallbackHeight;
  } else {
    m.ScreenWidth = r.ScreenWidth;
    m.ScreenHeight = r.ScreenHeight;
  }
  const bool extents = r.Display && r.HasExtents;
  const FrameExtents& e = r.Extents;
  m.FrameWidth = extents ? std::max({e.Left, e.Right, 0}) : kDefaultFrame;
  m.FrameHeight = extents ? std::max(e.Bottom, 0) : kDefaultFrame;
  m.CaptionHeight = extents ? std::max(e.Top - e.Bottom, 0) : kDefaultCaption;

  const bool workArea = r.Display && r.HasWorkArea && r.WorkWidth > 0 && r.WorkHeight > 0;
  m.FullWidth = workArea ? r.WorkWidth : m.ScreenWidth;
  const int32_t height = workArea ? r.WorkHeight : m.ScreenHeight;
  int32_t loss = kDefaultMaximizedLoss;
  if (extents) {
    loss = std::max(e.Top - m.FrameWidth, 0);
  } else if (workArea) {
    loss = kDefaultCaption;
  }
  m.FullHeight = std::max(height - loss, 1);
  return m;
}

}  // namespace graph::x11
